#pragma once

#include <QString>

// Keys of the settings file "auto_analyze.ini" (INI groups written group/key).
namespace SettingKeys {

inline const QString ProductKey = QStringLiteral("product_key/key");
inline const QString Environment = QStringLiteral("environment/environment");
inline const QString SoftVersion = QStringLiteral("setting/softver");
inline const QString HardVersion = QStringLiteral("setting/hardver");
inline const QString UploadTime = QStringLiteral("setting/uploadtime");
inline const QString OtaPiece = QStringLiteral("setting/otapiece");
inline const QString OtaType = QStringLiteral("setting/otatype");
inline const QString BindingTime = QStringLiteral("setting/bordingtime");
inline const QString ModuleType = QStringLiteral("setting/moduletype");

// The stored key that means "no product key entered yet".
inline const QString PlaceholderProductKey = QStringLiteral("10293847561029384756102938475610");

// Reply template for a reply code, e.g. 0x02 -> "Respond/02".
inline QString respondKey(int replyCode)
{
    return QStringLiteral("Respond/")
           + QString::number(replyCode & 0xFF, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// Two upper-case hex digits, the form every code takes inside a key.
inline QString hexCode(int value)
{
    return QString::number(value & 0xFF, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// Frames the command dialog sends to the module, stored whole as hex text
// ("Defaule" is how the settings file has always spelled the group).
inline const QString StoredTestMode = QStringLiteral("Defaule/413");      // 0x13 production test
inline const QString StoredBindingMode = QStringLiteral("Defaule/415");   // 0x15 binding mode
inline const QString StoredTimeRequest = QStringLiteral("Defaule/417");   // 0x17 network time
inline const QString StoredFirmwareReady = QStringLiteral("Defaule/41B"); // 0x1B body, no checksum
inline const QString StoredSoftAp = QStringLiteral("Defaule/491");        // 0x09 mode 01
inline const QString StoredAirLink = QStringLiteral("Defaule/492");       // 0x09 mode 02
inline const QString StoredReset = QStringLiteral("Defaule/4B");          // 0x0B module reset

// Description texts of the frame describer.
inline QString commandDescriptionKey(const QString &suffix)
{
    return QStringLiteral("cmd/") + suffix;
}
inline QString setModeKey(int mode)
{
    return QStringLiteral("setmode/") + hexCode(mode);
}
inline QString connectKey(int state)
{
    return QStringLiteral("connect/") + hexCode(state);
}
inline QString wifiStateKey(int state)
{
    return QStringLiteral("wifistate/") + hexCode(state);
}
inline QString hasConnectKey(int flag)
{
    return QStringLiteral("hasconnect/") + hexCode(flag);
}

} // namespace SettingKeys
