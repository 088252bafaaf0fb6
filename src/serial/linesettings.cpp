#include "serial/linesettings.h"

#include <QStringList>

namespace LineSettings {

bool parse(const QString &baud, const QString &dataBits, const QString &stopBits,
           const QString &parity, Settings *settings, QString *problem)
{
    bool ok = false;
    const int rate = baud.toInt(&ok);
    if (!ok || rate < 50 || rate > 4000000) {
        *problem = QStringLiteral("not a baud rate: %1").arg(baud);
        return false;
    }
    const int bits = dataBits.toInt(&ok);
    if (!ok || bits < 5 || bits > 8) {
        *problem = QStringLiteral("data bits must be 5, 6, 7 or 8: %1").arg(dataBits);
        return false;
    }
    const int stop
        = QStringList{QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")}.indexOf(
            stopBits.trimmed());
    if (stop < 0) {
        *problem = QStringLiteral("stop bits must be 1, 1.5 or 2: %1").arg(stopBits);
        return false;
    }
    const int par = QStringList{QStringLiteral("none"), QStringLiteral("odd"),
                                QStringLiteral("even"), QStringLiteral("space")}
                        .indexOf(parity.trimmed().toLower());
    if (par < 0) {
        *problem = QStringLiteral("parity must be none, odd, even or space: %1").arg(parity);
        return false;
    }
    settings->baud = rate;
    settings->dataBitsIndex = bits - 5;
    settings->stopBitsIndex = stop;
    settings->parityIndex = par;
    return true;
}

} // namespace LineSettings
