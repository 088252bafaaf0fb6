// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzerwindow/replaydialog.h"
#include "ui_replaydialog.h"

#include "analyzer/captureanalysis.h"
#include "analyzer/frameanalyzer.h"
#include "module/replayplayer.h"
#include "module/replayregression.h"
#include "protocol/frameformat.h"
#include "serial/line.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableWidgetItem>

namespace {

const QString StoppedByUser = QStringLiteral("stopped");

QString hex2(int value)
{
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

QString verdictText(ReplayStep::Verdict verdict)
{
    switch (verdict) {
    case ReplayStep::Verdict::Match:
        return QStringLiteral("逐字节一致");
    case ReplayStep::Verdict::FieldsMatch:
        return QStringLiteral("关键字段一致");
    case ReplayStep::Verdict::Differs:
        return QStringLiteral("不一致");
    case ReplayStep::Verdict::Missing:
        return QStringLiteral("无应答");
    case ReplayStep::Verdict::Silent:
        return QStringLiteral("均无应答");
    case ReplayStep::Verdict::Unrecorded:
        return QStringLiteral("多出应答");
    }
    return QString();
}

QString fieldName(int offset, int size)
{
    if (offset < Frame::LengthOffset)
        return QStringLiteral("帧头");
    if (offset < Frame::CommandOffset)
        return QStringLiteral("长度");
    if (offset == Frame::CommandOffset)
        return QStringLiteral("命令");
    if (offset == Frame::SequenceOffset)
        return QStringLiteral("序号");
    if (offset < Frame::PayloadOffset)
        return QStringLiteral("标志");
    if (offset == size - 1)
        return QStringLiteral("校验和");
    return QStringLiteral("数据");
}

QString byteAt(const QByteArray &bytes, int offset)
{
    return offset >= 0 && offset < bytes.size() ? hex2(quint8(bytes.at(offset)))
                                                : QStringLiteral("无");
}

// The step's detail in the window's language.
QString detailText(const ReplayStep &step)
{
    switch (step.verdict) {
    case ReplayStep::Verdict::Match:
        return QStringLiteral("与录制的应答逐字节相同");
    case ReplayStep::Verdict::Missing:
        return step.recordedUs >= 0 ? QStringLiteral("没有收到应答（录制中 %1 ms 后应答）")
                                          .arg(double(step.recordedUs) / 1000.0, 0, 'f', 1)
                                    : QStringLiteral("没有收到应答");
    case ReplayStep::Verdict::Silent:
        return QStringLiteral("录制中和现在都没有应答");
    case ReplayStep::Verdict::Unrecorded:
        return QStringLiteral("MCU应答了，录制中没有应答");
    case ReplayStep::Verdict::Differs:
    case ReplayStep::Verdict::FieldsMatch:
        break;
    }
    if (step.offset >= Frame::LengthOffset && step.offset < Frame::CommandOffset)
        return QStringLiteral("长度不同：录制 %1 字节，收到 %2 字节")
            .arg(step.recorded.size())
            .arg(step.received.size());
    return QStringLiteral("第 %1 字节（%2）不同：录制 %3，收到 %4")
        .arg(step.offset)
        .arg(fieldName(step.offset, step.recorded.size()), byteAt(step.recorded, step.offset),
             byteAt(step.received, step.offset));
}

} // namespace

ReplayDialog::ReplayDialog(const QString &capturePath, qint64 replyLimitUs, qint64 selectedRow,
                           std::function<ReplayTargets()> targets, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ReplayDialog)
    , m_selectedRow(selectedRow)
    , m_targets(std::move(targets))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("replayDialog"));
    ui->tableWidget_steps->horizontalHeader()->setStretchLastSection(true);
    ui->tableWidget_steps->verticalHeader()->hide();

    CaptureAnalysis capture(replyLimitUs);
    if (capture.read(capturePath))
        m_rows = capture.takeAnalyzer();
    else
        m_error = capture.error();
    const QString name = QDir::toNativeSeparators(QFileInfo(capturePath).absoluteFilePath());
    ui->label_file->setText(
        m_rows
            ? QStringLiteral("文件：%1（%2 行）").arg(name).arg(m_rows->endId() - m_rows->firstId())
            : QStringLiteral("文件：%1（无法读取：%2）").arg(name, m_error));
    if (m_selectedRow >= 0)
        ui->radioButton_fromSelected->setText(
            QStringLiteral("从选中行（#%1）开始").arg(m_selectedRow));
    else
        ui->radioButton_fromSelected->setEnabled(false);

    const ReplayTargets now = m_targets ? m_targets() : ReplayTargets();
    ui->checkBox_moduleToMcu->setText(
        QStringLiteral("模组→MCU（发往%1）").arg(now.names[int(LineDirection::ModuleToMcu)]));
    ui->checkBox_mcuToModule->setText(
        QStringLiteral("MCU→模组（发往%1）").arg(now.names[int(LineDirection::McuToModule)]));

    for (QAbstractButton *b : {static_cast<QAbstractButton *>(ui->radioButton_plain),
                               static_cast<QAbstractButton *>(ui->radioButton_regression),
                               static_cast<QAbstractButton *>(ui->checkBox_fastest)})
        connect(b, &QAbstractButton::toggled, this, &ReplayDialog::updateControls);
    updateControls();
}

ReplayDialog::~ReplayDialog()
{
    // A run ends with its dialog: nothing more goes out.
    if (m_player)
        m_player->stop();
    if (m_regression)
        m_regression->stop(QStringLiteral("closed"));
    delete ui;
}

bool ReplayDialog::isRunning() const
{
    return (m_player && m_player->isRunning()) || (m_regression && m_regression->isRunning());
}

void ReplayDialog::closeEvent(QCloseEvent *event)
{
    if (m_player)
        m_player->stop();
    if (m_regression)
        m_regression->stop(QStringLiteral("closed"));
    QDialog::closeEvent(event);
}

void ReplayDialog::updateControls()
{
    const bool running = isRunning();
    const bool regression = ui->radioButton_regression->isChecked();
    ui->pushButton_start->setEnabled(!running && m_rows);
    ui->pushButton_pause->setEnabled(running);
    ui->pushButton_stop->setEnabled(running);
    const bool paused
        = (m_player && m_player->isPaused()) || (m_regression && m_regression->isPaused());
    ui->pushButton_pause->setText(paused ? QStringLiteral("继续") : QStringLiteral("暂停"));
    for (QWidget *w : {static_cast<QWidget *>(ui->radioButton_plain),
                       static_cast<QWidget *>(ui->radioButton_regression),
                       static_cast<QWidget *>(ui->radioButton_fromStart),
                       static_cast<QWidget *>(ui->checkBox_fastest)})
        w->setEnabled(!running);
    ui->radioButton_fromSelected->setEnabled(!running && m_selectedRow >= 0);
    // The responder plays the module's side only.
    ui->checkBox_moduleToMcu->setEnabled(!running && !regression);
    ui->checkBox_mcuToModule->setEnabled(!running && !regression);
    ui->checkBox_exact->setEnabled(!running && regression);
    ui->doubleSpinBox_speed->setEnabled(!running && !ui->checkBox_fastest->isChecked());
}

void ReplayDialog::setStatus(const QString &text)
{
    ui->label_status->setText(text);
}

void ReplayDialog::on_pushButton_start_clicked()
{
    if (!m_rows || isRunning())
        return;
    const ReplayTargets targets = m_targets ? m_targets() : ReplayTargets();
    const qint64 from = ui->radioButton_fromSelected->isChecked() && m_selectedRow >= 0
        ? m_selectedRow
        : m_rows->firstId();
    if (ui->radioButton_regression->isChecked())
        startRegression(targets, from);
    else
        startPlain(targets, from);
    updateControls();
}

void ReplayDialog::startPlain(const ReplayTargets &targets, qint64 from)
{
    ReplayOptions options;
    options.directions[int(LineDirection::ModuleToMcu)] = ui->checkBox_moduleToMcu->isChecked();
    options.directions[int(LineDirection::McuToModule)] = ui->checkBox_mcuToModule->isChecked();
    options.speed = ui->checkBox_fastest->isChecked() ? 0 : ui->doubleSpinBox_speed->value();
    options.fromId = from;
    if (!options.directions[0] && !options.directions[1]) {
        setStatus(QStringLiteral("请至少选一个方向"));
        return;
    }
    for (int d = 0; d < 2; ++d) {
        if (!options.directions[d])
            continue;
        if (!targets.lines[d] || !targets.lines[d]->isLineOpen()) {
            setStatus(QStringLiteral("%1未打开，请先在本页打开串口").arg(targets.names[d]));
            return;
        }
    }
    delete m_player;
    m_player = new ReplayPlayer(m_rows.get(), this);
    for (LineDirection d : {LineDirection::McuToModule, LineDirection::ModuleToMcu})
        m_player->setLine(d, targets.lines[int(d)]);
    connect(m_player, &ReplayPlayer::progress, this, [this](qint64 played, qint64 total) {
        ui->progressBar->setMaximum(int(qMin<qint64>(total, 1 << 30)));
        ui->progressBar->setValue(int(qMin<qint64>(played, 1 << 30)));
    });
    if (targets.sent)
        connect(m_player, &ReplayPlayer::sent, this, targets.sent);
    connect(m_player, &ReplayPlayer::finished, this, [this](bool complete, const QString &reason) {
        ended(complete ? QStringLiteral("回放完成：%1 行，%2 字节")
                             .arg(m_player->rowsPlayed())
                             .arg(m_player->bytesPlayed())
                       : QStringLiteral("回放已停止（%1 / %2 行）%3")
                             .arg(m_player->rowsPlayed())
                             .arg(m_player->rowsToPlay())
                             .arg(reason == StoppedByUser ? QString()
                                                          : QStringLiteral("：串口已关闭或断开")));
    });
    QString why;
    if (!m_player->start(options, &why)) {
        setStatus(QStringLiteral("无法回放：") + why);
        return;
    }
    setStatus(QStringLiteral("正在回放 %1 行…").arg(m_player->rowsToPlay()));
}

void ReplayDialog::startRegression(const ReplayTargets &targets, qint64 from)
{
    constexpr int McuSide = int(LineDirection::ModuleToMcu);
    Line *line = targets.lines[McuSide];
    if (!line || !line->isLineOpen()) {
        setStatus(QStringLiteral("%1未打开，请先在本页打开串口").arg(targets.names[McuSide]));
        return;
    }
    ReplayRegressionOptions options;
    options.speed = ui->checkBox_fastest->isChecked() ? 0 : ui->doubleSpinBox_speed->value();
    options.exact = ui->checkBox_exact->isChecked();
    options.fromId = from;
    delete m_regression;
    m_regression = new ReplayRegression(m_rows.get(), line, this);
    ui->tableWidget_steps->setRowCount(0);
    connect(m_regression, &ReplayRegression::stepStarted, this, [this](int number, int total) {
        ui->progressBar->setMaximum(total);
        ui->progressBar->setValue(number - 1);
        setStatus(QStringLiteral("第 %1 / %2 条请求…").arg(number).arg(total));
    });
    connect(m_regression, &ReplayRegression::stepFinished, this, &ReplayDialog::addStep);
    if (targets.sent) {
        auto sent = targets.sent;
        connect(m_regression, &ReplayRegression::bytesSent, this,
                [sent](const QByteArray &wire) { sent(LineDirection::ModuleToMcu, wire); });
    }
    connect(m_regression, &ReplayRegression::finished, this, [this](bool allPassed) {
        int counts[6] = {};
        for (const ReplayStep &s : m_regression->steps())
            ++counts[int(s.verdict)];
        ui->progressBar->setValue(int(m_regression->steps().size()));
        QString text = QStringLiteral("%1：%2 条请求，逐字节一致 %3，关键字段一致 %4，不一致 %5，"
                                      "无应答 %6，均无应答 %7，多出应答 %8")
                           .arg(allPassed ? QStringLiteral("全部一致") : QStringLiteral("有差异"))
                           .arg(m_regression->stepCount())
                           .arg(counts[0])
                           .arg(counts[1])
                           .arg(counts[2])
                           .arg(counts[3])
                           .arg(counts[4])
                           .arg(counts[5]);
        if (m_regression->wasStopped())
            text += QStringLiteral("（已停止，%1 条未发送）")
                        .arg(m_regression->stepCount() - m_regression->steps().size());
        ended(text);
    });
    QString why;
    if (!m_regression->start(options, &why)) {
        setStatus(QStringLiteral("无法回放：录制中从第 %1 行起没有模组的请求").arg(from));
        return;
    }
}

void ReplayDialog::addStep(const ReplayStep &step)
{
    QTableWidget *t = ui->tableWidget_steps;
    const int row = t->rowCount();
    t->insertRow(row);
    const bool exact = m_regression && m_regression->options().exact;
    const QStringList cells
        = {QString::number(step.number), QStringLiteral("#%1").arg(step.requestRow),
           QStringLiteral("%1 序号 %2").arg(hex2(step.command), hex2(step.sequence)),
           verdictText(step.verdict), detailText(step)};
    for (int c = 0; c < cells.size(); ++c) {
        auto *item = new QTableWidgetItem(cells.at(c));
        if (!step.passes(exact))
            item->setForeground(Qt::red);
        t->setItem(row, c, item);
    }
    t->scrollToBottom();
}

void ReplayDialog::ended(const QString &text)
{
    setStatus(text);
    // The signal comes from within the run: the controls follow once it is done.
    QMetaObject::invokeMethod(this, &ReplayDialog::updateControls, Qt::QueuedConnection);
}

void ReplayDialog::on_pushButton_pause_clicked()
{
    if (m_player && m_player->isRunning()) {
        if (m_player->isPaused())
            m_player->resume();
        else
            m_player->pause();
    } else if (m_regression && m_regression->isRunning()) {
        if (m_regression->isPaused())
            m_regression->resume();
        else
            m_regression->pause();
    }
    updateControls();
}

void ReplayDialog::on_pushButton_stop_clicked()
{
    if (m_player)
        m_player->stop(StoppedByUser);
    if (m_regression)
        m_regression->stop(QStringLiteral("stopped"));
    updateControls();
}
