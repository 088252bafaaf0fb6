// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated-MCU tab end to end: a real pseudo-terminal on the port, the
// test playing the Wi-Fi module.
#include "testsupport.h"

#include "datapoint/zemjson.h"
#include "engine/mcusimulator.h"
#include "engine/zemanalyze.h"
#include "mcu/mcucmdwindow.h"
#include "mcu/mcusettingwindow.h"
#include "mcu/mcuwindow.h"
#include "mcu/trafficlog.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QUrlQuery>
#include <QtTest>

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Answers GET /v2/datapoint?product_key=KEY&format=json with the body stored
// for KEY, or with a refusal; one request per connection.
class DefinitionServer : public QTcpServer
{
public:
    QHash<QString, QByteArray> bodies;
    QByteArray refusal = "{\"errors\": {\"product_key\": \"unknown\"}}";

    DefinitionServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray request = s->readAll();
                    const QByteArray target = request.split(' ').value(1);
                    const QString key = QUrlQuery(QUrl(QString::fromLatin1(target)).query())
                                            .queryItemValue(QStringLiteral("product_key"));
                    const QByteArray body = bodies.value(key, refusal);
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                             + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n"
                             + body);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }
};

} // namespace

class TestMcuWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void formDefaults();
    void openCloseAndMissingPort();
    void updateUiKeepsSelection();
    void conversation();
    void statusReadAndControl();
    void ackWithChecksum03IsNotAStatusReport();
    void firmwareTransferLandsInFile();
    void manualSendAndReportOnce();
    void automaticReports_data();
    void automaticReports();
    void autoReportsStopWhenPortCloses();
    void lostPortIsLoggedAndSelectedAgain();
    void productKeyRefusedAcceptedAndFailed();
    void failedFetchIsShownInTheWindow();
    void clickingLogLinesDecodes();
    void commandDialogButtons();
    void firmwareRequestFrame();
    void settingsDialogLoadAndSave();
    void choicesComeBackAfterARestart();
    void rememberedPortIsTakenWhenItAppears();

private:
    template <typename T> T *find(const char *name)
    {
        T *w = m_window->findChild<T *>(QLatin1String(name));
        for (const char *dialog : {"McuCmdWindow", "McuSettingWindow"})
            if (!w && topLevel(dialog))
                w = topLevel(dialog)->findChild<T *>(QLatin1String(name));
        return w;
    }
    // The command and settings dialogs are windows of their own.
    static QWidget *topLevel(const char *name)
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String(name))
                return w;
        return nullptr;
    }
    ZemSerialPort *port() { return find<ZemSerialPort>("mcuPort"); }
    ZemAnalyze *analyze() { return find<ZemAnalyze>("mcuAnalyze"); }
    ZemTool *tool() { return m_settings.get(); }
    QTimer *uploadTimer() { return find<QTimer>("uploadTimer"); }
    TrafficLog *trafficLog() { return find<TrafficLog>("listWidget"); }
    // Clicks line `row` of the log as the user does.
    void clickLine(int row);
    void makeWindow();
    // Opens the port listed as `name` (the pty's own path by default).
    void openPort(const QString &name = QString());
    // Frames the module side reads back (unescaped), with the raw wire bytes.
    QList<QByteArray> readFrames(int count, QByteArray *wire = nullptr, int timeoutMs = 3000);
    QStringList logTexts() const;

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<ZemTool> m_settings; // the program's one settings object
    std::unique_ptr<McuWindow> m_window;
};

void TestMcuWindow::init()
{
    m_root = std::make_unique<TestRoot>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    setExtraPorts({m_pty->slavePath()});
    // A known device and the sample lamp's definition in the cache.
    ZemTool tool;
    tool.writeSetting(QStringLiteral("product_key/key"), SampleKey);
    tool.writeSetting(QStringLiteral("setting/hardver"), QStringLiteral("HW000001"));
    tool.writeSetting(QStringLiteral("setting/softver"), QStringLiteral("SW000002"));
    tool.writeSetting(QStringLiteral("setting/bordingtime"), QStringLiteral("5"));
    tool.writeSetting(QStringLiteral("setting/moduletype"), QStringLiteral("normal"));
    tool.writeSetting(QStringLiteral("setting/otatype"), QStringLiteral("bin"));
    tool.writeSetting(QStringLiteral("setting/otapiece"), QStringLiteral("64"));
    QFile::remove(m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json")));
    QVERIFY(
        QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                    m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"))));
}

void TestMcuWindow::cleanup()
{
    m_window.reset();
    m_settings.reset();
    m_pty.reset();
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
}

void TestMcuWindow::makeWindow()
{
    if (!m_settings)
        m_settings = std::make_unique<ZemTool>();
    m_window = std::make_unique<McuWindow>(m_settings.get());
}

void TestMcuWindow::openPort(const QString &name)
{
    if (!m_window)
        makeWindow();
    const QString path = name.isEmpty() ? m_pty->slavePath() : name;
    auto *com = find<QComboBox>("com_3");
    QVERIFY(waitUntil([&] { return com->findText(path) >= 0; }, 3000));
    com->setCurrentIndex(com->findText(path));
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    QVERIFY(port()->isOpen());
    QCOMPARE(find<QPushButton>("pushButton_open3")->text(), QStringLiteral("关闭串口"));
}

QList<QByteArray> TestMcuWindow::readFrames(int count, QByteArray *wire, int timeoutMs)
{
    ZemFramer framer;
    QList<QByteArray> frames;
    connect(&framer, &ZemFramer::LineDataReady,
            [&frames](const QByteArray &f) { frames.append(f); });
    QByteArray raw;
    QElapsedTimer clock;
    clock.start();
    while (frames.size() < count && clock.elapsed() < timeoutMs) {
        const QByteArray got = m_pty->read(1, 50);
        raw += got;
        framer.dataToV4(got);
    }
    if (wire)
        *wire = raw;
    return frames;
}

void TestMcuWindow::clickLine(int row)
{
    TrafficLog *log = trafficLog();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    const QModelIndex index = log->model()->index(row, 0);
    log->scrollTo(index);
    // Near the line's left end: a long line reaches past the viewport.
    const QPoint point(4, log->visualRect(index).center().y());
    QVERIFY(log->viewport()->rect().contains(point));
    QCOMPARE(log->indexAt(point), index);
    QTest::mouseClick(log->viewport(), Qt::LeftButton, Qt::NoModifier, point);
}

QStringList TestMcuWindow::logTexts() const
{
    TrafficLog *log = m_window->findChild<TrafficLog *>(QStringLiteral("listWidget"));
    log->flush();
    QStringList texts;
    for (int i = 0; i < log->count(); ++i)
        texts << log->lineText(i);
    return texts;
}

void TestMcuWindow::formDefaults()
{
    makeWindow();
    QCOMPARE(find<QComboBox>("rate_3")->currentText(), QStringLiteral("9600"));
    QCOMPARE(find<QComboBox>("rate_3")->count(), 11);
    QCOMPARE(find<QComboBox>("data_3")->currentIndex(), 3);
    QCOMPARE(find<QComboBox>("stop_3")->itemText(1), QStringLiteral("1.5"));
    QCOMPARE(find<QComboBox>("check_3")->itemText(3), QStringLiteral("Space"));
    const QList<QPair<const char *, const char *>> captions{
        {"pushButton_open3", "打开串口"},     {"pushButton_send3", "发送"},
        {"pushButton_productkey", "保存"},    {"pushButton_updatejson", "更新数据点"},
        {"pushButton_upload", "上报数据"},    {"pushButton_autoupload", "定时上报开"},
        {"pushButton_showcmd", "指令界面"},   {"pushButton_setting", "参数界面"},
        {"pushButton_airlink", "AirLink"},    {"pushButton_softap", "Softap"},
        {"pushButton_reset", "初始化"},       {"pushButton_gettime", "获取时间"},
        {"pushButton_onbording", "绑定模式"}, {"pushButton_startota", "开始接收固件"},
        {"pushButton_test", "产测模式"},      {"pushButton_save", "保存"}};
    for (const auto &c : captions) {
        auto *b = find<QPushButton>(c.first);
        QVERIFY2(b, c.first);
        QCOMPARE(b->text(), QString::fromUtf8(c.second));
    }
    QVERIFY(find<QLabel>("label_background2")
                ->styleSheet()
                .startsWith(QStringLiteral("border-image:url(") + m_root->path()
                            + QStringLiteral("/image/background.png")));
    // The cached definition of the stored key is loaded at start.
    QCOMPARE(find<QTableWidget>("datapoint_table")->rowCount(), 14);
    QVERIFY(topLevel("McuCmdWindow")->isHidden());
    QVERIFY(topLevel("McuSettingWindow")->isHidden());
}

void TestMcuWindow::openCloseAndMissingPort()
{
    openPort();
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    QVERIFY(!port()->isOpen());
    QCOMPARE(find<QPushButton>("pushButton_open3")->text(), QStringLiteral("打开串口"));

    // A name no longer listed, and a listed path that is no serial device:
    // "打开失败！" each time, with the reason beneath it.
    QTemporaryDir dir;
    const QString notATty = dir.filePath(QStringLiteral("ttyNOTATTY"));
    QFile file(notATty);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    setExtraPorts({m_pty->slavePath(), notATty});
    QStringList reasons;
    for (const QString &name : {QStringLiteral("ttyLUMO_GONE"), notATty}) {
        m_window->UpdateUi({name});
        // The port chosen before is not listed: it stays the choice, marked.
        auto *com = find<QComboBox>("com_3");
        QVERIFY2(com->currentText().endsWith(QStringLiteral("（未连接）")),
                 qPrintable(com->currentText()));
        com->setCurrentIndex(0);
        emit com->activated(0); // the user picks the listed name
        QCOMPARE(com->currentText(), name);
        QCOMPARE(com->count(), 2); // the port and the entry that adds a network line
        MessageBoxCatcher box;
        QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
        QVERIFY(box.wait());
        QCOMPARE(box.title(), QStringLiteral("错误"));
        QCOMPARE(box.text(), QStringLiteral("打开失败！"));
        QCOMPARE(box.informativeText(), port()->openFailureReason());
        QVERIFY(!box.informativeText().isEmpty());
        reasons << box.informativeText();
        QVERIFY(!port()->isOpen());
        QCOMPARE(find<QPushButton>("pushButton_open3")->text(), QStringLiteral("打开串口"));
    }
    QVERIFY2(reasons.at(0) != reasons.at(1), qPrintable(reasons.join(QLatin1Char('|'))));
}

void TestMcuWindow::updateUiKeepsSelection()
{
    makeWindow();
    auto *com = find<QComboBox>("com_3");
    m_window->UpdateUi({"COM3", "COM4"});
    com->setCurrentIndex(1);
    emit com->activated(1); // as the user picks it
    m_window->UpdateUi({"COM3", "COM4", "COM5"});
    QCOMPARE(com->currentText(), QStringLiteral("COM4"));
    QCOMPARE(com->count(), 4); // and the entry that adds a network line
    // COM4 vanishes: it stays the choice, marked, and is taken back when it
    // returns, never swapped silently for another port.
    m_window->UpdateUi({"COM5", "COM3"});
    QCOMPARE(com->currentIndex(), 2);
    QCOMPARE(com->currentText(), QStringLiteral("COM4（未连接）"));
    QCOMPARE(com->toolTip(), QStringLiteral("COM4（未连接）"));
    m_window->UpdateUi({"COM3", "COM4"});
    QCOMPARE(com->currentText(), QStringLiteral("COM4"));
    QCOMPARE(com->count(), 3);
}

void TestMcuWindow::conversation()
{
    openPort();

    // Product information, sequence number FF: escaped on the wire.
    QVERIFY(m_pty->write(ZemTool::escape(makeFrame(0x01, 0xFF, {}))));
    QByteArray wire;
    QList<QByteArray> replies = readFrames(1, &wire);
    QCOMPARE(replies.size(), 1);
    const QByteArray info = replies.at(0);
    QCOMPARE(info.size(), 0x47 + 4);
    QCOMPARE(ZemTool::byteValue(info, 4), 0x02);
    QCOMPARE(ZemTool::byteValue(info, 5), 0xFF);
    QCOMPARE(wire.mid(5, 2), hex("FF55")); // the sequence number, escaped
    QCOMPARE(info.mid(24, 8), QByteArray("HW000001"));
    QCOMPARE(info.mid(32, 8), QByteArray("SW000002"));
    QCOMPARE(ZemTool::word16(info, 72), 5);
    QCOMPARE(ZemTool::byteValue(info, info.size() - 1), int(ZemTool::frameChecksum(info)));

    QStringList log = logTexts();
    QCOMPARE(log.size(), 4);
    QVERIFY(QRegularExpression(QStringLiteral("^WIFI:\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                .match(log.at(0))
                .hasMatch());
    QCOMPARE(log.at(1), ZemTool::hexText(makeFrame(0x01, 0xFF, {})));
    QVERIFY(QRegularExpression(QStringLiteral("^MCU:\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                .match(log.at(2))
                .hasMatch());
    QCOMPARE(log.at(3), ZemTool::hexText(wire)); // the escaped bytes are logged

    // Heartbeat, Wi-Fi status, and the module's network time (no reply).
    QVERIFY(m_pty->write(makeFrame(0x07, 0x11, {}) + makeFrame(0x0D, 0x12, hex("0B21"))
                         + makeFrame(0x18, 0x13, hex("07E20C1F173B3A"))));
    replies = readFrames(2);
    QCOMPARE(replies.size(), 2);
    QCOMPARE(ZemTool::byteValue(replies.at(0), 4), 0x08);
    QCOMPARE(ZemTool::byteValue(replies.at(0), 5), 0x11);
    QCOMPARE(ZemTool::byteValue(replies.at(1), 4), 0x0E);
    QCOMPARE(ZemTool::byteValue(replies.at(1), 5), 0x12);
    for (const QByteArray &r : replies)
        QCOMPARE(ZemTool::byteValue(r, r.size() - 1), int(ZemTool::frameChecksum(r)));
    QVERIFY(waitUntil([&] { return logTexts().size() == 4 + 10; }));
    QVERIFY(readFrames(1, nullptr, 300).isEmpty()); // 0x18 gets no answer
    log = logTexts();
    QCOMPARE(log.at(13), ZemTool::hexText(makeFrame(0x18, 0x13, hex("07E20C1F173B3A"))));
    QVERIFY(log.at(12).startsWith(QStringLiteral("WIFI:")));
}

void TestMcuWindow::statusReadAndControl()
{
    openPort();
    auto *table = find<QTableWidget>("datapoint_table");

    // Control: switch (attribute 0) on, brightness (attribute 3) to 80.
    // Flag byte 09; value part: area byte 01, brightness 50, rest of the
    // writable values zero.
    QByteArray control = hex("01 09 01 50") + QByteArray(10, '\0');
    QVERIFY(m_pty->write(makeFrame(0x03, 0x21, control)));
    QList<QByteArray> replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0), hex("FFFF0005042100002A")); // the plain acknowledgement
    auto spinAt = [table](int row) { return qobject_cast<QSpinBox *>(table->cellWidget(row, 1)); };
    QCOMPARE(spinAt(0)->value(), 1);
    QCOMPARE(spinAt(3)->value(), 80);
    QCOMPARE(table->item(0, 0)->background().color(), QColor(252, 222, 156));
    QCOMPARE(table->item(3, 0)->background().color(), QColor(252, 222, 156));
    QCOMPARE(table->item(7, 0)->background().color(), QColor(221, 221, 221));
    const QStringList log = logTexts();
    QVERIFY(log.at(0).startsWith(QStringLiteral("WIFI:")));
    QVERIFY(log.at(2).startsWith(QStringLiteral("MCU:")));

    // A 03 without payload whose checksum byte reads 01 is no control: the
    // highlighted rows stay, and the responder acknowledges it plainly.
    QVERIFY(m_pty->write(hex("FFFF0005 03 F9 0000 01")));
    replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0), hex("FFFF0005 04 F9 0000 02"));
    QCOMPARE(table->item(0, 0)->background().color(), QColor(252, 222, 156));
    QCOMPARE(table->item(3, 0)->background().color(), QColor(252, 222, 156));

    // The same switched off, its checksum damaged: neither answered nor
    // applied (the status read below still shows the switch on).
    QByteArray damaged = makeFrame(0x03, 0x22, hex("01 01 00 00") + QByteArray(10, '\0'));
    damaged[damaged.size() - 1] = char(damaged.at(damaged.size() - 1) + 1);
    QVERIFY(m_pty->write(damaged));
    QVERIFY(readFrames(1, nullptr, 500).isEmpty());
    QCOMPARE(spinAt(0)->value(), 1);

    // Status read, sequence 0x33: the full status with the query's number.
    QVERIFY(m_pty->write(makeFrame(0x03, 0x33, hex("02"))));
    replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    const QByteArray status = replies.at(0);
    // 20 value bytes: switch area 01, brightness 50, colour temperature at
    // its minimum 2700 (0A 8C), the rest zero.
    QByteArray values = hex("01 50 0A8C") + QByteArray(16, '\0');
    QByteArray expected = hex("FFFF 001A 04 33 0000 03") + values + hex("00");
    ZemTool::setFrameChecksum(expected);
    QCOMPARE(status, expected);
}

void TestMcuWindow::ackWithChecksum03IsNotAStatusReport()
{
    openPort();
    // Control with sequence FA: the ack 00 05 04 FA 00 00 sums to 0x103, so
    // its checksum byte (offset 8) is 03. It must stay an acknowledgement.
    QVERIFY(m_pty->write(makeFrame(0x03, 0xFA, hex("01 00") + QByteArray(12, '\0'))));
    const QList<QByteArray> replies = readFrames(1);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.at(0), hex("FFFF000504FA000003"));
}

void TestMcuWindow::firmwareTransferLandsInFile()
{
    openPort();
    // Start: count 00 03 and a field with an FF in it.
    QVERIFY(m_pty->write(ZemTool::escape(makeFrame(0x19, 0x01, hex("00000000 0003 AAFFBB")))));
    QCOMPARE(readFrames(1).size(), 1);
    QCOMPARE(analyze()->otaCount(), hex("0003"));
    QCOMPARE(analyze()->otaField(), hex("AAFFBB"));

    QByteArray image;
    for (int piece = 0; piece < 5; ++piece) {
        QByteArray data(40, char(piece * 0x33));
        data[3] = char(0xFF);
        image += data;
        QVERIFY(m_pty->write(ZemTool::escape(makeFrame(
            0x1D, 0x10 + piece, ZemTool::numberToBytes(quint32(piece), 2) + hex("0000") + data))));
        QCOMPARE(readFrames(1).size(), 1);
    }
    QCOMPARE(readFile(m_root->file(QStringLiteral("bin/mcu.bin"))), image);

    // The log said what to press, and closing the port mid-transfer says
    // how much arrived and that the image is incomplete, as its marker does.
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    trafficLog()->flush();
    const QStringList log = logTexts();
    QVERIFY(log.filter(QStringLiteral("注意:")).at(0).contains(QStringLiteral("开始接收固件")));
    QVERIFY2(log.last().contains(QStringLiteral("收到 5 片（200 字节）"))
                 && log.last().contains(QStringLiteral("不完整")),
             qPrintable(log.last()));
    QVERIFY(QFile::exists(m_root->file(QStringLiteral("bin/mcu.incomplete"))));

    // With "收到升级请求时自动开始接收" ticked, the 0x1B follows the 0x1A at once.
    QTest::mouseClick(find<QPushButton>("pushButton_setting"), Qt::LeftButton);
    find<QCheckBox>("checkBox_otaautostart")->setChecked(true);
    QTest::mouseClick(find<QPushButton>("pushButton_save"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    QVERIFY(m_pty->write(makeFrame(0x19, 0x02, hex("00000000 0001 AA"))));
    const QList<QByteArray> offer = readFrames(2);
    QCOMPARE(offer.size(), 2);
    QCOMPARE(offer.at(0), makeFrame(0x1A, 0x02));
    QCOMPARE(offer.at(1), McuSimulator::firmwareReadyFrame(tool(), analyze()));
}

void TestMcuWindow::manualSendAndReportOnce()
{
    makeWindow();
    // "自动补全帧" off: the bytes go out as typed.
    find<QCheckBox>("checkBox_complete3")->setChecked(false);
    auto *send = find<QTextEdit>("textEdit_send3");
    send->setPlainText(QStringLiteral("ff ff 0x12 3"));
    QTest::mouseClick(find<QPushButton>("pushButton_send3"), Qt::LeftButton);
    QVERIFY(logTexts().isEmpty()); // port closed: nothing sent or logged

    openPort();
    QTest::mouseClick(find<QPushButton>("pushButton_send3"), Qt::LeftButton);
    const QByteArray expected = QByteArray::fromHex("ff ff 0x12 3");
    QCOMPARE(m_pty->read(expected.size()), expected);
    QCOMPARE(logTexts().value(1), ZemTool::hexText(expected));
    QVERIFY(logTexts().value(0).startsWith(QStringLiteral("SEND:")));

    QTest::mouseClick(find<QPushButton>("pushButton_upload"), Qt::LeftButton);
    QByteArray wire;
    const QList<QByteArray> frames = readFrames(1, &wire);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0), m_window->buildStatusReport());
    QCOMPARE(ZemTool::byteValue(frames.at(0), 4), 0x05);
    QCOMPARE(logTexts().value(3), ZemTool::hexText(wire));
    QVERIFY(logTexts().value(2).startsWith(QStringLiteral("SEND:")));
}

void TestMcuWindow::automaticReports_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("intervalMs");
    QTest::newRow("in range") << QStringLiteral("20") << 20000;
    QTest::newRow("below the dialog's minimum") << QStringLiteral("1") << 3000;
    QTest::newRow("not a number") << QStringLiteral("abc") << 3000;
    QTest::newRow("absurd") << QStringLiteral("999999999") << 300000;
}

void TestMcuWindow::automaticReports()
{
    QFETCH(QString, stored);
    QFETCH(int, intervalMs);
    ZemTool().writeSetting(QStringLiteral("setting/uploadtime"), stored);
    makeWindow();
    auto *button = find<QPushButton>("pushButton_autoupload");
    QTest::mouseClick(button, Qt::LeftButton); // closed port: nothing
    QVERIFY(!uploadTimer()->isActive());
    QCOMPARE(button->text(), QStringLiteral("定时上报开"));

    openPort();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(uploadTimer()->isActive());
    QCOMPARE(uploadTimer()->interval(), intervalMs);
    QCOMPARE(button->text(), QStringLiteral("定时上报关"));
    if (intervalMs == 3000) {
        const QList<QByteArray> reports = readFrames(1, nullptr, 4500);
        QCOMPARE(reports.size(), 1);
        QCOMPARE(reports.at(0), m_window->buildStatusReport());
    }
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!uploadTimer()->isActive());
    QCOMPARE(button->text(), QStringLiteral("定时上报开"));
}

void TestMcuWindow::autoReportsStopWhenPortCloses()
{
    openPort();
    QTest::mouseClick(find<QPushButton>("pushButton_autoupload"), Qt::LeftButton);
    QVERIFY(uploadTimer()->isActive());
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    QVERIFY(!uploadTimer()->isActive());
    QCOMPARE(find<QPushButton>("pushButton_autoupload")->text(), QStringLiteral("定时上报开"));
}

void TestMcuWindow::lostPortIsLoggedAndSelectedAgain()
{
    // The device is offered under a link of the test's own, as a udev name
    // is: unplugging removes it, plugging in again brings the same name back.
    QTemporaryDir links;
    const QString device = links.filePath(QStringLiteral("ttyWIFI"));
    QVERIFY(QFile::link(m_pty->slavePath(), device));
    setExtraPorts({device});
    openPort(device);
    QTest::mouseClick(find<QPushButton>("pushButton_autoupload"), Qt::LeftButton);
    QVERIFY(m_pty->write(makeFrame(0x07, 0x11)));
    QCOMPARE(readFrames(1).size(), 1);
    auto *list = trafficLog();
    list->flush();
    clickLine(1);
    QCOMPARE(find<QLabel>("label_cmd")->text(), QStringLiteral("07"));

    m_pty.reset(); // the adapter is pulled
    QVERIFY(QFile::remove(device));
    QVERIFY(waitUntil([&] { return !port()->isOpen(); }, 3000));
    QVERIFY(waitUntil([&] {
        return find<QPushButton>("pushButton_open3")->text() == QStringLiteral("打开串口");
    }));
    QVERIFY(!uploadTimer()->isActive());
    QCOMPARE(find<QPushButton>("pushButton_autoupload")->text(), QStringLiteral("定时上报开"));
    QVERIFY(!QApplication::activeModalWidget()); // said in the log, no box
    // One notice line: time, port and the system's reason.
    const QRegularExpression lost(QStringLiteral("^注意:\\d\\d:\\d\\d:\\d\\d\\.\\d{3} 串口 ")
                                  + QRegularExpression::escape(device)
                                  + QStringLiteral(" 已断开：\\S"));
    QVERIFY(waitUntil([&] { return logTexts().size() == 5; }));
    QVERIFY2(lost.match(logTexts().at(4)).hasMatch(), qPrintable(logTexts().at(4)));
    clickLine(4); // a notice is never decoded
    QCOMPARE(find<QLabel>("label_cmd")->text(), QStringLiteral("07"));
    QCOMPARE(find<QLabel>("label_length")->text(), QStringLiteral("05"));

    auto *com = find<QComboBox>("com_3");
    QVERIFY(waitUntil([&] { return com->findText(device) < 0; }, 3000));
    // The same device comes back: it is selected again without the user.
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(QFile::link(m_pty->slavePath(), device));
    QVERIFY(waitUntil([&] { return com->findText(device) >= 0; }, 3000));
    QCOMPARE(com->currentText(), device);
    QVERIFY(logTexts().last().contains(QStringLiteral("串口 ") + device
                                       + QStringLiteral(" 已重新接入")));
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    QVERIFY(port()->isOpen());
    QVERIFY(m_pty->write(makeFrame(0x07, 0x12)));
    QCOMPARE(readFrames(1).size(), 1);
}

void TestMcuWindow::productKeyRefusedAcceptedAndFailed()
{
    DefinitionServer server;
    QVERIFY(server.isListening());
    const QString otherKey = QStringLiteral("0123456789abcdef0123456789ABCDEF");
    server.bodies.insert(
        otherKey,
        readFile(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json")).replace("开关", "电源"));
    ZemTool().writeSetting(QStringLiteral("environment/environment"), server.hostPort());
    makeWindow();
    auto *key = find<QLineEdit>("lineEdit_productkey");
    auto *save = find<QPushButton>("pushButton_productkey");
    auto *table = find<QTableWidget>("datapoint_table");

    for (const QString &bad :
         {QStringLiteral("short"), QStringLiteral("../../../../../../../../etc/x.y.z")}) {
        key->setText(bad);
        MessageBoxCatcher box;
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(box.wait());
        QCOMPARE(box.title(), QStringLiteral("错误"));
        QCOMPARE(box.text(), QStringLiteral("输入格式错误"));
    }

    key->setText(otherKey);
    {
        MessageBoxCatcher box(8000);
        QTest::mouseClick(save, Qt::LeftButton);
        QVERIFY(box.wait(8000));
        QCOMPARE(box.title(), QStringLiteral("成功"));
        QCOMPARE(box.text(), QStringLiteral("获取数据点列表成功！"));
    }
    QVERIFY(find<QLabel>("label_jsonstate")->text().endsWith(QStringLiteral(" 数据点列表已更新")));
    QVERIFY(waitUntil(
        [&] { return table->item(0, 0) && table->item(0, 0)->text() == QStringLiteral("电源"); }));
    QVERIFY(
        QFile::exists(m_root->file(QStringLiteral("json/") + otherKey + QStringLiteral(".json"))));

    // A key the service does not know: "失败", the table stays.
    key->setText(QStringLiteral("ffffffffffffffffffffffffffffffff"));
    MessageBoxCatcher box(8000);
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(box.wait(8000));
    QCOMPARE(box.title(), QStringLiteral("失败"));
    QCOMPARE(box.text(), QStringLiteral("获取数据点列表失败，请检查product_key是否正确！"));
    QVERIFY2(box.informativeText().contains(QStringLiteral("\"product_key\":\"unknown\"")),
             qPrintable(box.informativeText()));
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("电源"));
}

void TestMcuWindow::failedFetchIsShownInTheWindow()
{
    // A service that accepts and never answers.
    QTcpServer service;
    QVERIFY(service.listen(QHostAddress::LocalHost, 0));
    ZemTool().writeSetting(QStringLiteral("environment/environment"),
                           QStringLiteral("127.0.0.1:%1").arg(service.serverPort()));
    const QString cache
        = m_root->file(QStringLiteral("json/") + SampleKey + QStringLiteral(".json"));
    const QByteArray cached = readFile(cache);
    makeWindow();
    find<ZemJson>("mcuJson")->setFetchTimeout(300);
    auto *state = find<QLabel>("label_jsonstate");
    auto *table = find<QTableWidget>("datapoint_table");
    const QString firstRow = table->item(0, 0)->text();

    MessageBoxCatcher box;
    QTest::mouseClick(find<QPushButton>("pushButton_updatejson"), Qt::LeftButton);
    QCOMPARE(state->text(), QStringLiteral("正在获取数据点列表…（最长等待0.3秒）"));
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("失败"));
    QCOMPARE(box.text(), QStringLiteral("获取数据点列表失败！"));
    const QString reason = QStringLiteral("0.3秒内没有给出完整答复");
    QVERIFY2(box.informativeText().contains(reason), qPrintable(box.informativeText()));
    QVERIFY(state->text().contains(QStringLiteral("获取数据点列表失败："))
            && state->text().contains(reason));
    // The definition in use and its cache stay as they were.
    QCOMPARE(table->rowCount(), 14);
    QCOMPARE(table->item(0, 0)->text(), firstRow);
    QCOMPARE(readFile(cache), cached);
}

void TestMcuWindow::clickingLogLinesDecodes()
{
    openPort();
    QVERIFY(m_pty->write(makeFrame(0x0D, 0x12, hex("0B21"))));
    QCOMPARE(readFrames(1).size(), 1);
    auto *list = trafficLog();
    list->flush();
    QCOMPARE(list->count(), 4);
    auto *signal = find<QLabel>("label_signal");
    auto *length = find<QLabel>("label_length");

    clickLine(0); // header: nothing changes
    QCOMPARE(signal->text(), QString());
    QCOMPARE(length->text(), QString());

    clickLine(1);
    QCOMPARE(signal->text(), QStringLiteral("03"));
    QCOMPARE(length->text(), QStringLiteral("07"));
    QCOMPARE(find<QLabel>("label_cmd")->text(), QStringLiteral("0d"));
    QCOMPARE(find<QLabel>("label_sn")->text(), QStringLiteral("12"));
    const QStringList expected = analyze()->describe(makeFrame(0x0D, 0x12, hex("0B21")));
    QCOMPARE(find<QLabel>("label_analyze")->text(), expected.value(0));
    QVERIFY(!expected.value(0).isEmpty());
    QCOMPARE(find<QLabel>("label_wifistate")->text(), expected.value(7));
    QCOMPARE(find<QLabel>("label_hasconnect")->text(), expected.value(10));
    QCOMPARE(find<QLabel>("label_time")->text(), QString());

    clickLine(2); // "MCU:" header
    QCOMPARE(signal->text(), QStringLiteral("03"));

    // A status read with sequence FF: the answer goes out with FF 55 and is
    // logged so; clicking it decodes the frame itself.
    QVERIFY(m_pty->write(ZemTool::escape(makeFrame(0x03, 0xFF, hex("02")))));
    QByteArray wire;
    const QList<QByteArray> status = readFrames(1, &wire);
    QCOMPARE(status.size(), 1);
    QVERIFY(wire.contains(hex("FF55")));
    list->flush();
    QCOMPARE(list->count(), 8);
    QCOMPARE(list->lineText(7), ZemTool::hexText(wire));
    auto *checksum = find<QLabel>("label_checksum_2");
    const QString right
        = QString::number(ZemTool::frameChecksum(status.at(0)), 16).rightJustified(2, '0');
    // Read as it stands, the escaped text would give another checksum.
    QVERIFY(analyze()->describe(wire).value(4) != right);
    clickLine(7);
    QCOMPARE(checksum->text(), right);
    QCOMPARE(find<QLabel>("label_sn")->text(), QStringLiteral("ff"));
    QCOMPARE(length->text(), QString::number(status.at(0).size() - 4, 16).rightJustified(2, '0'));
    QVERIFY(checksum->toolTip().isEmpty());

    // A frame whose own checksum byte is wrong is dropped, marked so in its
    // header, and its byte line says why at a glance.
    QVERIFY(m_pty->write(hex("FFFF0005 07 21 0000 99")));
    QVERIFY(readFrames(1, nullptr, 500).isEmpty());
    list->flush();
    QCOMPARE(list->count(), 10);
    QVERIFY2(list->lineText(8).endsWith(QStringLiteral("（校验和错误，已丢弃）")),
             qPrintable(list->lineText(8)));
    clickLine(9);
    QCOMPARE(checksum->text(), QStringLiteral("2d（帧中99）"));
    QVERIFY(checksum->toolTip().contains(QStringLiteral("2d"))
            && checksum->toolTip().contains(QStringLiteral("99")));
    QVERIFY(!checksum->styleSheet().isEmpty());
    clickLine(7);
    QVERIFY(checksum->styleSheet().isEmpty());

    // Typed by hand in wire form: decoded as the module reads it.
    const QByteArray typed = makeFrame(0x0D, 0xFF, hex("0B21"));
    find<QTextEdit>("textEdit_send3")->setPlainText(ZemTool::hexText(ZemTool::escape(typed)));
    QTest::mouseClick(find<QPushButton>("pushButton_send3"), Qt::LeftButton);
    list->flush();
    clickLine(list->count() - 1);
    QCOMPARE(checksum->text(), QString::number(ZemTool::frameChecksum(typed), 16));
}

void TestMcuWindow::commandDialogButtons()
{
    makeWindow();
    const QList<QPair<const char *, const char *>> buttons{
        {"pushButton_airlink", "Defaule/492"},   {"pushButton_softap", "Defaule/491"},
        {"pushButton_reset", "Defaule/4B"},      {"pushButton_gettime", "Defaule/417"},
        {"pushButton_onbording", "Defaule/415"}, {"pushButton_test", "Defaule/413"}};
    // Closed port: nothing is sent or logged.
    for (const auto &b : buttons)
        QTest::mouseClick(find<QPushButton>(b.first), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>("pushButton_startota"), Qt::LeftButton);
    QVERIFY(logTexts().isEmpty());

    openPort();
    QVERIFY(m_pty->readFor(50).isEmpty());
    for (const auto &b : buttons) {
        const QByteArray stored = tool()->readSettingHex(QLatin1String(b.second));
        QVERIFY2(stored.size() >= 9, b.second);
        QTest::mouseClick(find<QPushButton>(b.first), Qt::LeftButton);
        QCOMPARE(m_pty->read(stored.size()), stored);
        QCOMPARE(logTexts().last(), ZemTool::hexText(stored));
        QVERIFY(logTexts().value(logTexts().size() - 2).startsWith(QStringLiteral("SEND:")));
    }
}

void TestMcuWindow::firmwareRequestFrame()
{
    ZemTool().writeSetting(QStringLiteral("setting/otatype"), QStringLiteral("hex"));
    ZemTool().writeSetting(QStringLiteral("setting/otapiece"), QStringLiteral("99"));
    openPort();
    // The module announces firmware with a field holding FF.
    QVERIFY(m_pty->write(ZemTool::escape(makeFrame(0x19, 0x01, hex("00000000 0002 FF01")))));
    QCOMPARE(readFrames(1).size(), 1);

    QTest::mouseClick(find<QPushButton>("pushButton_startota"), Qt::LeftButton);
    QByteArray wire;
    const QList<QByteArray> frames = readFrames(1, &wire);
    QCOMPARE(frames.size(), 1);
    const QByteArray request = frames.at(0);
    const QByteArray stored = tool()->readSettingHex(QStringLiteral("Defaule/41B"));
    QCOMPARE(request.size(), stored.size() + 2 + 2 + 2 + 1);
    QCOMPARE(ZemTool::word16(request, 2), request.size() - 4);
    QCOMPARE(ZemTool::byteValue(request, 4), 0x1B);
    QCOMPARE(ZemTool::byteValue(request, 7), 0x01); // hex transfer
    QCOMPARE(request.mid(stored.size(), 6), hex("0002 FF01 0063"));
    QCOMPARE(ZemTool::byteValue(request, request.size() - 1), int(ZemTool::frameChecksum(request)));
    QCOMPARE(wire, ZemTool::escape(request)); // the FF of the field went out as FF 55
    QVERIFY(logTexts().value(logTexts().size() - 2).startsWith(QStringLiteral("MCU:")));
    QCOMPARE(logTexts().last(), ZemTool::hexText(wire));

    // With "bin" byte 7 stays as the stored frame has it.
    ZemTool().writeSetting(QStringLiteral("setting/otatype"), QStringLiteral("bin"));
    tool()->writeSetting(QStringLiteral("setting/otatype"), QStringLiteral("bin"));
    QTest::mouseClick(find<QPushButton>("pushButton_startota"), Qt::LeftButton);
    const QList<QByteArray> again = readFrames(1);
    QCOMPARE(again.size(), 1);
    QCOMPARE(ZemTool::byteValue(again.at(0), 7), ZemTool::byteValue(stored, 7));

    // A hand-edited piece size of 65535 would make piece frames whose length
    // reads FF xx, which no receiver can tell from a stray FF: it is capped.
    tool()->writeSetting(QStringLiteral("setting/otapiece"), QStringLiteral("65535"));
    QTest::mouseClick(find<QPushButton>("pushButton_startota"), Qt::LeftButton);
    const QList<QByteArray> capped = readFrames(1);
    QCOMPARE(capped.size(), 1);
    const int piece = ZemTool::word16(capped.at(0), capped.at(0).size() - 3);
    QCOMPARE(piece, 0xFF00 - 14);

    // A stored request too short to hold the fields sends nothing.
    tool()->writeSetting(QStringLiteral("Defaule/41B"), QStringLiteral("FF FF 00 05 1B 00 00 "));
    QTest::mouseClick(find<QPushButton>("pushButton_startota"), Qt::LeftButton);
    QVERIFY(m_pty->read(1, 300).isEmpty());
}

void TestMcuWindow::settingsDialogLoadAndSave()
{
    ZemTool tool;
    tool.writeSetting(QStringLiteral("setting/uploadtime"), QStringLiteral("1"));
    tool.writeSetting(QStringLiteral("setting/otapiece"), QStringLiteral("150"));
    tool.writeSetting(QStringLiteral("setting/otatype"), QStringLiteral("bin"));
    tool.writeSetting(QStringLiteral("setting/moduletype"), QStringLiteral("satellite"));
    tool.writeSetting(QStringLiteral("setting/softver"), QStringLiteral("SW000009"));
    makeWindow();
    auto *dialog = topLevel("McuSettingWindow");
    find<QComboBox>("comboBox_moduletype")->setCurrentIndex(0); // "central"
    QTest::mouseClick(find<QPushButton>("pushButton_setting"), Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QCOMPARE(find<QSpinBox>("spinBox_upload")->text(), QStringLiteral("3"));
    QCOMPARE(find<QSpinBox>("spinBox_ota")->text(), QStringLiteral("99"));
    QCOMPARE(find<QComboBox>("comboBox")->currentText(), QStringLiteral("bin"));
    QCOMPARE(find<QComboBox>("comboBox_moduletype")->currentText(), QStringLiteral("central"));
    QCOMPARE(find<QLineEdit>("lineEdit_softver")->text(), QStringLiteral("SW000009"));
    QCOMPARE(find<QLineEdit>("lineEdit_softver")->maxLength(), 8);

    find<QLineEdit>("lineEdit_enviroment")->setText(QStringLiteral("127.0.0.1:9999"));
    QTest::mouseClick(find<QPushButton>("pushButton_save"), Qt::LeftButton);
    QVERIFY(dialog->isHidden());
    const QString text = m_root->settingsText();
    QVERIFY2(text.contains(QStringLiteral("uploadtime=3")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("otapiece=99")));
    QVERIFY(text.contains(QStringLiteral("moduletype=central")));
    QVERIFY(text.contains(QStringLiteral("environment=127.0.0.1:9999")));

    // The command dialog's button toggles it.
    QTest::mouseClick(find<QPushButton>("pushButton_showcmd"), Qt::LeftButton);
    QVERIFY(topLevel("McuCmdWindow")->isVisible());
    QTest::mouseClick(find<QPushButton>("pushButton_showcmd"), Qt::LeftButton);
    QVERIFY(topLevel("McuCmdWindow")->isHidden());
}

void TestMcuWindow::choicesComeBackAfterARestart()
{
    openPort();
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    find<QComboBox>("rate_3")->setCurrentIndex(10);
    find<QComboBox>("check_3")->setCurrentIndex(1);
    auto *key = find<QLineEdit>("lineEdit_productkey");
    QCOMPARE(key->text(), SampleKey); // before anything was typed: the stored key
    QTest::keyClick(key, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(key, QStringLiteral("typed, not saved"));

    // 亮度 (row 3), 模式 (row 1) and 场景数据 (row 6) by the user, 开关 (row
    // 0) by the module's control frame.
    auto *table = find<QTableWidget>("datapoint_table");
    const int brightnessAtStart = qobject_cast<QSpinBox *>(table->cellWidget(3, 1))->value();
    QVERIFY(brightnessAtStart != 80);
    qobject_cast<QSpinBox *>(table->cellWidget(3, 1))->setValue(80);
    qobject_cast<QComboBox *>(table->cellWidget(1, 1))->setCurrentIndex(2);
    QTest::keyClicks(qobject_cast<QLineEdit *>(table->cellWidget(6, 1)), QStringLiteral("A1b"));
    m_window->applyControlFrame(makeFrame(0x03, 0x05, hex("01 01 01 00") + QByteArray(10, '\0')));
    QCOMPARE(qobject_cast<QSpinBox *>(table->cellWidget(0, 1))->value(), 1);
    const QByteArray report = m_window->buildStatusReport();

    m_window.reset();
    makeWindow();
    table = find<QTableWidget>("datapoint_table");
    QCOMPARE(find<QComboBox>("com_3")->currentText(), m_pty->slavePath());
    QCOMPARE(find<QComboBox>("rate_3")->currentText(), QStringLiteral("115200"));
    QCOMPARE(find<QComboBox>("check_3")->currentIndex(), 1);
    QCOMPARE(find<QComboBox>("data_3")->currentIndex(), 3);
    QVERIFY(!port()->isOpen());
    QCOMPARE(find<QLineEdit>("lineEdit_productkey")->text(), QStringLiteral("typed, not saved"));
    QCOMPARE(find<QLineEdit>("lineEdit_productkey")->cursorPosition(), 0); // its start shows
    QCOMPARE(tool()->readSetting(QStringLiteral("product_key/key")), SampleKey);
    QCOMPARE(qobject_cast<QSpinBox *>(table->cellWidget(0, 1))->value(), 1);
    QCOMPARE(qobject_cast<QSpinBox *>(table->cellWidget(3, 1))->value(), 80);
    QCOMPARE(qobject_cast<QComboBox *>(table->cellWidget(1, 1))->currentIndex(), 2);
    QCOMPARE(qobject_cast<QLineEdit *>(table->cellWidget(6, 1))->text(), QStringLiteral("A1b"));
    QCOMPARE(m_window->buildStatusReport(), report);

    // The values belong to their product: another key with the same
    // definition starts from the defaults.
    m_window.reset();
    const QString otherKey = QStringLiteral("0f1e2d3c4b5a69788796a5b4c3d2e1f0");
    QVERIFY(
        QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                    m_root->file(QStringLiteral("json/") + otherKey + QStringLiteral(".json"))));
    {
        ZemTool settings;
        settings.writeSetting(QStringLiteral("product_key/key"), otherKey);
    }
    makeWindow();
    table = find<QTableWidget>("datapoint_table");
    QCOMPARE(table->rowCount(), 14);
    QCOMPARE(qobject_cast<QSpinBox *>(table->cellWidget(3, 1))->value(), brightnessAtStart);
    QCOMPARE(qobject_cast<QSpinBox *>(table->cellWidget(0, 1))->value(), 0);
}

void TestMcuWindow::rememberedPortIsTakenWhenItAppears()
{
    QTemporaryDir links;
    const QString later = links.filePath(QStringLiteral("ttyLATER"));
    setExtraPorts({m_pty->slavePath(), later});
    {
        ZemTool settings;
        settings.writeSetting(SettingKeys::portNameKey(SettingKeys::McuPortGroup), later);
    }
    makeWindow();
    auto *com = find<QComboBox>("com_3");
    QCOMPARE(com->currentText(), later + QStringLiteral("（未连接）"));
    QVERIFY(com->findText(m_pty->slavePath()) >= 0);

    // Plugged in after the start: the window's own port poll finds it.
    QVERIFY(QFile::link(m_pty->slavePath(), later));
    QVERIFY(waitUntil([&] { return com->currentText() == later; }, 3000));
    QCOMPARE(com->findText(later + QStringLiteral("（未连接）")), -1);
    QTest::mouseClick(find<QPushButton>("pushButton_open3"), Qt::LeftButton);
    QVERIFY(port()->isOpen());
    QTest::mouseClick(find<QPushButton>("pushButton_upload"), Qt::LeftButton);
    const QList<QByteArray> frames = readFrames(1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.at(0).at(4), char(0x05));
    // Nothing was lost in this run: no "重新接入" notice.
    QVERIFY(!logTexts().join(QLatin1Char('\n')).contains(QStringLiteral("重新接入")));
}

QTEST_MAIN(TestMcuWindow)
#include "tst_mcuwindow.moc"
