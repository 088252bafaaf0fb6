// SPDX-License-Identifier: GPL-3.0-or-later
#include "dual/modulewindow.h"

#include "base/apppaths.h"
#include "datapoint/definitionstore.h"
#include "module/conformancerun.h"
#include "module/moduleresponder.h"
#include "module/steptext.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/zemserialport.h"
#include "ui_modulewindow.h"
#include "widgets/portcontrols.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>

namespace {

const QString RunCaption = QStringLiteral("开始测试");
const QString StopCaption = QStringLiteral("停止测试");

QString outcomeText(StepResult::Outcome outcome)
{
    switch (outcome) {
    case StepResult::Outcome::Passed:
        return QStringLiteral("通过");
    case StepResult::Outcome::Failed:
        return QStringLiteral("失败");
    case StepResult::Outcome::Skipped:
        break;
    }
    return QStringLiteral("跳过");
}

} // namespace

ModuleWindow::ModuleWindow(QWidget *parent)
    : ModuleWindow(nullptr, parent)
{ }

ModuleWindow::ModuleWindow(ZemTool *settings, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::ModuleWindow)
    , m_tool(settings ? settings : new ZemTool(this))
    , m_definitions(new DefinitionStore(m_tool, this))
    , m_line(new AnyLine(this))
    , m_idleFramer(new ZemFramer(this))
{
    ui->setupUi(this);
    m_line->port()->setObjectName(QStringLiteral("port_module"));
    m_controls = new PortControls(m_line,
                                  {ui->comboBox_port, ui->comboBox_rate, ui->comboBox_data,
                                   ui->comboBox_stop, ui->comboBox_check, ui->pushButton_open},
                                  this);
    m_controls->offerNetworkLines(m_tool);
    connect(m_line->port(), &ZemSerialPort::ComListChange, m_controls, &PortControls::setPortList);
    m_controls->setPortList(ZemSerialPort::currentPortNames());
    connect(m_controls, &PortControls::lost, this, [this](const QString &, const QString &reason) {
        if (isRunning())
            m_run->abort(QStringLiteral("serial port lost: ") + reason);
        // A partial frame of the lost connection must not swallow the first
        // bytes of the next.
        m_idleFramer->clear();
    });
    // A run aborted by the loss is not started again by itself: its results
    // would mix two connections. The module answers the MCU again at once.
    connect(m_controls, &PortControls::reconnected, this, [this](const QString &name) {
        if (!isRunning())
            ui->label_summary->setText(QStringLiteral("网络串口 %1 已重新连接").arg(name));
    });
    connect(m_line, &Line::DataReady, this, [this](const QByteArray &chunk) {
        if (!isRunning())
            m_idleFramer->dataToV4(chunk);
    });
    connect(m_idleFramer, &ZemFramer::LineDataReady, this, &ModuleWindow::answerIdle);
    connect(
        m_definitions, &DefinitionStore::ready, this,
        [this](const QString &, const DataPointDefinition &definition) { beginRun(definition); });
    connect(m_definitions, &DefinitionStore::failed, this,
            [this](const QString &key, const QString &reason, bool) {
                m_waiting = false;
                ui->label_summary->clear();
                QMessageBox::about(this, QStringLiteral("失败"),
                                   QStringLiteral("无法获取%1的数据点定义：%2").arg(key, reason));
            });

    QHeaderView *header = ui->tableWidget_results->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Interactive);
    header->resizeSection(0, 330);
    header->resizeSection(1, 50);
    header->setStretchLastSection(true);
    ui->tableWidget_results->verticalHeader()->setVisible(false);
}

ModuleWindow::~ModuleWindow()
{
    delete ui;
}

bool ModuleWindow::isRunning() const
{
    return m_run && m_run->isRunning();
}

void ModuleWindow::closeEvent(QCloseEvent *event)
{
    if (isRunning())
        m_run->abort(QStringLiteral("window closed"));
    m_controls->close();
    m_idleFramer->clear();
    QWidget::closeEvent(event);
}

void ModuleWindow::on_pushButton_open_clicked()
{
    if (isRunning())
        m_run->abort(QStringLiteral("port closed by the user"));
    m_controls->toggle();
    m_idleFramer->clear();
}

void ModuleWindow::on_pushButton_run_clicked()
{
    if (isRunning()) {
        m_run->abort(QStringLiteral("stopped by the user"));
        return;
    }
    if (m_waiting)
        return; // the definition is still on its way
    if (!m_controls->isOpen() && !m_controls->open())
        return; // the controls have said why
    startRun();
}

void ModuleWindow::startRun()
{
    ConformanceOptions options;
    options.replyLimitMs = ui->spinBox_replylimit->value();
    options.robust = ui->checkBox_robust->isChecked();
    options.firmwarePath = ui->lineEdit_firmware->text().trimmed();
    if (!options.firmwarePath.isEmpty() && !QFileInfo(options.firmwarePath).isReadable()) {
        QMessageBox::about(this, QStringLiteral("错误"), QStringLiteral("无法读取固件文件！"));
        return;
    }
    // The definition comes from the same store, by the same rule, as
    // lumo-module's: the cache, and when it lacks the key, the service.
    const QString expected = ui->lineEdit_productkey->text().trimmed();
    options.expectedProductKey = expected;
    m_options = options;
    const QString key
        = expected.isEmpty() ? m_tool->readSetting(SettingKeys::ProductKey) : expected;
    if (!DefinitionStore::namesProduct(key)) {
        beginRun(DataPointDefinition());
        return;
    }
    m_waiting = true;
    ui->label_summary->setText(QStringLiteral("正在获取数据点定义……"));
    m_definitions->obtain(key);
}

void ModuleWindow::beginRun(const DataPointDefinition &definition)
{
    m_waiting = false;
    if (!m_line->isLineOpen()) {
        ui->label_summary->clear();
        return; // closed while the definition was on its way
    }
    ConformanceOptions options = m_options;
    options.definition = definition;
    delete m_run;
    m_run = new ConformanceRun(m_line, options, this);
    connect(m_run, &ConformanceRun::stepFinished, this, &ModuleWindow::addResult);
    connect(m_run, &ConformanceRun::finished, this, &ModuleWindow::runFinished);
    m_report = ConformanceReport();
    ui->tableWidget_results->setRowCount(0);
    ui->plainTextEdit_frames->clear();
    ui->label_summary->setText(QStringLiteral("测试中……"));
    ui->pushButton_run->setText(StopCaption);
    ui->pushButton_savejunit->setEnabled(false);
    m_idleFramer->clear();
    m_run->start();
}

void ModuleWindow::addResult(const StepResult &step)
{
    QTableWidget *table = ui->tableWidget_results;
    const int row = table->rowCount();
    table->insertRow(row);
    table->setItem(row, 0, new QTableWidgetItem(StepText::chinese(step.name)));
    auto *result = new QTableWidgetItem(outcomeText(step.outcome));
    if (step.failed())
        result->setBackground(QColor(255, 190, 190));
    else if (step.passed())
        result->setBackground(QColor(200, 240, 200));
    table->setItem(row, 1, result);
    table->setItem(row, 2, new QTableWidgetItem(StepText::chinese(step.reason)));
    table->scrollToBottom();
}

void ModuleWindow::runFinished()
{
    m_report = m_run->report();
    ui->label_summary->setText(QStringLiteral("共%1步：通过%2，失败%3，跳过%4")
                                   .arg(m_report.steps().size())
                                   .arg(m_report.passedCount())
                                   .arg(m_report.failedCount())
                                   .arg(m_report.skippedCount()));
    ui->pushButton_run->setText(RunCaption);
    ui->pushButton_savejunit->setEnabled(!m_report.steps().isEmpty());
}

void ModuleWindow::answerIdle(const QByteArray &frame)
{
    const QByteArray reply = ModuleResponder::reply(frame);
    if (!reply.isEmpty())
        m_line->send(ZemTool::escape(reply));
}

void ModuleWindow::on_tableWidget_results_currentCellChanged(int row, int, int, int)
{
    const QList<StepResult> &steps = isRunning() ? m_run->report().steps() : m_report.steps();
    if (row < 0 || row >= steps.size()) {
        ui->plainTextEdit_frames->clear();
        return;
    }
    ui->plainTextEdit_frames->setPlainText(
        steps.at(row).frameLines(StepText::framesLeftOut(true)).join(QLatin1Char('\n')));
}

void ModuleWindow::on_pushButton_firmware_clicked()
{
    const QString path
        = QFileDialog::getOpenFileName(this, QStringLiteral("选择固件"), AppPaths::binDir());
    if (!path.isEmpty())
        ui->lineEdit_firmware->setText(path);
}

void ModuleWindow::on_pushButton_savejunit_clicked()
{
    const QString path
        = QFileDialog::getSaveFileName(this, QStringLiteral("保存JUnit报告"),
                                       AppPaths::root() + QStringLiteral("/lumo-module-junit.xml"),
                                       QStringLiteral("JUnit XML (*.xml)"));
    if (!path.isEmpty())
        saveJUnit(path);
}

void ModuleWindow::saveJUnit(const QString &path)
{
    QString error;
    if (m_report.writeJUnit(path, QStringLiteral("lumo-module"), &error))
        QMessageBox::about(this, QStringLiteral("成功"), QStringLiteral("报告已保存！"));
    else
        QMessageBox::about(this, QStringLiteral("失败"),
                           QStringLiteral("无法保存报告：%1").arg(error));
}
