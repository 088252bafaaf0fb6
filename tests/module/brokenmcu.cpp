// SPDX-License-Identifier: GPL-3.0-or-later
// brokenmcu: a small MCU for the tests of lumo-module. It answers every
// request of the module correctly (product information, control commands and
// status reads from a data-point definition, plain acknowledgements, the
// firmware transfer with its own 0x1B frame) except the ones it is told to
// get wrong: one code answered late, one with a wrong sequence number, one
// with a bad checksum, one sent without its FF 55 escapes. A request whose
// checksum is wrong is dropped, unless --corrupt answer has it answered and
// applied like a good one, or --corrupt apply has it applied unanswered.
//
//   brokenmcu --port PATH --definition FILE [--product-key KEY]
//             [--late CODE --delay MS] [--wrong-sequence CODE] [--bad-checksum CODE]
//             [--unescaped CODE] [--corrupt answer|apply]
#include "datapoint/datapointdefinition.h"
#include "datapoint/datapointvalues.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/serialline.h"
#include "serial/zemserialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr int PieceSize = 64;

int code(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 16);
    return ok ? value : -1;
}

QByteArray makeReply(int command, int sequence, const QByteArray &payload = QByteArray())
{
    QByteArray f("\xFF\xFF", 2);
    f.append(ZemTool::numberToBytes(quint32(payload.size() + Frame::MinLength), 2));
    f.append(char(command)).append(char(sequence)).append(2, '\0').append(payload).append('\0');
    ZemTool::setFrameChecksum(f);
    return f;
}

QByteArray productInfo(int sequence, const QByteArray &key)
{
    QByteArray p("00000004000000040000000100000001");
    p.append(key.leftJustified(Frame::ProductKeyWidth, '0', true));
    p.append(2, '\0'); // binding time
    return makeReply(0x02, sequence, p);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The status report writes each frame to the debug log; the tests read
    // nothing from this program's output.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QCommandLineParser parser;
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("port"),
                                  QStringLiteral("path"));
    const QCommandLineOption definition(QStringLiteral("definition"), QStringLiteral("json"),
                                        QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("product-key"), QStringLiteral("key"),
                                 QStringLiteral("key"), QStringLiteral("0").repeated(32));
    const QCommandLineOption late(QStringLiteral("late"), QStringLiteral("code"),
                                  QStringLiteral("hex"));
    const QCommandLineOption delay(QStringLiteral("delay"), QStringLiteral("ms"),
                                   QStringLiteral("ms"), QStringLiteral("700"));
    const QCommandLineOption wrongSequence(QStringLiteral("wrong-sequence"), QStringLiteral("code"),
                                           QStringLiteral("hex"));
    const QCommandLineOption badChecksum(QStringLiteral("bad-checksum"), QStringLiteral("code"),
                                         QStringLiteral("hex"));
    const QCommandLineOption unescaped(QStringLiteral("unescaped"), QStringLiteral("code"),
                                       QStringLiteral("hex"));
    const QCommandLineOption corrupt(QStringLiteral("corrupt"), QStringLiteral("mode"),
                                     QStringLiteral("mode"));
    parser.addOptions(
        {port, definition, key, late, delay, wrongSequence, badChecksum, unescaped, corrupt});
    parser.process(app);

    QFile file(parser.value(definition));
    if (!file.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "brokenmcu: cannot read the definition\n";
        return 2;
    }
    DataPointValues values(
        DataPointDefinition::fromJson(QJsonDocument::fromJson(file.readAll()).object()));
    const QByteArray productKey = parser.value(key).toLatin1();
    const int lateCode = code(parser.value(late));
    const int delayMs = parser.value(delay).toInt();
    const int wrongSequenceCode = code(parser.value(wrongSequence));
    const int badChecksumCode = code(parser.value(badChecksum));
    const int unescapedCode = code(parser.value(unescaped));
    const QString corruptMode = parser.value(corrupt);

    SerialLine serial;
    serial.port()->setAcceptUnlisted(true);
    if (!serial.openLine(parser.value(port), LineSettings::Settings())) {
        QTextStream(stderr) << "brokenmcu: cannot open the port\n";
        return 2;
    }
    QObject::connect(&serial, &Line::Lost, &app, [&app] { app.exit(1); });
    QTextStream(stdout) << "ready" << Qt::endl; // the test starts the module after this
    ZemFramer framer;
    QObject::connect(&serial, &Line::DataReady, &framer, &ZemFramer::dataToV4);

    QObject::connect(&framer, &ZemFramer::LineDataReady, &app, [&](const QByteArray &request) {
        const int command = Frame::commandCode(request);
        const int sequence = Frame::sequence(request);
        if (command < 0 || command % 2 == 0)
            return; // the module's replies to our own frames
        if (quint8(request.back()) != ZemTool::frameChecksum(request)) {
            if (corruptMode == QLatin1String("apply") && Frame::isControlCommand(request))
                values.applyControl(request);
            if (corruptMode != QLatin1String("answer"))
                return;
        }
        QByteArray reply;
        QByteArray after; // a frame of our own that follows the reply
        if (Frame::isCommand(request, Frame::Command::ProductInfo)) {
            reply = productInfo(sequence, productKey);
        } else if (Frame::isStatusRead(request)) {
            reply = values.statusReport();
            reply[Frame::CommandOffset] = char(Frame::Command::StatusReply);
            reply[Frame::SequenceOffset] = char(sequence);
            reply[Frame::ActionOffset] = char(Frame::StatusAction::Answer);
            ZemTool::setFrameChecksum(reply);
        } else if (Frame::isControlCommand(request)) {
            values.applyControl(request);
            reply = makeReply(command + 1, sequence);
        } else if (Frame::isCommand(request, Frame::Command::FirmwareStart)) {
            reply = makeReply(command + 1, sequence);
            const int n = ZemTool::word16(request, Frame::FirmwareCountOffset);
            QByteArray p = request.mid(Frame::FirmwareCountOffset, 2 + n);
            p.append(ZemTool::numberToBytes(PieceSize, 2));
            after = makeReply(0x1B, 0x01, p);
        } else {
            reply = makeReply(command + 1, sequence);
        }
        if (command == wrongSequenceCode) {
            reply[Frame::SequenceOffset] = char(sequence + 1);
            ZemTool::setFrameChecksum(reply);
        }
        if (command == badChecksumCode)
            reply[reply.size() - 1] = char(quint8(reply.at(reply.size() - 1)) ^ 0x5A);
        QByteArray wire = command == unescapedCode ? reply : ZemTool::escape(reply);
        if (!after.isEmpty())
            wire.append(ZemTool::escape(after));
        if (command == lateCode)
            QTimer::singleShot(delayMs, &serial, [&serial, wire] { serial.send(wire); });
        else
            serial.send(wire);
    });
    return app.exec();
}
