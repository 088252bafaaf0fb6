// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzerwindow/analyzerwindow.h"
#include "ui_analyzerwindow.h"

#include "analyzer/captureanalysis.h"
#include "analyzer/datapointhistory.h"
#include "analyzer/frameanalyzer.h"
#include "analyzer/framefieldmodel.h"
#include "analyzer/framefields.h"
#include "analyzer/framelistmodel.h"
#include "analyzer/framestatistics.h"
#include "analyzer/liveanalysis.h"
#include "capture/sessionrecorder.h"
#include "chart/datapointchart.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/definitionstore.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "widgets/exportfile.h"
#include "widgets/hexdumpview.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Typing in the search box re-filters once the typing pauses.
constexpr int SearchDelayMs = 250;

const QString NoDefinition = QStringLiteral("不解析数据点");

} // namespace

AnalyzerWindow::AnalyzerWindow(Source source, LiveAnalysis *live, SessionRecorder *recorder,
                               ZemTool *settings, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::AnalyzerWindow)
    , m_source(source)
    , m_live(live)
    , m_recorder(recorder)
    , m_settings(settings)
    , m_definitions(new DefinitionStore(settings, this))
{
    ui->setupUi(this);
    // A window of its own even with a parent, which only owns it.
    setWindowFlag(Qt::Window);
    setWindowTitle(QStringLiteral("协议分析"));
    setObjectName(source == Source::Dual ? QStringLiteral("analyzerWindow_dual")
                                         : QStringLiteral("analyzerWindow_mcu"));

    // Only capture files: a live list that nothing feeds.
    if (!m_live)
        m_live = new LiveAnalysis(nullptr, m_settings, this);
    m_liveModel = m_live->model();
    {
        const QSignalBlocker blocker(ui->spinBox_replyLimit);
        ui->spinBox_replyLimit->setValue(m_live->replyLimitMs());
    }
    m_fields = new FrameFieldModel(this);
    m_fields->setObjectName(QStringLiteral("fieldModel"));
    ui->tableWidget_fields->setModel(m_fields);
    ui->label_notice->setVisible(false);
    setUpViews();

    setUpTable();
    setUpFilters();
    fillDefinitions();
    useModel(m_liveModel, m_live->analyzer());

    ui->comboBox_mcuSide->setVisible(source == Source::Dual);
    connect(ui->comboBox_mcuSide, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { setMcuSide(index + 1); });
    connect(ui->spinBox_replyLimit, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &AnalyzerWindow::onReplyLimitChanged);
    connect(ui->comboBox_definition, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &AnalyzerWindow::onDefinitionChosen);
    connect(ui->tableWidget_fields->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AnalyzerWindow::onFieldSelected);

    connect(m_live, &LiveAnalysis::aboutToAppend, this, &AnalyzerWindow::onAboutToAppend);
    connect(m_live, &LiveAnalysis::appended, this, &AnalyzerWindow::onAppended);
    connect(m_live, &LiveAnalysis::checked, this, &AnalyzerWindow::updateCounters);
    connect(m_live, &LiveAnalysis::cleared, this, [this] {
        if (m_liveHistory)
            m_liveHistory->clear();
        if (!m_file)
            m_chart->historyChanged();
    });
    if (m_recorder) {
        connect(m_recorder, &SessionRecorder::recordingChanged, this,
                &AnalyzerWindow::onRecordingChanged);
        connect(m_recorder, &SessionRecorder::failed, this, [this](const QString &message) {
            QMessageBox::about(this, QStringLiteral("错误"),
                               QStringLiteral("录制已停止：") + message);
        });
        onRecordingChanged(m_recorder->isRecording(), m_recorder->filePath());
    } else {
        ui->pushButton_record->setEnabled(false);
        ui->checkBox_autoRecord->setEnabled(false);
    }
    {
        const QSignalBlocker blocker(ui->checkBox_autoRecord);
        ui->checkBox_autoRecord->setChecked(SessionRecorder::autoStartEnabled(m_settings));
    }

    updateSourceLabel();
    updateCounters();
}

AnalyzerWindow::~AnalyzerWindow()
{
    // The views let go of the models before the analyzers they read go (the
    // live model stays with its analysis).
    ui->tableView_frames->setModel(nullptr);
    m_chart->setHistory(nullptr, QString(), false);
    delete ui;
}

FrameAnalyzer *AnalyzerWindow::analyzer() const
{
    return m_file ? m_file.get() : m_live->analyzer();
}

FrameListModel *AnalyzerWindow::model() const
{
    return m_fileModel ? m_fileModel : m_liveModel;
}

// --- set-up ------------------------------------------------------------------

void AnalyzerWindow::setUpTable()
{
    QTableView *view = ui->tableView_frames;
    // Every row one line high, measured once: a million rows scroll without
    // the view asking each one for its size.
    QHeaderView *rows = view->verticalHeader();
    rows->setVisible(false);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
    QHeaderView *columns = view->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setStretchLastSection(true);
    columns->setHighlightSections(false);
    view->installEventFilter(this);
    connect(view, &QAbstractItemView::doubleClicked, this, &AnalyzerWindow::goToPair);

    // The longest command text the list can show: the code and the
    // description the settings give each command (and each variant of 03/04).
    const QFontMetrics fm = view->fontMetrics();
    QStringList suffixes;
    for (int code = 0x01; code <= 0x20; ++code)
        suffixes << SettingKeys::hexCode(code);
    suffixes << QStringLiteral("0301") << QStringLiteral("0302") << QStringLiteral("0403")
             << QStringLiteral("0404");
    for (const QString &suffix : suffixes) {
        const QString text = QStringLiteral("0x00 ")
            + m_settings->readSetting(SettingKeys::commandDescriptionKey(suffix));
        m_commandWidth = std::max(m_commandWidth, fm.horizontalAdvance(text) + 16);
    }

    QHeaderView *fieldColumns = ui->tableWidget_fields->horizontalHeader();
    fieldColumns->setStretchLastSection(true);
    fieldColumns->setHighlightSections(false);
    ui->tableWidget_fields->verticalHeader()->setVisible(false);
    ui->tableWidget_fields->setColumnWidth(FrameFieldModel::NameColumn, 130);
    ui->splitter_main->setStretchFactor(0, 3);
    ui->splitter_main->setStretchFactor(1, 2);
    ui->splitter_detail->setStretchFactor(0, 1);
    ui->splitter_detail->setStretchFactor(1, 1);
}

// Below the frame list, the detail pane and the data-point chart as two tabs.
void AnalyzerWindow::setUpViews()
{
    QSplitter *main = ui->splitter_main;
    const int index = main->indexOf(ui->splitter_detail);
    m_views = new QTabWidget;
    m_views->setObjectName(QStringLiteral("tabWidget_views"));
    m_views->setDocumentMode(true);
    m_views->addTab(ui->splitter_detail, QStringLiteral("帧详情"));
    m_chart = new DataPointChart;
    m_chart->setObjectName(QStringLiteral("dataPointChart"));
    m_chart->setSettings(m_settings);
    m_views->addTab(m_chart, QStringLiteral("数据点曲线"));
    main->insertWidget(index, m_views);
    connect(m_chart, &DataPointChart::frameClicked, this, &AnalyzerWindow::selectFrame);
}

// A frame the chart or its change table pointed at, selected in the list.
void AnalyzerWindow::selectFrame(qint64 id)
{
    FrameListModel *shown = model();
    const int row = shown->rowOfId(id);
    if (row < 0) {
        setNotice(analyzer()->contains(id) ? QStringLiteral("#%1 被筛选条件隐藏了").arg(id)
                                           : QStringLiteral("#%1 已不在列表中").arg(id));
        return;
    }
    QTableView *view = ui->tableView_frames;
    const QModelIndex target = shown->index(row, FrameListModel::NumberColumn);
    view->selectionModel()->setCurrentIndex(
        target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(target);
}

// The values over time of the live line and of the open file, read anew
// with the chosen definition (none without one).
void AnalyzerWindow::rebuildHistories()
{
    const QString key
        = m_definition ? ui->comboBox_definition->currentData().toString() : QString();
    std::unique_ptr<DataPointHistory> live;
    std::unique_ptr<DataPointHistory> file;
    if (m_definition) {
        live = std::make_unique<DataPointHistory>(*m_definition);
        const FrameAnalyzer *a = m_live->analyzer();
        live->addRows(*a, a->firstId(), a->endId());
        if (m_file) {
            file = std::make_unique<DataPointHistory>(*m_definition);
            file->addRows(*m_file, m_file->firstId(), m_file->endId());
        }
    }
    m_chart->setHistory(m_file ? file.get() : live.get(), key, !m_file);
    m_liveHistory = std::move(live);
    m_fileHistory = std::move(file);
    m_historyKey = key;
}

// "模组→MCU：请求设备信息（…）": the short name before the details.
QString AnalyzerWindow::shortCommandName(int code) const
{
    QString name
        = m_settings->readSetting(SettingKeys::commandDescriptionKey(SettingKeys::hexCode(code)));
    const int colon = name.indexOf(QStringLiteral("："));
    if (colon >= 0)
        name = name.mid(colon + 1);
    const int paren = name.indexOf(QStringLiteral("（"));
    if (paren > 0)
        name = name.left(paren);
    return name;
}

void AnalyzerWindow::setUpFilters()
{
    QComboBox *direction = ui->comboBox_direction;
    direction->addItem(QStringLiteral("全部"), -1);
    for (LineDirection d : {LineDirection::McuToModule, LineDirection::ModuleToMcu})
        direction->addItem(FrameListModel::directionText(d), int(d));

    QComboBox *command = ui->comboBox_command;
    command->addItem(QStringLiteral("全部"), -1);
    for (int code = 0x01; code <= 0x20; ++code)
        command->addItem(
            QStringLiteral("0x%1 %2").arg(SettingKeys::hexCode(code), shortCommandName(code)),
            code);

    auto *searchDelay = new QTimer(this);
    searchDelay->setSingleShot(true);
    searchDelay->setInterval(SearchDelayMs);
    connect(searchDelay, &QTimer::timeout, this, &AnalyzerWindow::applyFilter);
    connect(ui->lineEdit_search, &QLineEdit::textChanged, searchDelay,
            QOverload<>::of(&QTimer::start));
    connect(ui->lineEdit_search, &QLineEdit::returnPressed, this, &AnalyzerWindow::applyFilter);
    connect(direction, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &AnalyzerWindow::applyFilter);
    connect(command, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &AnalyzerWindow::applyFilter);
    connect(ui->checkBox_problems, &QCheckBox::toggled, this, &AnalyzerWindow::applyFilter);
}

// The definitions cached in json/ (one file per product key); the key of
// the simulated-MCU tab is chosen when its definition is there.
void AnalyzerWindow::fillDefinitions()
{
    QComboBox *combo = ui->comboBox_definition;
    // The user's choice (none included) stays; the first time, the tab's.
    const bool filled = combo->count() > 0;
    const QString current = combo->currentData().toString();
    const QString tabKey = m_settings->readSetting(SettingKeys::ProductKey).trimmed();
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItem(NoDefinition, QString());
    for (const QString &key : m_definitions->cachedKeys())
        combo->addItem(key == tabKey ? key + QStringLiteral("（模拟V4MCU）") : key, key);
    int index = combo->findData(filled ? current : tabKey);
    combo->setCurrentIndex(qMax(0, index));
    loadDefinition(combo->currentData().toString());
    // The chart reads the frames again only for another definition.
    if (!filled || combo->currentData().toString() != m_historyKey)
        rebuildHistories();
}

void AnalyzerWindow::loadDefinition(const QString &productKey)
{
    m_definition.reset();
    if (productKey.isEmpty())
        return;
    DataPointDefinition definition;
    if (m_definitions->load(productKey, &definition))
        m_definition = std::make_unique<DataPointDefinition>(definition);
}

void AnalyzerWindow::onDefinitionChosen(int index)
{
    loadDefinition(ui->comboBox_definition->itemData(index).toString());
    rebuildHistories();
    showFields(m_shownId);
}

// --- models ------------------------------------------------------------------

void AnalyzerWindow::useModel(FrameListModel *model, FrameAnalyzer *analyzer)
{
    Q_UNUSED(analyzer)
    QTableView *view = ui->tableView_frames;
    QItemSelectionModel *old = view->selectionModel();
    view->setModel(model);
    delete old;
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &AnalyzerWindow::onRowSelected);
    QHeaderView *columns = view->horizontalHeader();
    const QFontMetrics fm = view->fontMetrics();
    const auto width = [&fm](const char *sample) {
        return fm.horizontalAdvance(QString::fromUtf8(sample)) + 16;
    };
    columns->resizeSection(FrameListModel::NumberColumn, width("0000000"));
    columns->resizeSection(FrameListModel::TimeColumn, width("00:00:00.000000"));
    columns->resizeSection(FrameListModel::RelativeColumn, width("+000.000000"));
    columns->resizeSection(FrameListModel::DirectionColumn, width("模组→MCU"));
    columns->resizeSection(FrameListModel::SequenceColumn, width("序号"));
    columns->resizeSection(FrameListModel::LengthColumn, width("长度 00"));
    columns->resizeSection(FrameListModel::ChecksumColumn, width("校验和错误"));
    columns->resizeSection(FrameListModel::PairColumn, width("应答 #0000000 000.000 ms"));
    fitColumns();
    clearDetail();
    applyFilter();
    view->scrollToBottom();
}

void AnalyzerWindow::applyFilter()
{
    FrameListModel::Filter filter;
    filter.direction = ui->comboBox_direction->currentData().toInt();
    filter.command = ui->comboBox_command->currentData().toInt();
    filter.problemsOnly = ui->checkBox_problems->isChecked();
    filter.text = ui->lineEdit_search->text().trimmed();
    FrameListModel *shown = model();
    const qint64 keep = m_shownId;
    shown->setFilter(filter);
    // The frame looked at stays selected when the filter still shows it.
    const int row = keep >= 0 ? shown->rowOfId(keep) : -1;
    if (row >= 0) {
        ui->tableView_frames->selectRow(row);
        ui->tableView_frames->scrollTo(shown->index(row, 0));
    } else {
        clearDetail();
    }
    // The live model keeps the same filter for when the file is closed.
    if (shown != m_liveModel)
        m_liveModel->setFilter(filter);
}

// --- live --------------------------------------------------------------------

void AnalyzerWindow::onAboutToAppend()
{
    m_follow = !m_file && atBottom();
}

void AnalyzerWindow::onAppended()
{
    if (m_liveHistory) {
        const FrameAnalyzer *a = m_live->analyzer();
        if (m_liveHistory->addRows(*a, m_liveHistory->endId(), a->endId()) > 0 && !m_file)
            m_chart->historyChanged();
    }
    if (m_follow)
        ui->tableView_frames->scrollToBottom();
    m_follow = false;
}

bool AnalyzerWindow::atBottom() const
{
    const QScrollBar *bar = ui->tableView_frames->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void AnalyzerWindow::onReplyLimitChanged(int ms)
{
    m_live->setReplyLimitMs(ms);
    // A file is analyzed again with the new limit.
    if (m_file)
        openCapture(m_filePath);
}

void AnalyzerWindow::on_pushButton_clear_clicked()
{
    m_live->clear();
    m_clearNote = QStringLiteral("列表已于 %1 清空；编号不重新开始，新的行从 #%2 起")
                      .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))
                      .arg(m_live->analyzer()->endId());
    if (!m_file) {
        clearDetail();
        setNotice(m_clearNote);
    }
    updateCounters();
}

void AnalyzerWindow::setNotice(const QString &text)
{
    ui->label_notice->setText(text);
    ui->label_notice->setVisible(!text.isEmpty());
}

void AnalyzerWindow::setMcuSide(int side)
{
    side = side == 2 ? 2 : 1;
    if (ui->comboBox_mcuSide->currentIndex() != side - 1)
        ui->comboBox_mcuSide->setCurrentIndex(side - 1); // comes back here
    if (side == m_mcuSide)
        return;
    m_mcuSide = side;
    emit mcuSideChanged(side);
}

// --- files -------------------------------------------------------------------

bool AnalyzerWindow::openCapture(const QString &path)
{
    CaptureAnalysis capture(qint64(m_live->replyLimitMs()) * 1000);
    if (!capture.read(path)) {
        QMessageBox::about(this, QStringLiteral("错误"),
                           QStringLiteral("打开失败！\n%1\n%2")
                               .arg(QDir::toNativeSeparators(path), capture.error()));
        return false;
    }
    std::unique_ptr<FrameAnalyzer> analyzer = capture.takeAnalyzer();

    auto *fileModel = new FrameListModel(this);
    fileModel->setObjectName(QStringLiteral("fileModel"));
    fileModel->setDescriptionLookup(
        [tool = m_settings](const QString &key) { return tool->readSetting(key); });
    fileModel->reset(analyzer.get());
    fileModel->appendFrom(*analyzer);

    FrameListModel *oldModel = m_fileModel;
    std::unique_ptr<FrameAnalyzer> oldAnalyzer = std::move(m_file);
    m_file = std::move(analyzer);
    m_fileModel = fileModel;
    m_filePath = path;
    QStringList notes;
    if (capture.skipped() > 0)
        notes << QStringLiteral("跳过了 %1 个无法解读的包（%2）")
                     .arg(capture.skipped())
                     .arg(capture.error());
    if (capture.untimed() > 0)
        notes << QStringLiteral("%1 个包没有时间戳（pcapng 简单包块），时间取自它前面的包")
                     .arg(capture.untimed());
    if (capture.cutShort())
        notes << QStringLiteral("文件在一个包的中间结束，已读到最后一个完整的包");
    else if (!capture.readToEnd())
        notes << QStringLiteral("文件后面的内容无法读取：") + capture.error();
    m_fileNote = notes.join(QStringLiteral("；"));
    useModel(m_fileModel, m_file.get());
    setNotice(QString());
    std::unique_ptr<DataPointHistory> oldHistory = std::move(m_fileHistory);
    if (m_definition) {
        m_fileHistory = std::make_unique<DataPointHistory>(*m_definition);
        m_fileHistory->addRows(*m_file, m_file->firstId(), m_file->endId());
    }
    m_chart->setHistory(m_fileHistory.get(), m_historyKey, false);
    oldHistory.reset();
    delete oldModel;
    oldAnalyzer.reset();

    ui->pushButton_live->setEnabled(true);
    ui->pushButton_replay->setEnabled(true);
    ui->pushButton_clear->setEnabled(false);
    updateSourceLabel();
    updateCounters();
    return true;
}

void AnalyzerWindow::showLive()
{
    if (!m_file)
        return;
    useModel(m_liveModel, m_live->analyzer());
    setNotice(m_clearNote);
    m_chart->setHistory(m_liveHistory.get(), m_historyKey, true);
    m_fileHistory.reset();
    delete m_fileModel;
    m_fileModel = nullptr;
    m_file.reset();
    m_filePath.clear();
    m_fileNote.clear();
    ui->pushButton_live->setEnabled(false);
    ui->pushButton_replay->setEnabled(false);
    ui->pushButton_clear->setEnabled(true);
    updateSourceLabel();
    updateCounters();
}

void AnalyzerWindow::setReplayTargets(std::function<ReplayTargets()> targets)
{
    m_replayTargets = std::move(targets);
}

void AnalyzerWindow::on_pushButton_replay_clicked()
{
    if (!m_file)
        return;
    // One replay at a time: a running one is shown again, an idle one
    // gives way to the file shown now.
    if (m_replay && m_replay->isRunning()) {
        m_replay->show();
        m_replay->raise();
        return;
    }
    delete m_replay;
    auto targets = m_replayTargets;
    if (!targets)
        targets = [] { return ReplayTargets(); };
    m_replay = new ReplayDialog(m_filePath, m_file->replyLimitUs(), m_shownId, targets, this);
    m_replay->show();
}

void AnalyzerWindow::on_pushButton_live_clicked()
{
    showLive();
}

void AnalyzerWindow::on_pushButton_openCapture_clicked()
{
    const QString dir
        = m_file ? QFileInfo(m_filePath).absolutePath() : SessionRecorder::captureDir();
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("打开抓包文件"), dir,
        QStringLiteral("抓包文件 (*.pcap *.pcapng *.cap);;所有文件 (*)"));
    if (!path.isEmpty())
        openCapture(path);
}

bool AnalyzerWindow::exportCsv(const QString &path, QString *error)
{
    return model()->writeCsv(path, error);
}

void AnalyzerWindow::on_pushButton_exportCsv_clicked()
{
    ExportFile::choose(
        this, QStringLiteral("导出CSV"), SessionRecorder::captureDir(),
        QStringLiteral("lumo-frames"), QStringLiteral("csv"), QStringLiteral("CSV文件 (*.csv)"),
        [this](const QString &path, QString *error) { return exportCsv(path, error); });
}

// --- recording ---------------------------------------------------------------

void AnalyzerWindow::on_pushButton_record_clicked()
{
    if (!m_recorder)
        return;
    if (m_recorder->isRecording()) {
        m_recorder->stop();
        return;
    }
    QString error;
    if (!m_recorder->start(m_live->monitor(), &error))
        QMessageBox::about(this, QStringLiteral("错误"), QStringLiteral("无法开始录制：") + error);
}

void AnalyzerWindow::on_checkBox_autoRecord_toggled(bool checked)
{
    SessionRecorder::setAutoStartEnabled(checked, m_settings);
}

void AnalyzerWindow::onRecordingChanged(bool recording, const QString &path)
{
    ui->pushButton_record->setText(recording ? QStringLiteral("停止录制")
                                             : QStringLiteral("开始录制"));
    const QString name = QFileInfo(path).fileName();
    const QString error = m_recorder ? m_recorder->lastError() : QString();
    if (recording)
        ui->label_recording->setText(QStringLiteral("录制中：") + name);
    else if (!error.isEmpty())
        ui->label_recording->setText(QStringLiteral("录制出错，文件不完整：") + name);
    else if (!path.isEmpty())
        ui->label_recording->setText(QStringLiteral("已保存：") + name);
    else
        ui->label_recording->setText(QStringLiteral("未录制"));
    ui->label_recording->setToolTip(error.isEmpty() ? QDir::toNativeSeparators(path) : error);
}

// --- views -------------------------------------------------------------------

void AnalyzerWindow::updateSourceLabel()
{
    QString text;
    if (m_file) {
        text = QStringLiteral("文件：") + QDir::toNativeSeparators(m_filePath);
        if (!m_fileNote.isEmpty())
            text += QStringLiteral("（") + m_fileNote + QStringLiteral("）");
    } else if (m_source == Source::Dual) {
        text = QStringLiteral("实时：双串口");
    } else {
        text = QStringLiteral("实时：模拟V4MCU（模组发来的为模组→MCU，Lumo发出的为MCU→模组）");
    }
    ui->label_source->setText(text);
    ui->label_source->setToolTip(text);
    ui->comboBox_mcuSide->setEnabled(!m_file);
}

void AnalyzerWindow::updateCounters()
{
    const AnalyzerCounters &c = analyzer()->counters();
    double fps = m_live->framesPerSecond();
    if (m_file) {
        const qint64 span = c.lastTimeUs - c.firstTimeUs;
        fps = span > 0 ? double(c.framesTotal()) * 1e6 / double(span) : 0.0;
    }
    const auto direction = [&c](LineDirection d) {
        const int i = int(d);
        return QStringLiteral("%1：%2帧 %3字节")
            .arg(FrameListModel::directionText(d))
            .arg(c.frames[i])
            .arg(c.bytes[i]);
    };
    QString text = direction(LineDirection::McuToModule) + QStringLiteral("　")
        + direction(LineDirection::ModuleToMcu)
        + QStringLiteral("　每秒%1帧").arg(fps, 0, 'f', fps < 10 ? 1 : 0);
    QStringList problems;
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind)
        if (c.problems[kind] > 0)
            problems.append(QStringLiteral("%1 %2")
                                .arg(FrameListModel::problemName(kind))
                                .arg(c.problems[kind]));
    text += QStringLiteral("　问题：")
        + (problems.isEmpty() ? QStringLiteral("无") : problems.join(QStringLiteral("，")));
    if (ui->label_counters->text() != text)
        ui->label_counters->setText(text);
}

void AnalyzerWindow::onRowSelected()
{
    const QModelIndex current = ui->tableView_frames->selectionModel()->currentIndex();
    if (!current.isValid()) {
        clearDetail();
        return;
    }
    const qint64 id = model()->rowId(current.row());
    showFields(id);
    if (analyzer()->contains(id))
        m_chart->showFrame(id, analyzer()->record(id).timeUs);
}

void AnalyzerWindow::clearDetail()
{
    m_shownId = -1;
    m_fields->clear();
    ui->plainTextEdit_bytes->setBytes(QByteArray());
}

void AnalyzerWindow::showFields(qint64 id)
{
    const FrameAnalyzer *a = analyzer();
    if (id < 0 || !a->contains(id)) {
        clearDetail();
        return;
    }
    m_shownId = id;
    const QByteArray frame = a->frame(id);
    const FrameRecord &record = a->record(id);
    const QSignalBlocker blocker(ui->tableWidget_fields->selectionModel());
    m_fields->setFields(frameFields(
        frame, record.kind, [this](const QString &key) { return m_settings->readSetting(key); },
        m_definition.get()));

    HexDumpView *bytes = ui->plainTextEdit_bytes;
    bytes->setBytes(frame);
    const QByteArray wire = a->wire(id);
    if (wire != frame)
        bytes->addSection(QStringLiteral("线上字节（FF后插入的55已在上面去掉）："), wire);
}

void AnalyzerWindow::onFieldSelected()
{
    const QModelIndexList rows = ui->tableWidget_fields->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        ui->plainTextEdit_bytes->clearMarks();
        return;
    }
    const FrameField field = m_fields->field(rows.first().row());
    ui->plainTextEdit_bytes->markField(field.offset, field.size);
}

// --- copying -----------------------------------------------------------------

QVector<int> AnalyzerWindow::selectedRows() const
{
    QVector<int> rows;
    const QModelIndexList selected = ui->tableView_frames->selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex &index : selected)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void AnalyzerWindow::on_pushButton_copyHex_clicked()
{
    const QVector<int> rows = selectedRows();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(model()->rowsHex(rows));
}

void AnalyzerWindow::on_pushButton_copyText_clicked()
{
    const QVector<int> rows = selectedRows();
    if (!rows.isEmpty())
        QGuiApplication::clipboard()->setText(model()->rowsText(rows));
}

bool AnalyzerWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->tableView_frames && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Copy)) {
            on_pushButton_copyText_clicked();
            return true;
        }
        const QModelIndex current = ui->tableView_frames->currentIndex();
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && current.column() == FrameListModel::PairColumn) {
            goToPair(current);
            return true;
        }
    }
    if (watched == ui->tableView_frames && event->type() == QEvent::Resize)
        QTimer::singleShot(0, this, &AnalyzerWindow::fitColumns);
    return QWidget::eventFilter(watched, event);
}

void AnalyzerWindow::showEvent(QShowEvent *event)
{
    // A definition fetched in the simulated-MCU tab since the last look.
    fillDefinitions();
    QWidget::showEvent(event);
}

// --- navigation and columns ---------------------------------------------------

void AnalyzerWindow::goToPair(const QModelIndex &index)
{
    if (!index.isValid() || index.column() != FrameListModel::PairColumn)
        return;
    const qint64 pair = index.data(FrameListModel::PairIdRole).toLongLong();
    if (pair < 0)
        return;
    FrameListModel *shown = model();
    const int row = shown->rowOfId(pair);
    if (row < 0) {
        setNotice(analyzer()->contains(pair)
                      ? QStringLiteral("配对的 #%1 被筛选条件隐藏了").arg(pair)
                      : QStringLiteral("配对的 #%1 已不在列表中").arg(pair));
        return;
    }
    QTableView *view = ui->tableView_frames;
    const QModelIndex target = shown->index(row, FrameListModel::PairColumn);
    // On the pairing cell again, so that Enter goes back.
    view->selectionModel()->setCurrentIndex(
        target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(target);
}

void AnalyzerWindow::fitColumns()
{
    QTableView *view = ui->tableView_frames;
    QHeaderView *columns = view->horizontalHeader();
    const QFontMetrics fm = view->fontMetrics();
    int others = 0;
    for (int c = 0; c < FrameListModel::ColumnCount; ++c)
        if (c != FrameListModel::CommandColumn && c != FrameListModel::ProblemColumn)
            others += columns->sectionSize(c);
    // The problems column keeps room for one name; the command column takes
    // what is left, up to its longest text, and never less than a short one.
    const int room = view->viewport()->width() - others
        - fm.horizontalAdvance(QStringLiteral("无请求的应答")) - 16;
    const int least = fm.horizontalAdvance(QStringLiteral("0x00 模组→MCU：心跳")) + 16;
    columns->resizeSection(FrameListModel::CommandColumn,
                           std::max(least, std::min(m_commandWidth, room)));

    // The bytes pane shows a whole dump row, text column included.
    HexDumpView *bytes = ui->plainTextEdit_bytes;
    const QString row = HexDumpView::dumpText(QByteArray(HexDumpView::BytesPerRow, 'A'));
    const int margins = int(2 * bytes->document()->documentMargin()) + 2 * bytes->frameWidth()
        + bytes->verticalScrollBar()->sizeHint().width() + 4;
    bytes->setMinimumWidth(QFontMetrics(bytes->font()).horizontalAdvance(row) + margins);
}

// --- statistics --------------------------------------------------------------

void AnalyzerWindow::on_pushButton_statistics_clicked()
{
    if (!m_statistics) {
        auto *dialog = new QDialog(this);
        dialog->setObjectName(QStringLiteral("dialog_statistics"));
        dialog->setWindowTitle(QStringLiteral("统计"));
        auto *layout = new QVBoxLayout(dialog);
        auto *text = new QPlainTextEdit(dialog);
        text->setObjectName(QStringLiteral("plainTextEdit_statistics"));
        text->setReadOnly(true);
        text->setLineWrapMode(QPlainTextEdit::NoWrap);
        text->setTabStopDistance(text->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 12);
        layout->addWidget(text);
        auto *buttons = new QDialogButtonBox(dialog);
        QPushButton *refresh
            = buttons->addButton(QStringLiteral("刷新"), QDialogButtonBox::ActionRole);
        refresh->setObjectName(QStringLiteral("pushButton_refreshStatistics"));
        QPushButton *copy
            = buttons->addButton(QStringLiteral("复制全部"), QDialogButtonBox::ActionRole);
        copy->setObjectName(QStringLiteral("pushButton_copyStatistics"));
        copy->setToolTip(QStringLiteral("把全部统计以文本复制（选中部分按 Ctrl+C）"));
        QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
        close->setText(QStringLiteral("关闭"));
        layout->addWidget(buttons);
        connect(refresh, &QPushButton::clicked, this, &AnalyzerWindow::refreshStatistics);
        connect(copy, &QPushButton::clicked, text,
                [text] { QGuiApplication::clipboard()->setText(text->toPlainText()); });
        connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
        dialog->resize(760, 560);
        m_statistics = dialog;
    }
    refreshStatistics();
    m_statistics->show();
    m_statistics->raise();
}

void AnalyzerWindow::refreshStatistics()
{
    if (!m_statistics)
        return;
    const QString source = m_file ? QStringLiteral("文件：") + QDir::toNativeSeparators(m_filePath)
                                  : QStringLiteral("实时列表");
    const QString text
        = source + QLatin1Char('\n') + FrameStatistics::of(*analyzer()).toText([this](int code) {
              return shortCommandName(code);
          });
    m_statistics->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit_statistics"))
        ->setPlainText(text);
}
