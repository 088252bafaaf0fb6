// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file shipped beside the program: device parameters, reply
// templates, stored frames and description texts, read the way the program
// reads them.
#include "testsupport.h"

#include "base/apppaths.h"
#include "engine/zemdescriber.h"
#include "engine/zemfirmware.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QtTest>

namespace {

QString shippedPath()
{
    return QStringLiteral(LUMO_RUNTIME_SOURCE "/auto_analyze.ini");
}

// A whole frame: header, length = size - 4, the given command, flags 00 00
// and a correct checksum.
void checkFrame(const QByteArray &frame, int command)
{
    QVERIFY2(frame.size() >= 9, frame.toHex(' ').constData());
    QCOMPARE(frame.left(2), hex("FF FF"));
    QCOMPARE(ZemTool::word16(frame, 2), frame.size() - 4);
    QCOMPARE(ZemTool::byteValue(frame, 4), command);
    QCOMPARE(frame.mid(6, 2), hex("00 00"));
    QCOMPARE(int(quint8(frame.back())), int(ZemTool::frameChecksum(frame)));
}

} // namespace

class TestShippedSettings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void deviceParameters();
    void replyTemplates_data();
    void replyTemplates();
    void productInformationTemplate();
    void storedFrames_data();
    void storedFrames();
    void firmwareReadyBody();
    void everyDescriptionTheDescriberAsksForExists();
    void fileIsPlainUtf8Ini();

private:
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZemTool> m_tool;
};

void TestShippedSettings::initTestCase()
{
    QVERIFY(QFile::exists(shippedPath()));
    m_root = std::make_unique<TestRoot>();
    m_tool = std::make_unique<ZemTool>();
}

void TestShippedSettings::cleanupTestCase()
{
    m_tool.reset();
    m_root.reset();
}

void TestShippedSettings::deviceParameters()
{
    ZemTool &t = *m_tool;
    QCOMPARE(t.readSetting(SettingKeys::ProductKey),
             QStringLiteral("10293847561029384756102938475610"));
    QCOMPARE(t.readSetting(SettingKeys::ProductKey), SettingKeys::PlaceholderProductKey);
    // host:port, no scheme, no path.
    QCOMPARE(t.readSetting(SettingKeys::Environment), QStringLiteral("127.0.0.1:8086"));

    for (const QString &key : {SettingKeys::SoftVersion, SettingKeys::HardVersion}) {
        const QString v = t.readSetting(key);
        QCOMPARE(v.size(), 8);
        QCOMPARE(v.toLatin1().size(), 8);
        QVERIFY2(QRegularExpression(QStringLiteral("^[\\x21-\\x7E]{8}$")).match(v).hasMatch(),
                 qPrintable(v));
    }
    struct Range
    {
        QString key;
        int low;
        int high;
    };
    for (const Range &r :
         {Range{SettingKeys::UploadTime, 3, 300}, Range{SettingKeys::OtaPiece, 0, 99},
          Range{SettingKeys::BindingTime, 0, 99}}) {
        bool ok = false;
        const int v = t.readSetting(r.key).toInt(&ok);
        QVERIFY2(ok, qPrintable(r.key));
        QVERIFY2(v >= r.low && v <= r.high, qPrintable(r.key));
    }
    QCOMPARE(t.readSetting(SettingKeys::OtaType), QStringLiteral("bin"));
    QCOMPARE(t.readSetting(SettingKeys::ModuleType), QStringLiteral("normal"));
}

void TestShippedSettings::replyTemplates_data()
{
    QTest::addColumn<int>("reply");
    QTest::addColumn<int>("length");
    for (const int r : {0x02, 0x04, 0x08, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x1A, 0x1E, 0x20})
        QTest::newRow(qPrintable(SettingKeys::respondKey(r))) << r << (r == 0x02 ? 0x47 : 5);
}

void TestShippedSettings::replyTemplates()
{
    QFETCH(int, reply);
    QFETCH(int, length);
    const QString text = m_tool->readSetting(SettingKeys::respondKey(reply));
    // Only hex pairs and blanks: nothing the hex decoding would skip.
    QVERIFY2(QRegularExpression(QStringLiteral("^([0-9A-Fa-f]{2} ?)+$")).match(text).hasMatch(),
             qPrintable(text));
    const QByteArray frame = QByteArray::fromHex(text.toLatin1());
    checkFrame(frame, reply);
    QCOMPARE(ZemTool::word16(frame, 2), length);
}

void TestShippedSettings::productInformationTemplate()
{
    const QByteArray f = m_tool->readSettingHex(QStringLiteral("Respond/02"));
    QCOMPARE(f.size(), 75);
    QCOMPARE(f.mid(8, 8), QByteArray("00000004"));  // protocol version
    QCOMPARE(f.mid(16, 8), QByteArray("00000004")); // second protocol version
    QCOMPARE(f.mid(24, 8), m_tool->readSetting(SettingKeys::HardVersion).toLatin1());
    QCOMPARE(f.mid(32, 8), m_tool->readSetting(SettingKeys::SoftVersion).toLatin1());
    QCOMPARE(f.mid(40, 32), QByteArray("10293847561029384756102938475610"));
    QCOMPARE(ZemTool::word16(f, 72), m_tool->readSetting(SettingKeys::BindingTime).toInt());
}

void TestShippedSettings::storedFrames_data()
{
    // The button's request, the key its frame is stored under, the frame.
    QTest::addColumn<int>("cmd");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("AirLink") << int(CMD_AIRLINK) << "Defaule/492" << 0x09 << hex("02");
    QTest::newRow("softap") << int(CMD_SOFTAP) << "Defaule/491" << 0x09 << hex("01");
    QTest::newRow("reset") << int(CMD_RESET) << "Defaule/4B" << 0x0B << QByteArray();
    QTest::newRow("network time") << int(CMD_GETTIME) << "Defaule/417" << 0x17 << QByteArray();
    QTest::newRow("binding mode") << int(CMD_ONBORDING) << "Defaule/415" << 0x15 << QByteArray();
    QTest::newRow("production test") << int(CMD_TEST) << "Defaule/413" << 0x13 << QByteArray();
}

void TestShippedSettings::storedFrames()
{
    QFETCH(int, cmd);
    QFETCH(QString, key);
    QFETCH(int, command);
    QFETCH(QByteArray, payload);
    QCOMPARE(SettingKeys::storedFrameKey(CMD(cmd)), key);
    const QByteArray frame = m_tool->readSettingHex(key);
    checkFrame(frame, command);
    QCOMPARE(frame.mid(8, frame.size() - 9), payload);
}

void TestShippedSettings::firmwareReadyBody()
{
    // The 0x1B frame is built from this body: count, field and piece size are
    // appended, the length rewritten and the checksum added. So it is the
    // header, length, command, sequence and flags, nothing after them.
    QCOMPARE(SettingKeys::storedFrameKey(CMD_STARTOTA), QStringLiteral("Defaule/41B"));
    const QByteArray body = m_tool->readSettingHex(SettingKeys::StoredFirmwareReady);
    QCOMPARE(body.size(), 8);
    QCOMPARE(body.left(2), hex("FF FF"));
    QCOMPARE(ZemTool::byteValue(body, 4), 0x1B);
    QCOMPARE(body.mid(5, 3), hex("00 00 00"));

    // Built with an empty field the frame is whole and its length matches.
    const QByteArray frame = ZemFirmware::requestFrame(body, hex("00 00"), QByteArray(), 64, false);
    checkFrame(frame, 0x1B);
    QCOMPARE(frame.mid(8, 4), hex("00 00 00 40"));
}

void TestShippedSettings::everyDescriptionTheDescriberAsksForExists()
{
    QSet<QString> asked;
    const ZemDescriber::Lookup record = [&asked](const QString &key) {
        asked.insert(key);
        return QString();
    };
    // Every command, every payload byte (both nibbles of both status bytes),
    // and lengths of an acknowledgement and of a status.
    for (int command = 0; command < 256; ++command) {
        for (int b = 0; b < 256; ++b) {
            for (const int length : {5, 7}) {
                QByteArray f = hex("FF FF 00 00 00 01 00 00 00 00 00");
                f[3] = char(length);
                f[4] = char(command);
                f[8] = char(b);
                f[9] = char(b);
                ZemTool::setFrameChecksum(f);
                ZemDescriber::describe(f, record);
            }
        }
    }
    asked.remove(SettingKeys::ProductKey); // a key, not a description
    // 32 commands (0x04 always gets a suffix) plus 4 extended, 2 modes,
    // 16 + 16 states, 2 app flags.
    QCOMPARE(asked.size(), 31 + 4 + 2 + 16 + 16 + 2);
    QVERIFY(!asked.contains(QStringLiteral("cmd/04")));
    QVERIFY(asked.contains(QStringLiteral("cmd/0403")));
    QVERIFY(asked.contains(QStringLiteral("cmd/0404")));
    QVERIFY(asked.contains(QStringLiteral("wifistate/0F")));

    QSettings shipped(AppPaths::settingsFile(), QSettings::IniFormat);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    shipped.setIniCodec("UTF-8");
#endif
    for (const QString &key : asked) {
        const QVariant value = shipped.value(key);
        QVERIFY2(value.isValid(), qPrintable(key));
        // An unquoted comma would split the text into a list.
        QVERIFY2(value.userType() == QMetaType::QString, qPrintable(key));
        const QString text = value.toString();
        QVERIFY2(!text.trimmed().isEmpty(), qPrintable(key));
        QVERIFY2(!text.contains(QChar::ReplacementCharacter), qPrintable(key));
        // Written for people: Chinese, not a bare code.
        QVERIFY2(text.contains(QRegularExpression(QStringLiteral("[\\x{4E00}-\\x{9FFF}]"))),
                 qPrintable(key));
    }
}

void TestShippedSettings::fileIsPlainUtf8Ini()
{
    QFile file(shippedPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    // Valid UTF-8 decodes without replacement characters and encodes back to
    // the very same bytes (the shipped file itself holds no U+FFFD).
    const QString text = QString::fromUtf8(bytes);
    QVERIFY(!text.contains(QChar::ReplacementCharacter));
    QCOMPARE(text.toUtf8(), bytes);

    const QRegularExpression group(QStringLiteral("^\\[[A-Za-z_]+\\]$"));
    const QRegularExpression entry(QStringLiteral("^[0-9A-Za-z]+=[^\\s].*$"));
    int entries = 0;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (line.isEmpty())
            continue;
        QVERIFY2(group.match(line).hasMatch() || entry.match(line).hasMatch(), qPrintable(line));
        if (line.contains(QLatin1Char('='))) {
            ++entries;
            const QString value = line.section(QLatin1Char('='), 1);
            // Characters INI reading treats specially stay out of plain texts.
            if (!value.startsWith(QLatin1Char('"')))
                QVERIFY2(!value.contains(QRegularExpression(QStringLiteral("[,;\"\\\\#]"))),
                         qPrintable(line));
        }
    }
    QCOMPARE(entries, 1 + 1 + 7 + 11 + 7 + 36 + 2 + 16 + 16 + 2);
}

QTEST_GUILESS_MAIN(TestShippedSettings)
#include "tst_shippedsettings.moc"
