// SPDX-License-Identifier: GPL-3.0-or-later
// The protocol analyzer window in the real main window: opened from the two
// line tabs, fed live through real pseudo-terminals, filtered, copied and
// exported, recording and opening capture files, and the detail pane with a
// product's data-point definition.
#include "testsupport.h"

#include "analyzer/frameanalyzer.h"
#include "analyzer/framefieldmodel.h"
#include "analyzer/framelistmodel.h"
#include "analyzer/liveanalysis.h"
#include "analyzerwindow/analyzerwindow.h"
#include "app/mainwindow.h"
#include "capture/capturereader.h"
#include "capture/capturewriter.h"
#include "capture/linemonitor.h"
#include "capture/sessionrecorder.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/datapointvalues.h"
#include "dual/doublewindow.h"
#include "mcu/mcuwindow.h"
#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"
#include "widgets/hexdumpview.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QString LampKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
const QString McuToModule = QStringLiteral("MCU→模组");
const QString ModuleToMcu = QStringLiteral("模组→MCU");
constexpr int DualTab = 0;
constexpr int McuTab = 1;

template <typename T> T *find(QWidget *root, const char *name)
{
    T *w = root->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qWarning("no widget %s", name);
    return w;
}

DataPointDefinition lamp()
{
    QFile f(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"));
    if (!f.open(QIODevice::ReadOnly))
        return DataPointDefinition();
    return DataPointDefinition::fromJson(QJsonDocument::fromJson(f.readAll()).object());
}

// Hex with the blanks taken out, for comparing texts that space bytes
// differently.
QString packedHex(QString text)
{
    return text.remove(QLatin1Char(' ')).toUpper();
}

// Accepts the next file dialog that opens with `path`, typed whole into
// its file name box. The dialog reads its folder on a thread of its own, so
// the first accept may come too early; it is repeated until the dialog is
// gone.
void acceptNextFileDialog(const QString &path)
{
    auto *timer = new QTimer;
    timer->setInterval(50);
    auto seen = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, path, seen] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (*seen)
                timer->deleteLater();
            return;
        }
        *seen = true;
        if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            name->setText(path);
        else
            dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    timer->start();
    QTimer::singleShot(20000, timer, &QObject::deleteLater);
}

} // namespace

class TestAnalyzerWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensFromBothLineTabs_data();
    void opensFromBothLineTabs();
    void otherTabsHaveNoAnalyzer();
    void dualLineLiveDecodedAndPaired();
    void mcuTabLiveRequestAndAutomaticReply();
    void framesBeforeTheWindowOpened();
    void filters();
    void noReplyWithinTheUsersLimit();
    void followsTheBottomUnlessScrolledUp();
    void copyRowsAsHexAndText();
    void csvOfTheFilteredList();
    void recordedSessionOpensWithTheSameRows();
    void autoRecordStartsWhenAPortOpens_data();
    void autoRecordStartsWhenAPortOpens();
    void captureFileFromTheWriter();
    void cutAndForeignCaptureFiles();
    void detailPaneWithDefinition();
    void countersPerDirectionAndProblem();
    void pairsNavigateAndStatisticsCopy();

private:
    void makeWindow(int tab);
    AnalyzerWindow *openAnalyzer(bool byShortcut = false);
    bool openDualSides();
    // Feeds wire bytes of one direction through the tab's monitor and waits
    // until the window lists `rows` rows in all.
    bool feed(LineDirection direction, const QByteArray &wire, int rows);
    QStringList shownRows() const;

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<MainWindow> m_main;
    AnalyzerWindow *m_analyzer = nullptr;
    int m_tab = DualTab;
    std::unique_ptr<PtyPair> m_mcu;    // the device on dual side 1, or the module of the MCU tab
    std::unique_ptr<PtyPair> m_module; // the device on dual side 2
};

void TestAnalyzerWindow::initTestCase()
{
    QApplication::clipboard()->clear();
}

void TestAnalyzerWindow::init()
{
    m_root = std::make_unique<TestRoot>();
    // A product key of its own (no first-use hint on the MCU tab) with its
    // definition in the cache.
    ZemTool tool;
    tool.writeSetting(SettingKeys::ProductKey, LampKey);
    QVERIFY(QDir().mkpath(m_root->file(QStringLiteral("json"))));
    QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                        m_root->file(QStringLiteral("json/%1.json").arg(LampKey))));
    m_mcu = std::make_unique<PtyPair>();
    m_module = std::make_unique<PtyPair>();
    QVERIFY(m_mcu->isValid() && m_module->isValid());
    setExtraPorts({m_mcu->slavePath(), m_module->slavePath()});
}

void TestAnalyzerWindow::cleanup()
{
    m_analyzer = nullptr;
    m_main.reset();
    m_mcu.reset();
    m_module.reset();
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
}

// --- helpers -----------------------------------------------------------------

void TestAnalyzerWindow::makeWindow(int tab)
{
    m_tab = tab;
    m_main = std::make_unique<MainWindow>();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    find<QTabWidget>(m_main.get(), "tabWidget")->setCurrentIndex(tab);
}

AnalyzerWindow *TestAnalyzerWindow::openAnalyzer(bool byShortcut)
{
    if (byShortcut) {
        QApplication::setActiveWindow(m_main.get());
        if (!QTest::qWaitForWindowActive(m_main.get()))
            return nullptr;
        QTest::keyClick(m_main.get(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    } else {
        QTest::mouseClick(find<QPushButton>(m_main.get(), "pushButton_analyzer"), Qt::LeftButton);
    }
    m_analyzer = m_main->analyzerWindow(m_tab);
    if (m_analyzer && !QTest::qWaitForWindowExposed(m_analyzer))
        return nullptr;
    return m_analyzer;
}

bool TestAnalyzerWindow::openDualSides()
{
    return ::openDualSides(m_main->doubleWindow(), m_mcu->slavePath(), m_module->slavePath());
}

bool TestAnalyzerWindow::feed(LineDirection direction, const QByteArray &wire, int rows)
{
    LineMonitor *monitor = m_main->lineMonitor(m_tab);
    monitor->addBytes(direction, QStringLiteral("ttyTEST"), wire);
    monitor->flush();
    return waitUntil([&] { return m_analyzer->model()->rowCount() == rows; });
}

QStringList TestAnalyzerWindow::shownRows() const
{
    QStringList rows;
    FrameListModel *model = m_analyzer->model();
    for (int r = 0; r < model->rowCount(); ++r)
        rows.append(model->rowText(r));
    return rows;
}

// --- opening -----------------------------------------------------------------

void TestAnalyzerWindow::opensFromBothLineTabs_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("byShortcut");
    QTest::newRow("dual tab, button") << DualTab << false;
    QTest::newRow("dual tab, Ctrl+Shift+A") << DualTab << true;
    QTest::newRow("simulated-MCU tab, button") << McuTab << false;
    QTest::newRow("simulated-MCU tab, Ctrl+Shift+A") << McuTab << true;
}

void TestAnalyzerWindow::opensFromBothLineTabs()
{
    QFETCH(int, tab);
    QFETCH(bool, byShortcut);
    makeWindow(tab);
    auto *tabs = find<QTabWidget>(m_main.get(), "tabWidget");
    // Beside the tabs, not on a page.
    auto *button = find<QPushButton>(m_main.get(), "pushButton_analyzer");
    QCOMPARE(tabs->cornerWidget(Qt::TopRightCorner), button);
    QCOMPARE(button->text(), QStringLiteral("协议分析"));
    QVERIFY(button->isEnabled());
    // The monitor and recorder are there before any window.
    QVERIFY(m_main->lineMonitor(tab));
    QVERIFY(m_main->sessionRecorder(tab));
    QVERIFY(!m_main->analyzerWindow(tab));

    AnalyzerWindow *w = openAnalyzer(byShortcut);
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QVERIFY(w->isWindow());
    QVERIFY(!w->isModal());
    QCOMPARE(w->windowTitle(), QStringLiteral("协议分析"));
    QCOMPARE(w->source(),
             tab == DualTab ? AnalyzerWindow::Source::Dual : AnalyzerWindow::Source::Mcu);
    // Only the dual tab asks which side is the MCU.
    QCOMPARE(find<QComboBox>(w, "comboBox_mcuSide")->isVisible(), tab == DualTab);
    QVERIFY(find<QLabel>(w, "label_source")->text().startsWith(QStringLiteral("实时：")));
    // The window resizes; the main window and its pages do not change.
    // Fits a small laptop screen.
    QVERIFY2(w->minimumSizeHint().width() <= 1000 && w->minimumSizeHint().height() <= 600,
             qPrintable(QStringLiteral("%1×%2")
                            .arg(w->minimumSizeHint().width())
                            .arg(w->minimumSizeHint().height())));
    w->resize(1300, 900);
    QVERIFY(waitUntil([&] { return w->size() == QSize(1300, 900); }));
    QCOMPARE(m_main->size(), tab == DualTab ? QSize(600, 600) : QSize(950, 600));
    QCOMPARE(tabs->count(), 4);

    // Closed and opened again: the same window, raised.
    w->close();
    QVERIFY(!w->isVisible());
    QCOMPARE(openAnalyzer(!byShortcut), w);
    QVERIFY(w->isVisible());
}

void TestAnalyzerWindow::otherTabsHaveNoAnalyzer()
{
    makeWindow(2);
    auto *button = find<QPushButton>(m_main.get(), "pushButton_analyzer");
    QVERIFY(!button->isEnabled());
    m_main->openAnalyzer();
    QTest::keyClick(m_main.get(), Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(!m_main->analyzerWindow(DualTab) && !m_main->analyzerWindow(McuTab));
    find<QTabWidget>(m_main.get(), "tabWidget")->setCurrentIndex(DualTab);
    QVERIFY(button->isEnabled());
}

// --- live --------------------------------------------------------------------

void TestAnalyzerWindow::dualLineLiveDecodedAndPaired()
{
    makeWindow(DualTab);
    QVERIFY(openDualSides());
    QVERIFY(openAnalyzer());
    FrameListModel *model = m_analyzer->model();
    FrameAnalyzer *analyzer = m_analyzer->analyzer();

    // The module boots, asks for a heartbeat; the MCU answers. The bridge
    // carries each to the other device; the analyzer sees each once.
    QVERIFY(m_module->write(QByteArray("boot ok\r\n")));
    QVERIFY(waitUntil([&] { return model->rowCount() == 1; }));
    QVERIFY(m_module->write(makeFrame(0x07, 5)));
    QCOMPARE(m_mcu->read(9 + 9), QByteArray("boot ok\r\n") + makeFrame(0x07, 5));
    QVERIFY(m_mcu->write(makeFrame(0x08, 5)));
    QVERIFY(waitUntil([&] { return model->rowCount() == 3; }));
    QCOMPARE(m_module->read(9), makeFrame(0x08, 5));

    QCOMPARE(model->cellText(0, FrameListModel::DirectionColumn), ModuleToMcu);
    QCOMPARE(analyzer->record(model->rowId(0)).kind, SegmentKind::Other);
    QVERIFY(model->rowText(0).contains(QStringLiteral("boot ok")));
    const FrameRecord &request = analyzer->record(model->rowId(1));
    const FrameRecord &reply = analyzer->record(model->rowId(2));
    QCOMPARE(model->cellText(1, FrameListModel::DirectionColumn), ModuleToMcu);
    QCOMPARE(model->cellText(2, FrameListModel::DirectionColumn), McuToModule);
    QCOMPARE(int(request.command), 0x07);
    QCOMPARE(int(reply.command), 0x08);
    QCOMPARE(request.pairId, model->rowId(2));
    QCOMPARE(reply.pairId, model->rowId(1));
    QVERIFY(reply.latencyUs >= 0);
    QCOMPARE(request.problems & FrameProblem::NoReply, 0);
    QVERIFY(!model->cellText(1, FrameListModel::PairColumn).isEmpty());
    QVERIFY(!model->cellText(2, FrameListModel::PairColumn).isEmpty());

    // Sent by hand to side 2 (the module): one row toward the module, and
    // nothing doubled by the bridge.
    DoubleWindow *dual = m_main->doubleWindow();
    QSignalSpy batches(m_main->lineMonitor(DualTab), &LineMonitor::segments);
    QTest::mouseClick(find<QPushButton>(dual, "pushButton_v4"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>(dual, "pushButton_right1"), Qt::LeftButton);
    QCOMPARE(m_module->read(9), hex("FF FF 00 05 0B 00 00 00 10"));
    QVERIFY(waitUntil([&] { return model->rowCount() == 4; }));
    QCOMPARE(model->cellText(3, FrameListModel::DirectionColumn), McuToModule);
    QCOMPARE(int(analyzer->record(model->rowId(3)).command), 0x0B);
    // Recorded under the port it was written to.
    QVERIFY(!batches.isEmpty());
    const auto sent = batches.last().at(0).value<QVector<LineSegment>>();
    const QStringList sentPorts = batches.last().at(1).toStringList();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).wire, hex("FF FF 00 05 0B 00 00 00 10"));
    QCOMPARE(sentPorts, QStringList{m_module->slavePath()});

    // Side 2 is the MCU after all: from now on its bytes go the other way.
    auto *side = find<QComboBox>(m_analyzer, "comboBox_mcuSide");
    side->setCurrentIndex(1);
    QCOMPARE(m_analyzer->mcuSide(), 2);
    QVERIFY(m_module->write(makeFrame(0x05, 6, hex("04 00"))));
    QVERIFY(waitUntil([&] { return model->rowCount() == 5; }));
    QCOMPARE(model->cellText(4, FrameListModel::DirectionColumn), McuToModule);
    QVERIFY(m_mcu->write(makeFrame(0x06, 6)));
    QVERIFY(waitUntil([&] { return model->rowCount() == 6; }));
    QCOMPARE(model->cellText(5, FrameListModel::DirectionColumn), ModuleToMcu);
    QCOMPARE(analyzer->record(model->rowId(5)).pairId, model->rowId(4));
    QTest::qWait(50);
    QCOMPARE(model->rowCount(), 6);
}

void TestAnalyzerWindow::mcuTabLiveRequestAndAutomaticReply()
{
    makeWindow(McuTab);
    McuWindow *mcu = m_main->mcuWindow();
    auto *com = find<QComboBox>(mcu, "com_3");
    mcu->port()->getComList();
    QVERIFY(waitUntil([&] { return com->findText(m_mcu->slavePath()) >= 0; }));
    com->setCurrentIndex(com->findText(m_mcu->slavePath()));
    QTest::mouseClick(find<QPushButton>(mcu, "pushButton_open3"), Qt::LeftButton);
    QVERIFY(mcu->port()->isOpen());
    QVERIFY(openAnalyzer(true));
    FrameListModel *model = m_analyzer->model();

    // The module asks; the simulated MCU answers by itself.
    QVERIFY(m_mcu->write(makeFrame(0x07, 0x2A)));
    const QByteArray answer = m_mcu->read(9);
    QCOMPARE(Frame::commandCode(answer), 0x08);
    QVERIFY(waitUntil([&] { return model->rowCount() == 2; }));
    QCOMPARE(model->cellText(0, FrameListModel::DirectionColumn), ModuleToMcu);
    QCOMPARE(model->cellText(1, FrameListModel::DirectionColumn), McuToModule);
    const FrameRecord &reply = m_analyzer->analyzer()->record(model->rowId(1));
    QCOMPARE(int(reply.command), 0x08);
    QCOMPARE(int(reply.sequence), 0x2A);
    QCOMPARE(reply.pairId, model->rowId(0));
    QCOMPARE(m_analyzer->analyzer()->wire(model->rowId(1)), answer);
}

void TestAnalyzerWindow::framesBeforeTheWindowOpened()
{
    // The port opens and the line carries a request, its automatic reply
    // and boot text while no analyzer window exists yet.
    makeWindow(McuTab);
    McuWindow *mcu = m_main->mcuWindow();
    auto *com = find<QComboBox>(mcu, "com_3");
    mcu->port()->getComList();
    QVERIFY(waitUntil([&] { return com->findText(m_mcu->slavePath()) >= 0; }));
    com->setCurrentIndex(com->findText(m_mcu->slavePath()));
    QTest::mouseClick(find<QPushButton>(mcu, "pushButton_open3"), Qt::LeftButton);
    QVERIFY(mcu->port()->isOpen());
    QVERIFY(m_mcu->write(QByteArray("ready\n")));
    QVERIFY(m_mcu->write(makeFrame(0x07, 0x33)));
    QCOMPARE(Frame::commandCode(m_mcu->read(9)), 0x08);
    LiveAnalysis *live = m_main->liveAnalysis(McuTab);
    QVERIFY(live);
    QVERIFY(waitUntil([&] { return live->model()->rowCount() == 3; }));
    QVERIFY(!m_main->analyzerWindow(McuTab));

    // Opened now, the window lists them, paired, and shows their fields.
    QVERIFY(openAnalyzer());
    QCOMPARE(m_analyzer->model(), live->model());
    auto *view = find<QTableView>(m_analyzer, "tableView_frames");
    QCOMPARE(view->model()->rowCount(), 3);
    FrameListModel *model = m_analyzer->model();
    QVERIFY(model->rowText(0).contains(QStringLiteral("ready")));
    QCOMPARE(model->cellText(1, FrameListModel::DirectionColumn), ModuleToMcu);
    QCOMPARE(model->cellText(2, FrameListModel::DirectionColumn), McuToModule);
    QCOMPARE(m_analyzer->analyzer()->record(model->rowId(1)).pairId, model->rowId(2));
    QVERIFY(find<QLabel>(m_analyzer, "label_counters")
                ->text()
                .contains(QStringLiteral("模组→MCU：1帧")));
    view->selectRow(1);
    auto *fields = find<QTableView>(m_analyzer, "tableWidget_fields");
    QVERIFY(fields->model()->rowCount() > 5);
    QCOMPARE(find<HexDumpView>(m_analyzer, "plainTextEdit_bytes")->bytes(), makeFrame(0x07, 0x33));
}

void TestAnalyzerWindow::filters()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    FrameListModel *model = m_analyzer->model();
    FrameAnalyzer *analyzer = m_analyzer->analyzer();
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x07, 1), 1));
    QVERIFY(feed(LineDirection::McuToModule, makeFrame(0x08, 1), 2));
    QVERIFY(feed(LineDirection::McuToModule, makeFrame(0x05, 2, hex("04 DE AD")), 3));
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x06, 2), 4));
    QByteArray bad = makeFrame(0x0E, 3);
    bad[bad.size() - 1] = char(bad.at(bad.size() - 1) + 1);
    QVERIFY(feed(LineDirection::McuToModule, bad, 5));
    QVERIFY(feed(LineDirection::ModuleToMcu, QByteArray("xyz\n"), 6));

    auto *direction = find<QComboBox>(m_analyzer, "comboBox_direction");
    direction->setCurrentIndex(direction->findText(McuToModule));
    QCOMPARE(model->rowCount(), 3);
    for (int r = 0; r < model->rowCount(); ++r)
        QCOMPARE(model->cellText(r, FrameListModel::DirectionColumn), McuToModule);
    direction->setCurrentIndex(0);
    QCOMPARE(model->rowCount(), 6);

    auto *command = find<QComboBox>(m_analyzer, "comboBox_command");
    command->setCurrentIndex(command->findData(0x05));
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(int(analyzer->record(model->rowId(0)).command), 0x05);
    command->setCurrentIndex(0);

    QTest::mouseClick(find<QCheckBox>(m_analyzer, "checkBox_problems"), Qt::LeftButton);
    QVERIFY(model->rowCount() >= 2); // the bad checksum and the noise at least
    QVERIFY(model->rowCount() < 6);
    for (int r = 0; r < model->rowCount(); ++r)
        QVERIFY(analyzer->record(model->rowId(r)).problems != 0);
    QTest::mouseClick(find<QCheckBox>(m_analyzer, "checkBox_problems"), Qt::LeftButton);
    QCOMPARE(model->rowCount(), 6);

    // Text search: bytes in hex, and the describer's texts.
    auto *search = find<QLineEdit>(m_analyzer, "lineEdit_search");
    QTest::keyClicks(search, QStringLiteral("de ad"));
    QVERIFY(waitUntil([&] { return model->rowCount() == 1; }));
    QCOMPARE(int(analyzer->record(model->rowId(0)).command), 0x05);
    search->setText(QStringLiteral("心跳"));
    QVERIFY(waitUntil([&] { return model->rowCount() == 2; }));
    search->clear();
    QVERIFY(waitUntil([&] { return model->rowCount() == 6; }));

    // Filters combine, and new rows are filtered as they arrive.
    direction->setCurrentIndex(direction->findText(ModuleToMcu));
    command->setCurrentIndex(command->findData(0x07));
    QCOMPARE(model->rowCount(), 1);
    QVERIFY(feed(LineDirection::McuToModule, makeFrame(0x07, 9), 1));
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x07, 9), 2));
}

void TestAnalyzerWindow::noReplyWithinTheUsersLimit()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    auto *limit = find<QSpinBox>(m_analyzer, "spinBox_replyLimit");
    QCOMPARE(limit->value(), 200);
    limit->setValue(60);
    QCOMPARE(m_analyzer->analyzer()->replyLimitUs(), qint64(60000));
    FrameListModel *model = m_analyzer->model();
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x07, 4), 1));
    // Marked by the window's own clock, with no further traffic.
    QVERIFY(waitUntil([&] {
        return (m_analyzer->analyzer()->record(model->rowId(0)).problems & FrameProblem::NoReply)
            != 0;
    }));
    QVERIFY(!model->cellText(0, FrameListModel::ProblemColumn).isEmpty());
}

void TestAnalyzerWindow::followsTheBottomUnlessScrolledUp()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    auto *view = find<QTableView>(m_analyzer, "tableView_frames");
    QByteArray many;
    for (int i = 0; i < 300; ++i)
        many += makeFrame(0x05, i & 0xFF, hex("04 01"));
    QVERIFY(feed(LineDirection::McuToModule, many, 300));
    QScrollBar *bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(waitUntil([&] { return bar->value() == bar->maximum(); }));

    bar->setValue(0);
    QVERIFY(feed(LineDirection::McuToModule, many, 600));
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 0);

    bar->setValue(bar->maximum());
    QVERIFY(feed(LineDirection::McuToModule, many, 900));
    QVERIFY(waitUntil([&] { return bar->value() == bar->maximum(); }));
}

// --- copy and export ---------------------------------------------------------

void TestAnalyzerWindow::copyRowsAsHexAndText()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    FrameListModel *model = m_analyzer->model();
    const QByteArray request = makeFrame(0x07, 1);
    // A payload FF goes escaped on the wire; copying gives the line's bytes.
    const QByteArray report = ZemTool::escape(makeFrame(0x05, 2, hex("04 FF 10")));
    QVERIFY(feed(LineDirection::ModuleToMcu, request, 1));
    QVERIFY(feed(LineDirection::McuToModule, hex("00 11"), 2));
    QVERIFY(feed(LineDirection::McuToModule, report, 3));

    auto *view = find<QTableView>(m_analyzer, "tableView_frames");
    view->selectionModel()->select(model->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view->selectionModel()->select(model->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);

    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_copyHex"), Qt::LeftButton);
    const QStringList hexLines
        = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(hexLines.size(), 2);
    QCOMPARE(packedHex(hexLines.at(0)), packedHex(ZemTool::hexText(request)));
    QCOMPARE(packedHex(hexLines.at(1)), packedHex(ZemTool::hexText(report)));

    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_copyText"), Qt::LeftButton);
    const QString text = QApplication::clipboard()->text();
    QCOMPARE(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             QStringList({model->rowText(0), model->rowText(2)}));

    QApplication::clipboard()->clear();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void TestAnalyzerWindow::csvOfTheFilteredList()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    FrameListModel *model = m_analyzer->model();
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x07, 1), 1));
    QVERIFY(feed(LineDirection::McuToModule, makeFrame(0x08, 1), 2));
    QVERIFY(feed(LineDirection::McuToModule, QByteArray("hello, \"line\"\n"), 3));
    auto *direction = find<QComboBox>(m_analyzer, "comboBox_direction");
    direction->setCurrentIndex(direction->findText(McuToModule));
    QCOMPARE(model->rowCount(), 2);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames.csv"));
    acceptNextFileDialog(path);
    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_exportCsv"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return QFile::exists(path); }));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString csv = QString::fromUtf8(f.readAll());
    QCOMPARE(csv, model->toCsv());
    // A header and the two shown rows: the module's request is filtered out.
    QCOMPARE(csv.count(QLatin1Char('\n')), 3);
    QVERIFY(csv.contains(McuToModule));
    QVERIFY(!csv.contains(ModuleToMcu));
    QVERIFY(csv.contains(QStringLiteral("\"\"line\"\"")));

    // A folder that cannot take the file: nothing written, and why.
    const QString blocked = dir.filePath(QStringLiteral("no/such/folder/frames.csv"));
    QString error;
    QVERIFY(!m_analyzer->exportCsv(blocked, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(blocked));
}

// --- captures ----------------------------------------------------------------

void TestAnalyzerWindow::recordedSessionOpensWithTheSameRows()
{
    makeWindow(DualTab);
    QVERIFY(openDualSides());
    QVERIFY(openAnalyzer());
    auto *record = find<QPushButton>(m_analyzer, "pushButton_record");
    QCOMPARE(record->text(), QStringLiteral("开始录制"));
    QTest::mouseClick(record, Qt::LeftButton);
    SessionRecorder *recorder = m_main->sessionRecorder(DualTab);
    QVERIFY(recorder->isRecording());
    QCOMPARE(record->text(), QStringLiteral("停止录制"));
    QVERIFY(
        find<QLabel>(m_analyzer, "label_recording")->text().startsWith(QStringLiteral("录制中")));

    // Through the real line: the module's request with an escaped FF, the
    // MCU's answer, boot text.
    QVERIFY(m_module->write(ZemTool::escape(makeFrame(0x03, 0xFF, hex("02")))));
    QVERIFY(m_mcu->write(ZemTool::escape(makeFrame(0x04, 0xFF, hex("03 01 FF 00")))));
    QVERIFY(m_module->write(QByteArray("wifi up\n")));
    FrameListModel *live = m_analyzer->model();
    QVERIFY(waitUntil([&] { return live->rowCount() == 3; }));
    const QStringList liveRows = shownRows();
    QTest::mouseClick(record, Qt::LeftButton);
    QVERIFY(!recorder->isRecording());
    const QString path = recorder->filePath();
    QVERIFY(QFile::exists(path));
    QVERIFY(path.startsWith(SessionRecorder::captureDir()));

    // Opened with the button: the same rows, and the window says so.
    acceptNextFileDialog(path);
    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_openCapture"), Qt::LeftButton);
    QVERIFY(waitUntil([&] { return m_analyzer->showsFile(); }));
    QVERIFY(m_analyzer->model() != live);
    QCOMPARE(shownRows(), liveRows);
    QVERIFY(find<QLabel>(m_analyzer, "label_source")->text().contains(QFileInfo(path).fileName()));
    QVERIFY(find<QPushButton>(m_analyzer, "pushButton_live")->isEnabled());

    // The live line goes on meanwhile; back to it, its new rows are there.
    QVERIFY(m_mcu->write(makeFrame(0x05, 1, hex("04 00"))));
    QVERIFY(waitUntil([&] { return live->rowCount() == 4; }));
    QCOMPARE(m_analyzer->model()->rowCount(), 3);
    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_live"), Qt::LeftButton);
    QVERIFY(!m_analyzer->showsFile());
    QCOMPARE(m_analyzer->model(), live);
    QVERIFY(find<QLabel>(m_analyzer, "label_source")->text().startsWith(QStringLiteral("实时")));

    // Recording when the program ends: the bytes its taps still hold (half a
    // frame, not yet handed on) reach the file.
    QTest::mouseClick(record, Qt::LeftButton);
    QVERIFY(recorder->isRecording());
    const QString lastPath = recorder->filePath();
    const QByteArray half = makeFrame(0x07, 9).left(6);
    m_mcu->readFor(200); // what the bridge forwarded so far
    QVERIFY(m_module->write(half));
    // Forwarded by the bridge: the tap has had them (it hears a read first).
    QCOMPARE(m_mcu->read(half.size()), half);
    m_analyzer = nullptr;
    m_main.reset();
    QByteArray recorded;
    QString error;
    bool cutShort = true;
    QVERIFY(CaptureReader::read(
        lastPath,
        [&](const LineSegment &segment, const QString &) {
            recorded += segment.wire;
            return true;
        },
        &error, &cutShort));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!cutShort);
    QVERIFY(recorded.endsWith(half));
}

void TestAnalyzerWindow::autoRecordStartsWhenAPortOpens_data()
{
    QTest::addColumn<int>("tab");
    QTest::newRow("dual tab") << DualTab;
    QTest::newRow("simulated-MCU tab") << McuTab;
}

void TestAnalyzerWindow::autoRecordStartsWhenAPortOpens()
{
    QFETCH(int, tab);
    makeWindow(tab);
    QVERIFY(openAnalyzer());
    auto *autoRecord = find<QCheckBox>(m_analyzer, "checkBox_autoRecord");
    QVERIFY(!autoRecord->isChecked());
    QTest::mouseClick(autoRecord, Qt::LeftButton);
    QVERIFY(SessionRecorder::autoStartEnabled());
    // With the window closed: the tab's recorder still hears its ports.
    m_analyzer->close();
    SessionRecorder *recorder = m_main->sessionRecorder(tab);
    QVERIFY(!recorder->isRecording());
    QComboBox *com = nullptr;
    QPushButton *open = nullptr;
    if (tab == DualTab) {
        m_main->doubleWindow()->port1()->getComList();
        com = find<QComboBox>(m_main->doubleWindow(), "com_2");
        open = find<QPushButton>(m_main->doubleWindow(), "pushButton_open2");
    } else {
        m_main->mcuWindow()->port()->getComList();
        com = find<QComboBox>(m_main->mcuWindow(), "com_3");
        open = find<QPushButton>(m_main->mcuWindow(), "pushButton_open3");
    }
    QVERIFY(waitUntil([&] { return com->findText(m_module->slavePath()) >= 0; }));
    com->setCurrentIndex(com->findText(m_module->slavePath()));
    QTest::mouseClick(open, Qt::LeftButton);
    QVERIFY(waitUntil([&] { return recorder->isRecording(); }));
    // The other tab's recorder is its own.
    QVERIFY(!m_main->sessionRecorder(tab == DualTab ? McuTab : DualTab)->isRecording());
    // Opened again, the window shows the recording and can stop it.
    QCOMPARE(openAnalyzer(), m_analyzer);
    auto *record = find<QPushButton>(m_analyzer, "pushButton_record");
    QCOMPARE(record->text(), QStringLiteral("停止录制"));
    QTest::mouseClick(record, Qt::LeftButton);
    QVERIFY(!recorder->isRecording());
    QVERIFY(
        find<QLabel>(m_analyzer, "label_recording")->text().startsWith(QStringLiteral("已保存")));
    QTest::mouseClick(autoRecord, Qt::LeftButton);
    QVERIFY(!SessionRecorder::autoStartEnabled());
}

void TestAnalyzerWindow::captureFileFromTheWriter()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("session.pcap"));
    const qint64 t0 = 1765238400000000; // 2025-12-09 00:00:00 UTC
    QVector<LineSegment> segments = {
        {t0, LineDirection::ModuleToMcu, SegmentKind::Frame4, makeFrame(0x01, 3)},
        {t0 + 1500, LineDirection::McuToModule, SegmentKind::Other, QByteArray("\x01\x02", 2)},
        {t0 + 4000, LineDirection::McuToModule, SegmentKind::Frame4,
         ZemTool::escape(makeFrame(0x02, 3, QByteArray(64, '\xFF')))},
        {t0 + 9000, LineDirection::McuToModule, SegmentKind::Frame3,
         hex("00 00 00 03 00 02 03 0b")},
    };
    {
        CaptureWriter writer;
        QString error;
        QVERIFY2(writer.open(path, &error), qPrintable(error));
        for (const LineSegment &s : segments)
            writer.write(s, QStringLiteral("/dev/ttyUSB0"));
        writer.close();
    }

    makeWindow(McuTab);
    QVERIFY(openAnalyzer());
    QVERIFY(m_analyzer->openCapture(path));
    FrameListModel *model = m_analyzer->model();
    FrameAnalyzer *analyzer = m_analyzer->analyzer();
    QCOMPARE(model->rowCount(), segments.size());
    for (int r = 0; r < segments.size(); ++r) {
        const FrameRecord &rec = analyzer->record(model->rowId(r));
        QCOMPARE(rec.timeUs, segments.at(r).timeUs);
        QCOMPARE(rec.direction, segments.at(r).direction);
        QCOMPARE(rec.kind, segments.at(r).kind);
        QCOMPARE(analyzer->wire(model->rowId(r)), segments.at(r).wire);
    }
    // The product information request and its reply, 4 ms apart.
    QCOMPARE(analyzer->record(model->rowId(0)).pairId, model->rowId(2));
    QCOMPARE(analyzer->record(model->rowId(2)).latencyUs, qint64(4000));
    QCOMPARE(analyzer->frame(model->rowId(2)).size(), 9 + 64);
    // A shorter reply limit analyzes the file again: 4 ms is now too late.
    find<QSpinBox>(m_analyzer, "spinBox_replyLimit")->setValue(3);
    QVERIFY(m_analyzer->showsFile());
    QCOMPARE(m_analyzer->model()->rowCount(), segments.size());
    QVERIFY(m_analyzer->analyzer()->record(m_analyzer->model()->rowId(0)).problems
            & FrameProblem::NoReply);
    // The file's frames per second come from its own times.
    QVERIFY(find<QLabel>(m_analyzer, "label_counters")->text().contains(QStringLiteral("每秒")));
}

void TestAnalyzerWindow::cutAndForeignCaptureFiles()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut.pcap"));
    {
        CaptureWriter writer;
        QVERIFY(writer.open(path, nullptr));
        for (int i = 0; i < 10; ++i)
            writer.write({1765238400000000 + i * 1000, LineDirection::McuToModule,
                          SegmentKind::Frame4, makeFrame(0x05, i, hex("04 01"))},
                         QStringLiteral("ttyS1"));
        writer.close();
    }
    // Power cut inside the last packet.
    QVERIFY(QFile::resize(path, QFileInfo(path).size() - 3));

    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    QVERIFY(m_analyzer->openCapture(path));
    QCOMPARE(m_analyzer->model()->rowCount(), 9);
    QVERIFY(find<QLabel>(m_analyzer, "label_source")->text().contains(QStringLiteral("完整的包")));

    // Not a capture at all: a box says so, the window stays as it was.
    const QString text = dir.filePath(QStringLiteral("notes.pcap"));
    QFile f(text);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is no capture file at all, just some text\n");
    f.close();
    MessageBoxCatcher box;
    QVERIFY(!m_analyzer->openCapture(text));
    QVERIFY(box.wait());
    QCOMPARE(box.title(), QStringLiteral("错误"));
    QVERIFY(box.text().startsWith(QStringLiteral("打开失败！")));
    QCOMPARE(m_analyzer->filePath(), path);
    QCOMPARE(m_analyzer->model()->rowCount(), 9);
}

// --- detail ------------------------------------------------------------------

void TestAnalyzerWindow::detailPaneWithDefinition()
{
    makeWindow(McuTab);
    QVERIFY(openAnalyzer());
    // The simulated-MCU tab's key is chosen, its cached definition read.
    auto *definition = find<QComboBox>(m_analyzer, "comboBox_definition");
    QCOMPARE(definition->currentData().toString(), LampKey);

    const DataPointDefinition def = lamp();
    DataPointValues values(def);
    values.setNumber(def.indexOf(QStringLiteral("亮度")), 80);
    values.setNumber(def.indexOf(QStringLiteral("模式")), 1);
    const QByteArray report = values.statusReport();
    QVERIFY(feed(LineDirection::McuToModule, ZemTool::escape(report), 1));

    auto *view = find<QTableView>(m_analyzer, "tableView_frames");
    view->selectRow(0);
    // The detail pane is a view of the window's field model.
    auto *fieldView = find<QTableView>(m_analyzer, "tableWidget_fields");
    auto *fields = qobject_cast<FrameFieldModel *>(fieldView->model());
    QVERIFY(fields);
    const auto cell
        = [fields](int row, int column) { return fields->index(row, column).data().toString(); };
    QVERIFY(fields->rowCount() > 10);
    const int brightness = fields->rowOfName(QStringLiteral("数据点 亮度"));
    QVERIFY(brightness >= 0);
    QCOMPARE(cell(brightness, FrameFieldModel::ValueColumn), QStringLiteral("80"));
    bool modeShown = false;
    for (int r = 0; r < fields->rowCount(); ++r)
        modeShown |= cell(r, FrameFieldModel::NameColumn) == QStringLiteral("数据点 模式")
            && cell(r, FrameFieldModel::ValueColumn) == QStringLiteral("护眼");
    QVERIFY(modeShown);

    // Selecting the field marks its byte (offset 10, value 50) in the
    // bytes pane, in the hex and the text columns.
    auto *bytes = find<HexDumpView>(m_analyzer, "plainTextEdit_bytes");
    QVERIFY(bytes->toPlainText().startsWith(QStringLiteral("0000  FF FF 00")));
    fieldView->selectRow(brightness);
    QCOMPARE(bytes->markedOffset(), 10);
    QCOMPARE(bytes->markedSize(), 1);
    const QList<QTextEdit::ExtraSelection> marks = bytes->extraSelections();
    QCOMPARE(marks.size(), 2);
    QCOMPARE(marks.at(0).cursor.selectedText(), QStringLiteral("50"));
    QCOMPARE(marks.at(1).cursor.selectedText(), QStringLiteral("P"));
    // Another frame shown: no mark left over.
    fieldView->clearSelection();
    QVERIFY(bytes->extraSelections().isEmpty());

    // Without a definition the values are not decoded by name.
    definition->setCurrentIndex(0);
    bool named = false;
    for (int r = 0; r < fields->rowCount(); ++r)
        named |= cell(r, FrameFieldModel::NameColumn).startsWith(QStringLiteral("数据点 "));
    QVERIFY(!named);
    QVERIFY(fields->rowOfName(QStringLiteral("数据点")) >= 0);
    // The user's choice outlives closing the window.
    m_analyzer->close();
    QCOMPARE(openAnalyzer(), m_analyzer);
    QCOMPARE(definition->currentIndex(), 0);
}

void TestAnalyzerWindow::countersPerDirectionAndProblem()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x07, 1), 1));
    QVERIFY(feed(LineDirection::McuToModule, makeFrame(0x08, 1), 2));
    QByteArray bad = makeFrame(0x05, 2, hex("04 00"));
    bad[bad.size() - 1] = 0;
    QVERIFY(feed(LineDirection::McuToModule, bad, 3));
    auto *counters = find<QLabel>(m_analyzer, "label_counters");
    QVERIFY(waitUntil([&] {
        return counters->text().contains(QStringLiteral("MCU→模组：2帧 20字节"))
            && counters->text().contains(QStringLiteral("模组→MCU：1帧 9字节"));
    }));
    QVERIFY(counters->text().contains(QStringLiteral("校验和错误 1")));

    // Cleared: counts start again.
    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_clear"), Qt::LeftButton);
    QCOMPARE(m_analyzer->model()->rowCount(), 0);
    QVERIFY(waitUntil([&] { return counters->text().contains(QStringLiteral("MCU→模组：0帧")); }));
}

void TestAnalyzerWindow::pairsNavigateAndStatisticsCopy()
{
    makeWindow(DualTab);
    QVERIFY(openAnalyzer());
    m_analyzer->resize(2400, 800);
    QVERIFY(waitUntil([&] { return m_analyzer->width() == 2400; }));
    FrameListModel *model = m_analyzer->model();
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x19, 1, hex("00 00")), 1));
    QVERIFY(feed(LineDirection::McuToModule, QByteArray("noise\n"), 2));
    QVERIFY(feed(LineDirection::McuToModule, makeFrame(0x1A, 1), 3));

    // Wide enough: the command column shows whole names, the bytes pane
    // whole dump rows.
    auto *view = find<QTableView>(m_analyzer, "tableView_frames");
    const QString command = model->cellText(0, FrameListModel::CommandColumn);
    QVERIFY(waitUntil([&] {
        return view->columnWidth(FrameListModel::CommandColumn)
            > view->fontMetrics().horizontalAdvance(command);
    }));
    view->selectRow(0);
    auto *bytes = find<HexDumpView>(m_analyzer, "plainTextEdit_bytes");
    const QString dumpRow = bytes->toPlainText().section(QLatin1Char('\n'), 0, 0);
    QVERIFY(bytes->viewport()->width() > bytes->fontMetrics().horizontalAdvance(dumpRow));

    // Double-click the request's pairing cell: its answer; Enter: back.
    const QModelIndex pair = model->index(0, FrameListModel::PairColumn);
    const QPoint at = view->visualRect(pair).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(view->currentIndex().row(), 2);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(view->currentIndex().row(), 0);

    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_statistics"), Qt::LeftButton);
    auto *dialog = find<QWidget>(m_analyzer, "dialog_statistics");
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("统计"));
    const QString text = find<QPlainTextEdit>(dialog, "plainTextEdit_statistics")->toPlainText();
    QVERIFY2(text.contains(QRegularExpression(QStringLiteral("模组→MCU\t0x19 [^\t]+\t1\t1\t"))),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("帧外字节\t1\n")));
    QTest::mouseClick(find<QPushButton>(dialog, "pushButton_copyStatistics"), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(), text);
    dialog->close();

    // Cleared: the list says so, and numbers go on.
    QTest::mouseClick(find<QPushButton>(m_analyzer, "pushButton_clear"), Qt::LeftButton);
    auto *notice = find<QLabel>(m_analyzer, "label_notice");
    QVERIFY(notice->isVisible() && notice->text().contains(QStringLiteral("#3")));
    QVERIFY(feed(LineDirection::ModuleToMcu, makeFrame(0x07, 2), 1));
    QCOMPARE(model->cellText(0, FrameListModel::NumberColumn), QStringLiteral("3"));
}

QTEST_MAIN(TestAnalyzerWindow)
#include "tst_analyzerwindow.moc"
