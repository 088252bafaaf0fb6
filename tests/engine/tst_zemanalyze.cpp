// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic responder: replies built from the shipped templates, firmware
// reception into files, and the product-key check.
#include "testsupport.h"

#include "engine/zemanalyze.h"
#include "engine/zemfirmware.h"
#include "engine/zemreply.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

QByteArray firmwareStart(int sequence, const QByteArray &field)
{
    QByteArray payload(4, '\0'); // offsets 8..11
    payload.append(ZemTool::numberToBytes(quint32(field.size()), 2));
    payload.append(field);
    return makeFrame(0x19, sequence, payload);
}

QByteArray firmwarePiece(int sequence, int number, const QByteArray &data)
{
    QByteArray payload = ZemTool::numberToBytes(quint32(number), 2);
    payload.append(hex("0000")); // offsets 10..11
    payload.append(data);
    return makeFrame(0x1D, sequence, payload);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

// The value of group/key as the INI text on disk has it, quotes removed.
QString iniValue(const QString &text, const QString &group, const QString &key)
{
    bool inGroup = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        if (inGroup && line.startsWith(key + QLatin1Char('='))) {
            QString value = line.mid(key.size() + 1);
            if (value.size() >= 2 && value.startsWith(QLatin1Char('"'))
                && value.endsWith(QLatin1Char('"')))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return QStringLiteral("<absent>");
}

bool checksumOk(const QByteArray &frame)
{
    return frame.size() >= 9 && quint8(frame.back()) == ZemTool::frameChecksum(frame);
}

// A program folder with the shipped settings, the shared tool, a framer fed
// by hand and the responder on it.
struct Rig
{
    TestRoot root;
    ZemTool tool;
    ZemFramer framer; // fed by hand
    ZemAnalyze analyze{&framer, &tool};
    QList<QByteArray> replies;

    Rig()
    {
        QObject::connect(&analyze, &ZemAnalyze::RespondReady,
                         [this](const QByteArray &r) { replies.append(r); });
    }
    // Sends a request the way it arrives: escaped, through the framer.
    QByteArray ask(const QByteArray &request)
    {
        const int before = replies.size();
        framer.dataToV4(ZemTool::escape(request));
        return replies.size() == before + 1 ? replies.last() : QByteArray("<no single reply>");
    }
    QString bin() const { return root.file(QStringLiteral("bin/mcu.bin")); }
    QString hexFile() const { return root.file(QStringLiteral("bin/mcu.hex")); }
};

const char *const SampleKey = "5d1c7a90e4b3f2068a9c1e7d3b5f0a24";

} // namespace

class TestZemAnalyze : public QObject
{
    Q_OBJECT
private slots:
    void missingFramerIsReported();
    void everyRequestIsAnswered_data();
    void everyRequestIsAnswered();
    void productInformationIsPatched_data();
    void productInformationIsPatched();
    void versionTextsFillTheirFieldsExactly_data();
    void versionTextsFillTheirFieldsExactly();
    void statusReadAndControl();
    void statusAnswerCarriesTheReport_data();
    void statusAnswerCarriesTheReport();
    void firmwareRequestFrame_data();
    void firmwareRequestFrame();
    void unansweredCodes_data();
    void unansweredCodes();
    void shortRequestsAndTemplatesGetNoReply_data();
    void shortRequestsAndTemplatesGetNoReply();
    void firmwareArrivesByteExact_data();
    void firmwareArrivesByteExact();
    void firmwareStartKeepsFieldsAndEmptiesFiles();
    void firmwareFolderIsCreated();
    void firmwareStartWithoutWritableFilesIsNotAcknowledged_data();
    void firmwareStartWithoutWritableFilesIsNotAcknowledged();
    void firmwareTypeIsReadForEachPiece();
    void unwritablePieceIsNotAcknowledged();
    void productKeyForms_data();
    void productKeyForms();
    void productKeyReachesReplies();
    void requestOverSerialLineIsAnswered();
};

void TestZemAnalyze::missingFramerIsReported()
{
    TestRoot root;
    ZemTool tool;
    QTest::ignoreMessage(QtDebugMsg, "error ZemFramer");
    ZemAnalyze analyze(nullptr, &tool);
    // Still usable by hand.
    QSignalSpy spy(&analyze, &ZemAnalyze::RespondReady);
    analyze.FindRespond(makeFrame(0x07, 3));
    QCOMPARE(spy.count(), 1);
}

void TestZemAnalyze::everyRequestIsAnswered_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("01 product info") << 0x01 << QByteArray();
    QTest::newRow("03 control") << 0x03 << hex("01 00 01");
    QTest::newRow("07 heartbeat") << 0x07 << QByteArray();
    QTest::newRow("0D wifi status") << 0x0D << hex("0B 21");
    QTest::newRow("0F restart") << 0x0F << QByteArray();
    QTest::newRow("11 illegal frame") << 0x11 << hex("01");
    QTest::newRow("13 test mode") << 0x13 << QByteArray();
    QTest::newRow("15 binding") << 0x15 << QByteArray();
    QTest::newRow("19 firmware start") << 0x19 << hex("00000000 0002 ABCD");
    QTest::newRow("1D firmware piece") << 0x1D << hex("0000 0000 0102");
    QTest::newRow("1F") << 0x1F << QByteArray();
}

void TestZemAnalyze::everyRequestIsAnswered()
{
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    Rig rig;
    for (const int sequence : {0x00, 0x2A, 0xFF}) {
        const QByteArray reply = rig.ask(makeFrame(command, sequence, payload));
        QVERIFY2(reply.size() >= 9, reply.toHex(' ').constData());
        QCOMPARE(reply.left(2), hex("FFFF"));
        QCOMPARE(ZemTool::word16(reply, 2), reply.size() - 4);
        QCOMPARE(ZemTool::byteValue(reply, 4), command + 1);
        QCOMPARE(ZemTool::byteValue(reply, 5), sequence);
        QVERIFY(checksumOk(reply));
        if (command != 0x01) {
            // Only the sequence number and checksum differ from the template.
            QByteArray expected = rig.tool.readSettingHex(SettingKeys::respondKey(command + 1));
            expected[5] = char(sequence);
            ZemTool::setFrameChecksum(expected);
            QCOMPARE(reply, expected);
            QCOMPARE(reply.size(), 9);
        }
    }
}

void TestZemAnalyze::productInformationIsPatched_data()
{
    QTest::addColumn<QString>("moduleType");
    QTest::addColumn<QString>("binding");
    QTest::addColumn<int>("expectedBinding");
    QTest::newRow("normal") << "normal"
                            << "42" << 42;
    QTest::newRow("central") << "central"
                             << "99" << 99;
    QTest::newRow("binding not a number") << "normal"
                                          << "abc" << 0;
    QTest::newRow("binding above 16 bits") << "normal"
                                           << "70000" << 0xFFFF;
    QTest::newRow("Central is not central") << "Central"
                                            << "1" << 1;
}

void TestZemAnalyze::productInformationIsPatched()
{
    QFETCH(QString, moduleType);
    QFETCH(QString, binding);
    QFETCH(int, expectedBinding);
    Rig rig;
    rig.tool.writeSetting(SettingKeys::HardVersion, QStringLiteral("HW-1.2.3"));
    rig.tool.writeSetting(SettingKeys::SoftVersion, QStringLiteral("SW-4.5.6"));
    rig.tool.writeSetting(SettingKeys::BindingTime, binding);
    rig.tool.writeSetting(SettingKeys::ModuleType, moduleType);
    const QByteArray stored = rig.tool.readSettingHex(SettingKeys::respondKey(0x02));
    QCOMPARE(stored.size(), 75);

    const QByteArray reply = rig.ask(makeFrame(0x01, 0x2A));
    const bool central = moduleType == QLatin1String("central");
    QCOMPARE(reply.size(), central ? 83 : 75);
    QCOMPARE(ZemTool::word16(reply, 2), central ? 0x4F : 0x47);
    QCOMPARE(ZemTool::byteValue(reply, 4), 0x02);
    QCOMPARE(ZemTool::byteValue(reply, 5), 0x2A);
    QCOMPARE(reply.mid(6, 18), stored.mid(6, 18)); // flags and both protocol versions
    QCOMPARE(reply.mid(8, 16), QByteArray("0000000400000004"));
    QCOMPARE(reply.mid(24, 8), QByteArray("HW-1.2.3"));
    QCOMPARE(reply.mid(32, 8), QByteArray("SW-4.5.6"));
    QCOMPARE(reply.mid(40, 32), QByteArray("10293847561029384756102938475610"));
    QCOMPARE(ZemTool::word16(reply, 72), expectedBinding);
    if (central)
        QCOMPARE(reply.mid(74, 8), hex("00 00 00 00 00 00 00 01"));
    QVERIFY(checksumOk(reply));
}

void TestZemAnalyze::versionTextsFillTheirFieldsExactly_data()
{
    QTest::addColumn<QString>("hardver");
    QTest::addColumn<QString>("softver");
    QTest::addColumn<QByteArray>("hardField");
    QTest::addColumn<QByteArray>("softField");
    // The shipped template holds "00000001" in both fields: none of it may
    // show through a shorter version.
    QTest::newRow("short texts padded with blanks")
        << "V1"
        << "1.0.2" << QByteArray("V1      ") << QByteArray("1.0.2   ");
    QTest::newRow("too long: cut, never spilling into the next field")
        << "ABCDEFGHIJKL"
        << "123456789" << QByteArray("ABCDEFGH") << QByteArray("12345678");
    QTest::newRow("missing or empty") << ""
                                      << " " << QByteArray(8, ' ') << QByteArray(8, ' ');
    QTest::newRow("non-ASCII: one byte per character")
        << QString::fromUtf8("硬件V1") << QString::fromUtf8("v1.0.\u00e9\u00e9\u00e9\u00e9")
        << QByteArray("??V1    ") << QByteArray("v1.0.???");
    QTest::newRow("character outside the BMP, control characters")
        << QString::fromUcs4(U"\U0001F600"
                             U"1234567890")
        << QStringLiteral("a\tb\x7f") << QByteArray("?1234567") << QByteArray("a?b?    ");
}

void TestZemAnalyze::versionTextsFillTheirFieldsExactly()
{
    QFETCH(QString, hardver);
    QFETCH(QString, softver);
    QFETCH(QByteArray, hardField);
    QFETCH(QByteArray, softField);
    Rig rig;
    rig.tool.writeSetting(SettingKeys::HardVersion, hardver);
    rig.tool.writeSetting(SettingKeys::SoftVersion, softver);
    const QByteArray reply = rig.ask(makeFrame(0x01, 1));
    QCOMPARE(reply.size(), 75);
    QCOMPARE(reply.mid(24, 8), hardField);
    QCOMPARE(reply.mid(32, 8), softField);
    QCOMPARE(reply.mid(40, 32), QByteArray("10293847561029384756102938475610"));
    QVERIFY(checksumOk(reply));
}

void TestZemAnalyze::statusReadAndControl()
{
    Rig rig;
    // Status read: 03 at offset 8; without a status source no values.
    const QByteArray status = rig.ask(makeFrame(0x03, 0x11, hex("02")));
    QCOMPARE(ZemTool::byteValue(status, 4), 0x04);
    QCOMPARE(ZemTool::byteValue(status, 5), 0x11);
    QCOMPARE(ZemTool::byteValue(status, 8), 0x03);
    // The action byte is payload, not the checksum place of the plain ack.
    QCOMPARE(status.size(), 10);
    QCOMPARE(ZemTool::word16(status, 2), 6);

    // Control: the plain acknowledgement, length 5.
    const QByteArray ack = rig.ask(makeFrame(0x03, 0x12, hex("01 01 01")));
    QCOMPARE(ack, hex("FF FF 00 05 04 12 00 00 1B"));

    // A payload-less 0x03 whose checksum happens to be 02 is no status read.
    const QByteArray bare = rig.ask(makeFrame(0x03, 0xFA));
    QCOMPARE(ZemTool::byteValue(makeFrame(0x03, 0xFA), 8), 0x02);
    QCOMPARE(bare, hex("FF FF 00 05 04 FA 00 00 03"));
}

void TestZemAnalyze::statusAnswerCarriesTheReport_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QByteArray>("sent");
    // A report of two value bytes, 01 02, as the table builds it.
    const QByteArray report = hex("FF FF 00 08 05 00 00 00 04 01 02 14");
    QTest::newRow("status answer: the report, as 04 with the answer's sequence")
        << hex("FF FF 00 06 04 2A 00 00 03") + QByteArray(1, '\0') << report
        << hex("FF FF 00 08 04 2A 00 00 03 01 02 3C");
    QTest::newRow("sequence FF, checksum over it") << hex("FF FF 00 06 04 FF 00 00 03 00") << report
                                                   << hex("FF FF 00 08 04 FF 00 00 03 01 02 11");
    QTest::newRow("plain acknowledgement whose checksum is 03: as it came")
        << hex("FF FF 00 05 04 FA 00 00 03") << report << hex("FF FF 00 05 04 FA 00 00 03");
    QTest::newRow("another command with 03 at offset 8: as it came")
        << hex("FF FF 00 06 08 01 00 00 03 12") << report << hex("FF FF 00 06 08 01 00 00 03 12");
    QTest::newRow("status reply with another action: as it came")
        << hex("FF FF 00 06 04 01 00 00 04 0F") << report << hex("FF FF 00 06 04 01 00 00 04 0F");
    QTest::newRow("cut before its payload: as it came")
        << hex("FF FF 00 06 04") << report << hex("FF FF 00 06 04");
    QTest::newRow("report without values: the action still goes in")
        << hex("FF FF 00 06 04 07 00 00 03 00") << hex("FF FF 00 06 05 00 00 00 04 0F")
        << hex("FF FF 00 06 04 07 00 00 03 14");
    QTest::newRow("report too short for an action: unchanged")
        << hex("FF FF 00 06 04 07 00 00 03 00") << hex("FF FF 00 05 05") << hex("FF FF 00 05 05");
}

void TestZemAnalyze::statusAnswerCarriesTheReport()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, report);
    QFETCH(QByteArray, sent);
    QCOMPARE(ZemReply::statusAnswer(reply, report), sent);
}

void TestZemAnalyze::firmwareRequestFrame_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("count");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<bool>("hexTransfer");
    QTest::addColumn<QByteArray>("frame"); // empty: no request
    const QByteArray body = hex("FF FF 00 09 1B 00 00 00");
    QTest::newRow("no announcement yet, bin") << body << QByteArray() << QByteArray() << 64 << false
                                              << hex("FF FF 00 07 1B 00 00 00 00 40 62");
    QTest::newRow("count and field, hex") << body << hex("00 02") << hex("AB CD") << 256 << true
                                          << hex("FF FF 00 0B 1B 00 00 01 00 02 AB CD 01 00 A2");
    QTest::newRow("field holding FF, unescaped here")
        << body << hex("00 01") << hex("FF") << 1 << false
        << hex("FF FF 00 0A 1B 00 00 00 00 01 FF 00 01 26");
    QTest::newRow("piece size capped below a length of FF00")
        << body << QByteArray() << QByteArray() << 65535 << false
        << hex("FF FF 00 07 1B 00 00 00 FE F2 12");
    QTest::newRow("negative piece size: 0") << body << QByteArray() << QByteArray() << -5 << false
                                            << hex("FF FF 00 07 1B 00 00 00 00 00 22");
    QTest::newRow("a body longer than header and flags keeps its bytes")
        << hex("FF FF 00 00 1B 05 00 00 77") << QByteArray() << QByteArray() << 16 << false
        << hex("FF FF 00 08 1B 05 00 00 77 00 10 AF");
    QTest::newRow("body cut before the flags") << hex("FF FF 00 09 1B 00 00") << QByteArray()
                                               << QByteArray() << 64 << false << QByteArray();
    QTest::newRow("empty body") << QByteArray() << hex("00 01") << hex("01") << 64 << true
                                << QByteArray();
    QTest::newRow("fields beyond a 16-bit length")
        << body << hex("FF FA") << QByteArray(0xFFFA, '\x11') << 64 << false << QByteArray();
}

void TestZemAnalyze::firmwareRequestFrame()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, count);
    QFETCH(QByteArray, field);
    QFETCH(int, pieceSize);
    QFETCH(bool, hexTransfer);
    QFETCH(QByteArray, frame);
    const QByteArray built = ZemFirmware::requestFrame(body, count, field, pieceSize, hexTransfer);
    QCOMPARE(built, frame);
    if (!built.isEmpty()) {
        QCOMPARE(ZemTool::word16(built, 2), built.size() - 4);
        QVERIFY(checksumOk(built));
    }
}

void TestZemAnalyze::unansweredCodes_data()
{
    QTest::addColumn<int>("command");
    // Replies, the MCU's own requests and codes outside the table.
    const QSet<int> answered = {0x01, 0x03, 0x07, 0x0D, 0x0F, 0x11, 0x13, 0x15, 0x19, 0x1D, 0x1F};
    for (int c = 0x00; c <= 0x21; ++c)
        if (!answered.contains(c))
            QTest::newRow(qPrintable(QString::number(c, 16))) << c;
    QTest::newRow("ff") << 0xFF;
}

void TestZemAnalyze::unansweredCodes()
{
    QFETCH(int, command);
    Rig rig;
    rig.framer.dataToV4(makeFrame(command, 1, hex("01 02")));
    QVERIFY(rig.replies.isEmpty());
}

void TestZemAnalyze::shortRequestsAndTemplatesGetNoReply_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("templateKey");
    QTest::addColumn<QString>("templateHex");
    QTest::addColumn<QString>("debugLine");
    const QString none;
    QTest::newRow("no sequence byte")
        << hex("FF FF 00 01 07") << none << none << "request too short";
    QTest::newRow("firmware start without count")
        << makeFrame(0x19, 1, hex("00 00 00 00 00")) << none << none << "request too short";
    QTest::newRow("firmware count beyond frame")
        << makeFrame(0x19, 1, hex("00 00 00 00 00 05 AA BB")) << none << none
        << "request too short";
    QTest::newRow("firmware count reaching the checksum")
        << makeFrame(0x19, 1, hex("00 00 00 00 00 03 AA BB")).left(16) << none << none
        << "request too short";
    QByteArray damagedStart = makeFrame(0x19, 1, hex("00 00 00 00 00 02 AA BB"));
    damagedStart[damagedStart.size() - 1] = char(damagedStart.at(damagedStart.size() - 1) + 1);
    QTest::newRow("firmware start with a wrong checksum")
        << damagedStart << none << none << "wrong checksum";
    QTest::newRow("piece without data offset")
        << makeFrame(0x1D, 1, hex("00 01 00")) << none << none << "request too short";
    QTest::newRow("product template without binding time")
        << makeFrame(0x01, 1) << "Respond/02"
        << QString(QStringLiteral("FF FF 00 47 02 00 00 00 ") + QStringLiteral("30 ").repeated(64))
        << "template too short";
    QTest::newRow("template of two bytes") << makeFrame(0x07, 1) << "Respond/08"
                                           << "FF FF"
                                           << "template too short";
    QTest::newRow("empty template") << makeFrame(0x0F, 1) << "Respond/10"
                                    << ""
                                    << "template too short";
    QTest::newRow("status template too short") << makeFrame(0x03, 1, hex("02")) << "Respond/04"
                                               << "FF FF 00 05 04 00 00 00"
                                               << "template too short";
}

void TestZemAnalyze::shortRequestsAndTemplatesGetNoReply()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, templateKey);
    QFETCH(QString, templateHex);
    QFETCH(QString, debugLine);
    Rig rig;
    if (!templateKey.isEmpty())
        rig.tool.writeSetting(templateKey, templateHex);
    const QByteArray before = readFile(rig.bin());

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(debugLine)));
    rig.analyze.FindRespond(request);
    QVERIFY(rig.replies.isEmpty());
    // Nothing of the firmware state moved either.
    QVERIFY(rig.analyze.otaCount().isEmpty());
    QVERIFY(rig.analyze.otaField().isEmpty());
    QCOMPARE(readFile(rig.bin()), before);
}

void TestZemAnalyze::firmwareArrivesByteExact_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("bin") << "bin";
    QTest::newRow("hex") << "hex";
}

void TestZemAnalyze::firmwareArrivesByteExact()
{
    QFETCH(QString, type);
    Rig rig;
    rig.tool.writeSetting(SettingKeys::OtaType, type);
    QVERIFY(rig.ask(firmwareStart(1, "abcd")).size() == 9);

    // Pieces of every byte value, FF included (escaped on the wire).
    QList<QByteArray> pieces;
    for (int i = 0; i < 6; ++i) {
        QByteArray data;
        for (int b = 0; b < 64; ++b)
            data.append(char((i * 64 + b * 7) & 0xFF));
        data.append(char(0xFF)).append(char(0x55)).append(char(i));
        pieces.append(data);
    }
    // Piece 2 repeated at once, piece 1 repeated later, 5 before 4.
    const QList<int> order = {0, 1, 2, 2, 3, 1, 5, 4};
    QByteArray expected;
    int sequence = 2;
    for (const int n : order) {
        const QByteArray reply = rig.ask(firmwarePiece(sequence, n, pieces.at(n)));
        QCOMPARE(ZemTool::byteValue(reply, 4), 0x1E);
        QCOMPARE(ZemTool::byteValue(reply, 5), sequence);
        ++sequence;
    }
    for (const int n : {0, 1, 2, 3, 5, 4})
        expected.append(pieces.at(n));

    const QString written = type == QLatin1String("hex") ? rig.hexFile() : rig.bin();
    const QString other = type == QLatin1String("hex") ? rig.bin() : rig.hexFile();
    QCOMPARE(readFile(written), expected);
    QCOMPARE(readFile(other), QByteArray());
}

void TestZemAnalyze::firmwareStartKeepsFieldsAndEmptiesFiles()
{
    Rig rig;
    QVERIFY(rig.analyze.otaCount().isEmpty());
    QVERIFY(rig.analyze.otaField().isEmpty());
    rig.ask(firmwareStart(1, hex("01 02 03")));
    QCOMPARE(rig.analyze.otaCount(), hex("00 03"));
    QCOMPARE(rig.analyze.otaField(), hex("01 02 03"));
    rig.ask(firmwarePiece(2, 0, "first"));
    rig.ask(firmwarePiece(3, 1, "second"));
    QCOMPARE(readFile(rig.bin()), QByteArray("firstsecond"));

    // A new transfer: both files emptied, the same piece numbers written
    // again, and the new fields replace the old ones (an empty field too).
    QFile stale(rig.hexFile());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("stale");
    stale.close();
    rig.ask(firmwareStart(4, QByteArray()));
    QCOMPARE(rig.analyze.otaCount(), hex("00 00"));
    QCOMPARE(rig.analyze.otaField(), QByteArray());
    QCOMPARE(readFile(rig.bin()), QByteArray());
    QCOMPARE(readFile(rig.hexFile()), QByteArray());
    rig.ask(firmwarePiece(5, 0, "new"));
    QCOMPARE(readFile(rig.bin()), QByteArray("new"));

    // A field holding FF survives the wire's escaping.
    rig.ask(firmwareStart(6, hex("FF 55 FF")));
    QCOMPARE(rig.analyze.otaField(), hex("FF 55 FF"));
}

void TestZemAnalyze::firmwareFolderIsCreated()
{
    Rig rig;
    QVERIFY(QDir(rig.root.file(QStringLiteral("bin"))).removeRecursively());
    // A piece without a start, with a number other than 0: written all the same.
    QCOMPARE(ZemTool::byteValue(rig.ask(firmwarePiece(1, 7, "seven")), 4), 0x1E);
    QCOMPARE(readFile(rig.bin()), QByteArray("seven"));

    QVERIFY(QDir(rig.root.file(QStringLiteral("bin"))).removeRecursively());
    rig.ask(firmwareStart(2, "xy"));
    QCOMPARE(readFile(rig.bin()), QByteArray());
    QCOMPARE(readFile(rig.hexFile()), QByteArray());
}

void TestZemAnalyze::firmwareStartWithoutWritableFilesIsNotAcknowledged_data()
{
    // Made to fail by the file system's shape rather than by permissions, so
    // that it fails for root too.
    QTest::addColumn<QString>("blocker"); // relative path made a plain file or a folder
    QTest::addColumn<bool>("blockerIsFile");
    QTest::addColumn<int>("failedOpens");
    QTest::newRow("a plain file where the bin folder should be") << "bin" << true << 2;
    QTest::newRow("a folder where mcu.bin should be") << "bin/mcu.bin" << false << 1;
    QTest::newRow("a folder where mcu.hex should be") << "bin/mcu.hex" << false << 1;
}

void TestZemAnalyze::firmwareStartWithoutWritableFilesIsNotAcknowledged()
{
    QFETCH(QString, blocker);
    QFETCH(bool, blockerIsFile);
    QFETCH(int, failedOpens);
    Rig rig;
    QVERIFY(QDir(rig.root.file(QStringLiteral("bin"))).removeRecursively());
    const QString path = rig.root.file(blocker);
    if (blockerIsFile) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("not a folder"), qint64(12));
    } else {
        QVERIFY(QDir().mkpath(path));
    }

    for (int i = 0; i < failedOpens; ++i)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^open failed")));
    rig.framer.dataToV4(firmwareStart(1, hex("0A 0B")));
    // No acknowledgement: the module must not start sending pieces that
    // would be lost.
    QVERIFY(rig.replies.isEmpty());
    // The fields are kept all the same, and the blocker is left as it was.
    QCOMPARE(rig.analyze.otaField(), hex("0A 0B"));
    QCOMPARE(QFileInfo(path).isFile(), blockerIsFile);
    QCOMPARE(QFileInfo(path).isDir(), !blockerIsFile);

    // Once the way is clear, the module's repeated start is acknowledged.
    QVERIFY(blockerIsFile ? QFile::remove(path) : QDir(path).removeRecursively());
    QCOMPARE(ZemTool::byteValue(rig.ask(firmwareStart(2, hex("0A 0B"))), 4), 0x1A);
    QCOMPARE(readFile(rig.bin()), QByteArray());
    QCOMPARE(readFile(rig.hexFile()), QByteArray());
}

void TestZemAnalyze::firmwareTypeIsReadForEachPiece()
{
    Rig rig;
    rig.ask(firmwareStart(1, "f"));
    rig.tool.writeSetting(SettingKeys::OtaType, QStringLiteral("hex"));
    rig.ask(firmwarePiece(2, 0, "H0"));
    rig.tool.writeSetting(SettingKeys::OtaType, QStringLiteral("bin"));
    rig.ask(firmwarePiece(3, 1, "B1"));
    rig.tool.writeSetting(SettingKeys::OtaType, QStringLiteral("HEX")); // not "hex": bin
    rig.ask(firmwarePiece(4, 2, "B2"));
    QCOMPARE(readFile(rig.hexFile()), QByteArray("H0"));
    QCOMPARE(readFile(rig.bin()), QByteArray("B1B2"));
}

void TestZemAnalyze::unwritablePieceIsNotAcknowledged()
{
    Rig rig;
    rig.ask(firmwareStart(1, "f"));
    rig.ask(firmwarePiece(2, 0, "zero"));
    // A directory where the image file should be: it cannot be opened.
    QVERIFY(QFile::remove(rig.bin()));
    QVERIFY(QDir().mkpath(rig.bin()));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^open failed")));
    rig.framer.dataToV4(firmwarePiece(3, 1, "one"));
    QCOMPARE(rig.replies.size(), 2);

    // The module sends it again once the file can be written: it lands.
    QVERIFY(QDir(rig.bin()).removeRecursively());
    QCOMPARE(ZemTool::byteValue(rig.ask(firmwarePiece(4, 1, "one")), 5), 4);
    QCOMPARE(readFile(rig.bin()), QByteArray("one"));
}

void TestZemAnalyze::productKeyForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stored"); // empty: refused

    const QString key = QString::fromLatin1(SampleKey);
    const QString keyHex = QString::fromLatin1(QByteArray(SampleKey).toHex());
    QTest::newRow("32 characters") << key << key;
    QTest::newRow("upper case and digits") << "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"
                                           << "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    QTest::newRow("blanks, tabs, newline") << (" 5d1c7a90 e4b3f206\t8a9c1e7d 3b5f0a24\n") << key;
    QTest::newRow("64 hex digits") << keyHex << key;
    QTest::newRow("64 upper-case hex with blanks")
        << QString(QByteArray(SampleKey).toHex(' ').toUpper()) << key;

    const QString none;
    QTest::newRow("empty") << "" << none;
    QTest::newRow("31 characters") << key.left(31) << none;
    QTest::newRow("33 characters") << key + QLatin1Char('0') << none;
    QTest::newRow("path climbing out") << "../../../../../../../../etc/x.yz" << none;
    QTest::newRow("URL characters") << "5d1c7a90e4b3f206&format=xml#abcd" << none;
    QTest::newRow("non-ASCII letter") << key.left(31) + QChar(0x00E9) << none;
    QTest::newRow("full-width digit") << key.left(31) + QChar(0xFF11) << none;
    QTest::newRow("64 characters not hex")
        << key + key.toUpper().replace(QLatin1Char('A'), QLatin1Char('G')) << none;
    QTest::newRow("64 hex of a path")
        << QString::fromLatin1(QByteArray("../../../../../../../../etc/x.yz").toHex()) << none;
    QTest::newRow("64 hex of NUL bytes") << QString(64, QLatin1Char('0')) << none;
    QTest::newRow("63 hex digits") << keyHex.left(63) << none;
}

void TestZemAnalyze::productKeyForms()
{
    QFETCH(QString, text);
    QFETCH(QString, stored);
    if (text.startsWith(QLatin1String("../")))
        QCOMPARE(text.size(), 32);
    Rig rig;
    const QString before = rig.root.settingsText();
    const QByteArray templateBefore = rig.tool.readSettingHex(QStringLiteral("Respond/02"));

    const bool accepted = rig.analyze.checkProductKey(text);
    const QString disk = rig.root.settingsText();
    if (stored.isEmpty()) {
        QVERIFY(!accepted);
        QCOMPARE(disk, before);
        QCOMPARE(iniValue(disk, QStringLiteral("product_key"), QStringLiteral("key")),
                 QStringLiteral("10293847561029384756102938475610"));
        return;
    }
    QVERIFY(accepted);
    QCOMPARE(iniValue(disk, QStringLiteral("product_key"), QStringLiteral("key")), stored);
    const QString replyText = iniValue(disk, QStringLiteral("Respond"), QStringLiteral("02"));
    const QByteArray reply = QByteArray::fromHex(replyText.toLatin1());
    QCOMPARE(reply.size(), templateBefore.size());
    QCOMPARE(reply.mid(40, 32), stored.toLatin1());
    QCOMPARE(reply.left(40), templateBefore.left(40));
    QCOMPARE(reply.mid(72, 2), templateBefore.mid(72, 2));
    QVERIFY(checksumOk(reply));
}

void TestZemAnalyze::productKeyReachesReplies()
{
    Rig rig;
    QVERIFY(rig.analyze.checkProductKey(QString::fromLatin1(SampleKey)));
    const QByteArray reply = rig.ask(makeFrame(0x01, 9));
    QCOMPARE(reply.mid(40, 32), QByteArray(SampleKey));
    QVERIFY(checksumOk(reply));

    // A template too short for the key: the key is stored, the template left.
    rig.tool.writeSetting(QStringLiteral("Respond/02"),
                          QStringLiteral("FF FF 00 05 02 00 00 00 07"));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("template too short")));
    QVERIFY(rig.analyze.checkProductKey(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345")));
    const QString disk = rig.root.settingsText();
    QCOMPARE(iniValue(disk, QStringLiteral("product_key"), QStringLiteral("key")),
             QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"));
    QCOMPARE(QByteArray::fromHex(
                 iniValue(disk, QStringLiteral("Respond"), QStringLiteral("02")).toLatin1()),
             hex("FF FF 00 05 02 00 00 00 07"));
}

void TestZemAnalyze::requestOverSerialLineIsAnswered()
{
    // The whole road on a pseudo-terminal: the module writes escaped
    // requests, the port and framer deliver them, the reply goes back out
    // escaped as the simulated-MCU tab sends it.
    PtyPair pty;
    QVERIFY(pty.isValid());
    setExtraPorts({pty.slavePath()});
    TestRoot root;
    ZemTool tool;
    ZemSerialPort port;
    ZemFramer framer;
    framer.listenTo(&port);
    ZemAnalyze analyze(&framer, &tool);
    connect(&analyze, &ZemAnalyze::RespondReady,
            [&port](const QByteArray &reply) { port.write(ZemTool::escape(reply)); });
    QVERIFY(port.Open(pty.slavePath(), QStringLiteral("115200"), 3, 0, 0));

    tool.writeSetting(SettingKeys::BindingTime, QStringLiteral("255")); // 00 FF: escaped
    QByteArray expected = tool.readSettingHex(QStringLiteral("Respond/02"));
    expected[5] = char(0xFF);
    expected[72] = 0x00;
    expected[73] = char(0xFF);
    ZemTool::setFrameChecksum(expected);

    // Sequence number FF is escaped on the way in and on the way out.
    QVERIFY(pty.write(ZemTool::escape(makeFrame(0x01, 0xFF))));
    const QByteArray wire = ZemTool::escape(expected);
    QCOMPARE(pty.read(wire.size()), wire);

    QVERIFY(pty.write(ZemTool::escape(firmwarePiece(0x10, 0, hex("FF FF 00")))));
    QCOMPARE(pty.read(9), hex("FF FF 00 05 1E 10 00 00 33"));
    QCOMPARE(readFile(root.file(QStringLiteral("bin/mcu.bin"))), hex("FF FF 00"));
    port.Close();
    qunsetenv("LUMO_EXTRA_PORTS");
}

QTEST_GUILESS_MAIN(TestZemAnalyze)
#include "tst_zemanalyze.moc"
