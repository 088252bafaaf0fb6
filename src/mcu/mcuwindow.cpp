// SPDX-License-Identifier: GPL-3.0-or-later
#include "mcu/mcuwindow.h"
#include "ui_mcuwindow.h"

#include "base/apppaths.h"
#include "datapoint/definitionstore.h"
#include "datapoint/zemjson.h"
#include "engine/mcusimulator.h"
#include "engine/zemanalyze.h"
#include "engine/zemdescriber.h"
#include "mcu/datapointtable.h"
#include "mcu/mcusettingwindow.h"
#include "mcu/trafficlog.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/line.h"
#include "serial/zemserialport.h"
#include "widgets/commandlistwindow.h"
#include "widgets/portcontrols.h"
#include "widgets/sendcontrols.h"

#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QTime>
#include <QTimer>

namespace {

const QString AutoOnCaption = QStringLiteral("定时上报开");  // reports are off
const QString AutoOffCaption = QStringLiteral("定时上报关"); // reports are on

QString logTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

// "10" or "0.3": the fetch time limit as the user reads it.
QString secondsText(int ms)
{
    return QString::number(ms / 1000.0);
}

// The settings dialog offers 3 to 300 seconds; a stored value outside that
// range (or no number at all) would start an absurd or a 0 ms timer that
// floods the line, so the same range applies here.
constexpr int MinUploadSeconds = 3;
constexpr int MaxUploadSeconds = 300;

} // namespace

McuWindow::McuWindow(QWidget *parent)
    : McuWindow(nullptr, parent)
{ }

McuWindow::McuWindow(ZemTool *settings, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::McuWindow)
    , m_tool(settings ? settings : new ZemTool(this))
{
    ui->setupUi(this);
    ui->label_background2->setStyleSheet(
        AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background2->lower();

    // The engine's objects carry names, so that a test or a tool finds them
    // in the window as it finds the widgets of the form.
    m_sim = new McuSimulator(m_tool, this);
    m_sim->setObjectName(QStringLiteral("mcuSimulator"));
    m_port = m_sim->port();
    m_port->setObjectName(QStringLiteral("mcuPort"));
    m_sim->framer()->setObjectName(QStringLiteral("mcuFramer"));
    m_analyze = m_sim->analyze();
    m_analyze->setObjectName(QStringLiteral("mcuAnalyze"));
    connect(m_sim, &McuSimulator::transferred, this, &McuWindow::showTransfer);
    connect(m_sim, &McuSimulator::firmwareOffered, this, &McuWindow::onFirmwareOffered);
    connect(m_sim, &McuSimulator::firmwareReceived, this,
            [this](int pieces, qint64 bytes, const QString &file) {
                notice(QStringLiteral("固件接收完成：共 %1 片，%2 字节，已保存为 %3")
                           .arg(pieces)
                           .arg(bytes)
                           .arg(QDir::toNativeSeparators(file)));
            });
    connect(m_sim, &McuSimulator::firmwareCut, this,
            [this](int pieces, qint64 bytes, const QString &file, const QString &) {
                notice(QStringLiteral("固件接收未完成：串口关闭前收到 %1 片（%2 字节），%3 "
                                      "不完整，请让模组重新发送固件")
                           .arg(pieces)
                           .arg(bytes)
                           .arg(QDir::toNativeSeparators(file)));
            });
    // The table shows the engine's values through their model, which the
    // editors write into; what the user or a control frame set is kept.
    DataPointTable::bind(ui->datapoint_table, m_sim->model());
    connect(m_sim->model(), &DataPointModel::edited, this, &McuWindow::saveDataPointValues);
    connect(m_sim, &McuSimulator::valuesChanged, this, &McuWindow::saveDataPointValues);

    m_portControls = new PortControls(
        m_sim->line(),
        {ui->com_3, ui->rate_3, ui->data_3, ui->stop_3, ui->check_3, ui->pushButton_open3}, this);
    connect(m_port, &ZemSerialPort::ComListChange, this, &McuWindow::UpdateUi);
    connect(m_portControls, &PortControls::lost, this, &McuWindow::onPortLost);
    connect(m_portControls, &PortControls::returned, this, &McuWindow::onPortReturned);
    connect(m_portControls, &PortControls::reconnected, this, &McuWindow::onPortReconnected);
    m_portControls->offerNetworkLines(m_tool);
    m_portControls->remember(m_tool, SettingKeys::McuPortGroup);

    // The send box's controls sit under the log, where there is room in
    // width; the box's column is as tall as the tab already.
    m_send = new SendControls(ui->textEdit_send3, QStringLiteral("3"), m_tool,
                              SettingKeys::McuSendGroup, 3, this);
    ui->logLayout->addWidget(m_send);
    m_send->setWriter([this](const QByteArray &bytes) {
        if (!m_sim->isOpen())
            return false;
        m_sim->sendRaw(bytes);
        return true;
    });
    m_send->watch(m_sim->line());
    m_commands = new CommandListWindow(m_tool, SettingKeys::McuCommands,
                                       {{QStringLiteral("发送"), m_send}}, this);
    m_commands->setWindowTitle(QStringLiteral("指令列表（模拟V4MCU）"));
    m_commands->addShortcutsTo(this);
    connect(m_send, &SendControls::commandsRequested, this,
            [this] { m_commands->showFor(m_send); });

    // The engine's store is the tab's: a fetch from here is the engine's
    // fetch, and the table shows what the engine uses.
    m_definitions = m_sim->definitions();
    m_definitions->setObjectName(QStringLiteral("mcuDefinitions"));
    m_json = m_definitions->fetcher();
    m_json->setObjectName(QStringLiteral("mcuJson"));
    connect(m_definitions, &DefinitionStore::ready, this, &McuWindow::definitionReady);
    connect(m_definitions, &DefinitionStore::failed, this,
            [this](const QString &, const QString &reason, bool refused) {
                if (refused)
                    jsonState(false, reason);
                else
                    onFetchFailed(reason);
            });
    // Whoever parses through the fetcher (a test, a tool) rebuilds the table too.
    connect(m_json, &ZemJson::ListOk, this, &McuWindow::updateDataPointWindow);
    // The stored key's definition from the cache, before the window shows.
    DataPointDefinition cached;
    if (m_definitions->load(m_tool->readSetting(SettingKeys::ProductKey), &cached))
        updateDataPointWindow(cached.records());

    // The field shows what the user left in it; before anything was typed,
    // the stored key (the placeholder means none, so nothing is shown).
    QString fieldText = m_tool->readSetting(SettingKeys::ProductKeyField);
    if (fieldText.isEmpty()) {
        fieldText = m_tool->readSetting(SettingKeys::ProductKey);
        if (fieldText == SettingKeys::PlaceholderProductKey)
            fieldText.clear();
    }
    ui->lineEdit_productkey->setText(fieldText);
    // A key is recognised by its start; setText leaves the view on the tail.
    ui->lineEdit_productkey->setCursorPosition(0);
    // textEdited: only what the user types, not the text set above.
    connect(ui->lineEdit_productkey, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_tool->writeSetting(SettingKeys::ProductKeyField, text);
    });

    m_uploadTimer = new QTimer(this);
    m_uploadTimer->setObjectName(QStringLiteral("uploadTimer"));
    m_uploadTimer->setSingleShot(false);
    connect(m_uploadTimer, &QTimer::timeout, this, &McuWindow::autoUpLoad);

    // Top-level windows of their own, found by their form's object names
    // ("McuCmdWindow", "McuSettingWindow") among the application's windows.
    m_cmdWindow = new McuCmdWindow(nullptr);
    connect(m_cmdWindow, &McuCmdWindow::SENDCMD, this, &McuWindow::SendCMD);
    m_settingWindow = new McuSettingWindow(m_tool, nullptr);
}

McuWindow::~McuWindow()
{
    delete m_cmdWindow;
    delete m_settingWindow;
    delete ui;
}

// --- traffic log -----------------------------------------------------------

void McuWindow::showTransfer(const McuTransfer &transfer)
{
    // A dropped frame stays clickable: its byte line decodes like any other,
    // and shows the wrong checksum.
    ui->listWidget->addTransfer(transfer.tag, transfer.wire, transfer.frame,
                                transfer.dropped ? QStringLiteral("（校验和错误，已丢弃）")
                                                 : QString());
}

void McuWindow::notice(const QString &text)
{
    ui->listWidget->addNotice(text);
}

void McuWindow::clearLog()
{
    ui->listWidget->clearLog();
}

Line *McuWindow::line() const
{
    return m_sim->line();
}

ZemSerialPort *McuWindow::port() const
{
    return m_port;
}

// --- port --------------------------------------------------------------------

void McuWindow::UpdateUi(const QStringList &ports)
{
    m_portControls->setPortList(ports);
}

void McuWindow::on_pushButton_open3_clicked()
{
    // A partial frame of the closed line would otherwise be completed by
    // the first bytes after the next open.
    m_resumeAutoUpload = false;
    m_send->stopPeriodic();
    if (m_portControls->close()) {
        stopAutoUpload();
        m_sim->lineClosed();
        return;
    }
    m_portControls->open();
}

void McuWindow::closePort(const QString &why)
{
    const QString name = line()->address();
    m_send->stopPeriodic();
    if (!m_portControls->close())
        return;
    if (!why.isEmpty())
        notice(QStringLiteral("串口 %1 已关闭：%2").arg(name, why));
    m_sim->lineClosed();
}

void McuWindow::onPortLost(const QString &name, const QString &reason)
{
    // The adapter is gone or the far end closed; the port has closed itself
    // and is selected again when it comes back (see PortControls). Reset
    // the window and say so in the log.
    m_resumeAutoUpload = m_autoUpload;
    stopAutoUpload();
    m_sim->resetFraming();
    notice(QStringLiteral("串口 %1 已断开：%2").arg(name, reason));
}

void McuWindow::onPortReturned(const QString &name)
{
    notice(QStringLiteral("串口 %1 已重新接入，点击“打开串口”即可重新打开").arg(name));
}

void McuWindow::onPortReconnected(const QString &name)
{
    // The framer was reset at the loss; a firmware transfer cut then stays
    // under way and completes when the module resumes it.
    notice(QStringLiteral("网络串口 %1 已重新连接").arg(name));
    if (m_resumeAutoUpload)
        startAutoUpload();
    m_resumeAutoUpload = false;
}

// --- frames ------------------------------------------------------------------

void McuWindow::onFirmwareOffered()
{
    // The module waits for the MCU's 0x1B before it sends a piece; without
    // the setting that is the user's click, so say which.
    if (m_tool->readSetting(SettingKeys::OtaAutoStart) == QLatin1String("true")) {
        notice(QStringLiteral("收到固件升级请求（0x19），已自动发送开始接收（0x1B）"));
        if (!m_sim->sendFirmwareReady())
            notice(QStringLiteral("无法生成开始接收固件（0x1B）：请检查设置 %1")
                       .arg(SettingKeys::StoredFirmwareReady));
        return;
    }
    notice(QStringLiteral("收到固件升级请求（0x19），模组在等待：请点击“指令界面”→“开始接收固件”"));
}

void McuWindow::fromFramer(const QByteArray &frame)
{
    // The engine decides everything about a frame: a control sets its
    // values (shown through showControl), then the frame is logged and
    // answered.
    m_sim->fromFramer(frame);
}

void McuWindow::fromRespond(const QByteArray &reply)
{
    m_sim->fromRespond(reply);
}

// --- user actions ------------------------------------------------------------

void McuWindow::on_pushButton_send3_clicked()
{
    m_send->sendBoxText();
}

void McuWindow::on_pushButton_upload_clicked()
{
    m_sim->sendStatusReport();
}

void McuWindow::autoUpLoad()
{
    m_sim->sendStatusReport();
}

void McuWindow::on_pushButton_autoupload_clicked()
{
    if (m_autoUpload) {
        stopAutoUpload();
        return;
    }
    if (m_sim->isOpen())
        startAutoUpload();
}

void McuWindow::startAutoUpload()
{
    const int seconds = qBound(MinUploadSeconds, m_tool->readSettingNumber(SettingKeys::UploadTime),
                               MaxUploadSeconds);
    m_uploadTimer->start(seconds * 1000);
    ui->pushButton_autoupload->setText(AutoOffCaption);
    m_autoUpload = true;
}

void McuWindow::stopAutoUpload()
{
    m_uploadTimer->stop();
    ui->pushButton_autoupload->setText(AutoOnCaption);
    m_autoUpload = false;
}

void McuWindow::on_pushButton_productkey_clicked()
{
    if (!m_analyze->checkProductKey(ui->lineEdit_productkey->text())) {
        QMessageBox::about(this, QStringLiteral("错误"), QStringLiteral("输入格式错误"));
        return;
    }
    startFetch();
}

void McuWindow::on_pushButton_updatejson_clicked()
{
    startFetch();
}

void McuWindow::startFetch()
{
    m_definitions->fetch(m_tool->readSetting(SettingKeys::ProductKey));
    // The fetch ends by itself after this time, so the user knows how long
    // a silent service can keep them waiting.
    ui->label_jsonstate->setText(QStringLiteral("正在获取数据点列表…（最长等待%1秒）")
                                     .arg(secondsText(m_json->fetchTimeout())));
}

// While another fetch is still under way the window keeps saying so; each
// result still gets its message box.
void McuWindow::showFetchResult(const QString &text)
{
    if (!m_definitions->busy())
        ui->label_jsonstate->setText(text);
}

void McuWindow::definitionReady(const QString &productKey, const DataPointDefinition &definition)
{
    jsonState(true, QString());
    // The table follows the key stored now, which another save may have
    // changed while this fetch was under way.
    const QString stored = m_tool->readSetting(SettingKeys::ProductKey);
    if (productKey == stored) {
        updateDataPointWindow(definition.records());
        return;
    }
    DataPointDefinition cached;
    if (m_definitions->load(stored, &cached))
        updateDataPointWindow(cached.records());
}

void McuWindow::jsonState(bool ok, const QString &detail)
{
    const QString time = logTime().left(8);
    if (ok) {
        showFetchResult(QStringLiteral("%1 数据点列表已更新").arg(time));
        QMessageBox::about(this, QStringLiteral("成功"), QStringLiteral("获取数据点列表成功！"));
    } else {
        showFetchResult(QStringLiteral("%1 获取数据点列表失败：%2").arg(time, detail));
        showMessage(QStringLiteral("失败"),
                    QStringLiteral("获取数据点列表失败，请检查product_key是否正确！"), detail);
    }
}

void McuWindow::onFetchFailed(const QString &reason)
{
    // Nothing was stored: the table and the cache keep the definition they
    // had, and the user is told why.
    const QString kept = QStringLiteral("仍使用原有的数据点定义。");
    showFetchResult(
        QStringLiteral("%1 获取数据点列表失败：%2。%3").arg(logTime().left(8), reason, kept));
    showMessage(QStringLiteral("失败"), QStringLiteral("获取数据点列表失败！"),
                reason + QStringLiteral("。") + kept);
}

void McuWindow::showMessage(const QString &title, const QString &text, const QString &detail)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box.setInformativeText(detail);
    box.exec();
}

void McuWindow::showProductKeyHint()
{
    if (m_tool->readSetting(SettingKeys::ProductKey) == SettingKeys::PlaceholderProductKey)
        QMessageBox::about(this, QStringLiteral("提示"),
                           QStringLiteral("第一次使用请输入product_key！"));
}

void McuWindow::on_listWidget_clicked(const QModelIndex &index)
{
    // Only byte lines keep a frame; headers (tag and time) and notices do not.
    const QVariant frame = index.data(TrafficLog::FrameRole);
    if (!frame.isValid())
        return;
    const QByteArray bytes = frame.toByteArray();
    const QStringList fields = m_analyze->describe(bytes);
    QLabel *const labels[]
        = {ui->label_analyze,    ui->label_length,  ui->label_cmd,        ui->label_sn,
           ui->label_checksum_2, ui->label_setmode, ui->label_connect,    ui->label_wifistate,
           ui->label_productkey, ui->label_signal,  ui->label_hasconnect, ui->label_time};
    int i = 0;
    for (QLabel *label : labels) {
        label->setText(fields.value(i));
        ++i;
    }
    // A frame that carries a wrong checksum is marked where the eye falls.
    const bool wrong = ZemDescriber::hasWrongChecksum(bytes);
    ui->label_checksum_2->setStyleSheet(wrong ? QStringLiteral("color:#c00000;font-weight:bold;")
                                              : QString());
    ui->label_checksum_2->setToolTip(
        wrong ? QStringLiteral("校验和错误：按帧内容算得 %1，帧中携带 %2")
                    .arg(fields.value(ZemDescriber::Checksum).left(2))
                    .arg(ZemTool::byteValue(bytes, bytes.size() - 1), 2, 16, QLatin1Char('0'))
              : QString());
}

void McuWindow::on_pushButton_showcmd_clicked()
{
    m_cmdWindow->setVisible(m_cmdWindow->isHidden());
}

void McuWindow::on_pushButton_setting_clicked()
{
    if (m_settingWindow->isHidden()) {
        m_settingWindow->loadSettings();
        m_settingWindow->show();
    } else {
        m_settingWindow->hide();
    }
}

// --- module commands -----------------------------------------------------------

void McuWindow::SendCMD(CMD cmd)
{
    if (!m_sim->isOpen())
        return;
    if (cmd == CMD_STARTOTA) {
        m_sim->sendFirmwareReady();
        return;
    }
    const QString key = SettingKeys::storedFrameKey(cmd);
    if (key.isEmpty())
        return;
    m_sim->sendRaw(m_tool->readSettingHex(key));
}

// --- data-point table ----------------------------------------------------------

void McuWindow::updateDataPointWindow(const QList<json_struct> &list)
{
    // The list is the definition of the key stored now (it is loaded for
    // that key), whose values the user set before are taken back.
    m_valuesKey = m_tool->readSetting(SettingKeys::ProductKey);
    m_sim->setDefinition(DataPointDefinition(list),
                         m_valuesKey.isEmpty()
                             ? QString()
                             : m_tool->readSetting(SettingKeys::dataPointValuesKey(m_valuesKey)));
}

void McuWindow::saveDataPointValues()
{
    if (m_valuesKey.isEmpty())
        return;
    m_tool->writeSetting(SettingKeys::dataPointValuesKey(m_valuesKey), m_sim->values().savedText());
}

QByteArray McuWindow::buildStatusReport()
{
    return m_sim->statusReport();
}

void McuWindow::applyControlFrame(const QByteArray &frame)
{
    m_sim->applyControl(frame);
}
