#include "mcu/mcuwindow.h"
#include "ui_mcuwindow.h"

#include "app/apppaths.h"
#include "datapoint/datapointtable.h"
#include "datapoint/zemjson.h"
#include "engine/settingkeys.h"
#include "engine/zemanalyze.h"
#include "engine/zemfirmware.h"
#include "mcu/mcusettingwindow.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"
#include "tools/hexinputhint.h"

#include <QDebug>
#include <QMessageBox>
#include <QTime>
#include <QTimer>

namespace {

const QString OpenCaption = QStringLiteral("打开串口");
const QString CloseCaption = QStringLiteral("关闭串口");
const QString AutoOnCaption = QStringLiteral("定时上报开");  // reports are off
const QString AutoOffCaption = QStringLiteral("定时上报关"); // reports are on

const QString TagWifi = QStringLiteral("WIFI:");
const QString TagMcu = QStringLiteral("MCU:");
const QString TagSend = QStringLiteral("SEND:");

// The settings dialog offers 3 to 300 seconds; a stored value outside that
// range (or no number at all) would start an absurd or a 0 ms timer that
// floods the line, so the same range applies here.
constexpr int MinUploadSeconds = 3;
constexpr int MaxUploadSeconds = 300;

// The traffic log keeps the most recent entries; older ones are dropped in
// blocks so the list stays fast in sessions of many hours.
constexpr int MaxLogItems = 200000; // 100 000 transfers, header and bytes
constexpr int LogTrimBlock = 20000;
constexpr int LogFlushIntervalMs = 100;

constexpr int CommandStatus = 0x03;  // module -> MCU: control (01) or read (02)
constexpr int CommandStatusReply = 0x04;
constexpr int ActionControl = 0x01;
constexpr int ActionStatusReply = 0x03;
constexpr int PlainAckLength = 5;

QString storedFrameKey(CMD cmd)
{
    switch (cmd) {
    case CMD_AIRLINK:
        return QStringLiteral("Defaule/492");
    case CMD_SOFTAP:
        return QStringLiteral("Defaule/491");
    case CMD_RESET:
        return QStringLiteral("Defaule/4B");
    case CMD_GETTIME:
        return QStringLiteral("Defaule/417");
    case CMD_ONBORDING:
        return QStringLiteral("Defaule/415");
    case CMD_STARTOTA:
        return QStringLiteral("Defaule/41B");
    case CMD_TEST:
        return QStringLiteral("Defaule/413");
    }
    return QString();
}

} // namespace

McuWindow::McuWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::McuWindow)
{
    ui->setupUi(this);
    ui->label_background2->setStyleSheet(AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background2->lower();
    HexInputHint::attach(ui->textEdit_send3);

    m_tool = new ZemTool(this);

    m_port = new ZemSerialPort(this);
    connect(m_port, &ZemSerialPort::ComListChange, this, &McuWindow::UpdateUi);
    connect(m_port, &ZemSerialPort::PortLost, this, &McuWindow::onPortLost);

    m_framer = new ZemFramer(m_tool, m_port, this);
    connect(m_framer, &ZemFramer::LineDataReady, this, &McuWindow::fromFramer);

    // Connected after the window's own slot, so a request is logged before
    // its reply.
    m_analyze = new ZemAnalyze(m_framer, m_tool, this);
    connect(m_analyze, &ZemAnalyze::RespondReady, this, &McuWindow::fromRespond);

    m_json = new ZemJson(this);
    connect(m_json, &ZemJson::json_stat, this, &McuWindow::jsonState);
    connect(m_json, &ZemJson::ListOk, this, &McuWindow::updateDataPointWindow);
    m_json->loadJson(m_tool->readSetting(SettingKeys::ProductKey));

    m_logFlushTimer = new QTimer(this);
    m_logFlushTimer->setSingleShot(true);
    m_logFlushTimer->setInterval(LogFlushIntervalMs);
    connect(m_logFlushTimer, &QTimer::timeout, this, &McuWindow::flushLog);

    m_uploadTimer = new QTimer(this);
    m_uploadTimer->setSingleShot(false);
    connect(m_uploadTimer, &QTimer::timeout, this, &McuWindow::autoUpLoad);

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

void McuWindow::log(const QString &tag, const QByteArray &bytes)
{
    // The header's time is taken now; the list itself is updated in batches
    // (see flushLog).
    m_pendingLog.append(tag + QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")));
    m_pendingLog.append(ZemTool::hexText(bytes));
    if (!m_logFlushTimer->isActive())
        m_logFlushTimer->start();
}

void McuWindow::flushLog()
{
    m_logFlushTimer->stop();
    if (m_pendingLog.isEmpty())
        return;
    // Every insertion makes the list view lay out all its rows again, which
    // costs milliseconds once it holds 100 000 transfers. Inserting what
    // arrived in the last few tens of milliseconds at once keeps that cost
    // per batch, not per frame, so a module sending continuously does not
    // stall the window.
    QListWidget *list = ui->listWidget;
    const int excess = list->count() + m_pendingLog.size() - MaxLogItems;
    if (excess > 0)
        list->model()->removeRows(0, qMin(list->count(), qMax(excess, LogTrimBlock)));
    list->addItems(m_pendingLog);
    m_pendingLog.clear();
    list->scrollToBottom();
}

void McuWindow::clearLog()
{
    m_pendingLog.clear();
    m_logFlushTimer->stop();
    ui->listWidget->clear();
}

void McuWindow::writeToPort(const QByteArray &bytes)
{
    if (m_port->isOpen())
        m_port->write(bytes);
}

// --- port --------------------------------------------------------------------

void McuWindow::UpdateUi(const QStringList &ports)
{
    const QString current = ui->com_3->currentText();
    ui->com_3->clear();
    ui->com_3->addItems(ports);
    const int index = ports.indexOf(current);
    ui->com_3->setCurrentIndex(index >= 0 ? index : 0);
}

void McuWindow::on_pushButton_open3_clicked()
{
    if (m_port->isOpen()) {
        m_port->Close();
        stopAutoUpload();
        ui->pushButton_open3->setText(OpenCaption);
        m_framer->clear();
        return;
    }
    if (m_port->Open(ui->com_3->currentText(), ui->rate_3->currentText(),
                     ui->data_3->currentIndex(), ui->stop_3->currentIndex(),
                     ui->check_3->currentIndex())) {
        ui->pushButton_open3->setText(CloseCaption);
    } else {
        QMessageBox::about(this, QStringLiteral("错误"), QStringLiteral("打开失败！"));
    }
}

void McuWindow::closePort()
{
    if (m_port->isOpen()) {
        m_port->Close();
        m_framer->clear();
    }
    ui->pushButton_open3->setText(OpenCaption);
}

void McuWindow::onPortLost()
{
    // The adapter is gone; the port has closed itself. Reset the window so
    // the user can open it again once the device is back.
    stopAutoUpload();
    m_framer->clear();
    ui->pushButton_open3->setText(OpenCaption);
}

// --- frames ------------------------------------------------------------------

void McuWindow::fromFramer(const QByteArray &frame)
{
    if (ZemTool::byteValue(frame, Frame::CommandOffset) == CommandStatus
        && ZemTool::byteValue(frame, Frame::PayloadOffset) == ActionControl)
        applyControlFrame(frame);
    log(TagWifi, frame);
}

void McuWindow::fromRespond(const QByteArray &reply)
{
    QByteArray frame = reply;
    // Only an answer to a status read carries the status: command 04 with
    // action 03 and a payload. A plain acknowledgement (length 5) whose
    // checksum byte happens to be 03 is sent as it is.
    if (ZemTool::byteValue(reply, Frame::CommandOffset) == CommandStatusReply
        && ZemTool::byteValue(reply, Frame::PayloadOffset) == ActionStatusReply
        && ZemTool::word16(reply, Frame::LengthOffset) > PlainAckLength) {
        const char sequence = reply.at(Frame::SequenceOffset);
        frame = buildStatusReport();
        if (frame.size() > Frame::PayloadOffset) {
            frame[Frame::CommandOffset] = char(CommandStatusReply);
            frame[Frame::SequenceOffset] = sequence;
            frame[Frame::PayloadOffset] = char(ActionStatusReply);
            ZemTool::setFrameChecksum(frame);
        }
    }
    const QByteArray wire = ZemTool::escape(frame);
    writeToPort(wire);
    log(TagMcu, wire);
}

// --- user actions ------------------------------------------------------------

void McuWindow::on_pushButton_send3_clicked()
{
    if (!m_port->isOpen())
        return;
    const QByteArray bytes = QByteArray::fromHex(ui->textEdit_send3->toPlainText().toLatin1());
    m_port->write(bytes);
    log(TagSend, bytes);
}

void McuWindow::sendStatusReport()
{
    if (!m_port->isOpen())
        return;
    const QByteArray wire = ZemTool::escape(buildStatusReport());
    m_port->write(wire);
    log(TagSend, wire);
}

void McuWindow::on_pushButton_upload_clicked()
{
    sendStatusReport();
}

void McuWindow::autoUpLoad()
{
    sendStatusReport();
}

void McuWindow::on_pushButton_autoupload_clicked()
{
    if (m_autoUpload) {
        stopAutoUpload();
        return;
    }
    if (!m_port->isOpen())
        return;
    const int seconds = qBound(MinUploadSeconds,
                               m_tool->readSettingNumber(SettingKeys::UploadTime),
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
    m_json->getJson(m_tool->readSetting(SettingKeys::ProductKey));
}

void McuWindow::on_pushButton_updatejson_clicked()
{
    m_json->getJson(m_tool->readSetting(SettingKeys::ProductKey));
}

void McuWindow::jsonState(bool ok)
{
    if (ok) {
        QMessageBox::about(this, QStringLiteral("成功"), QStringLiteral("获取数据点列表成功！"));
        m_json->loadJson(m_tool->readSetting(SettingKeys::ProductKey));
    } else {
        QMessageBox::about(this, QStringLiteral("失败"),
                           QStringLiteral("获取数据点列表失败，请检查product_key是否正确！"));
    }
}

void McuWindow::showProductKeyHint()
{
    if (m_tool->readSetting(SettingKeys::ProductKey) == SettingKeys::PlaceholderProductKey)
        QMessageBox::about(this, QStringLiteral("提示"), QStringLiteral("第一次使用请输入product_key！"));
}

void McuWindow::on_listWidget_itemClicked(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString text = item->text();
    if (text.contains(QLatin1String("WIFI")) || text.contains(QLatin1String("MCU"))
        || text.contains(QLatin1String("SEND")))
        return; // a header line: tag and time
    const QStringList fields = m_analyze->describe(QByteArray::fromHex(text.toLatin1()));
    QLabel *const labels[] = {ui->label_analyze,   ui->label_length,     ui->label_cmd,
                              ui->label_sn,        ui->label_checksum_2, ui->label_setmode,
                              ui->label_connect,   ui->label_wifistate,  ui->label_productkey,
                              ui->label_signal,    ui->label_hasconnect, ui->label_time};
    int i = 0;
    for (QLabel *label : labels) {
        label->setText(fields.value(i));
        ++i;
    }
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

QByteArray McuWindow::firmwareRequest() const
{
    // The stored frame body, then the count and the field the module sent
    // in its firmware announcement, then the piece size; the length field
    // counts everything up to the checksum that follows.
    QByteArray frame = m_tool->readSettingHex(storedFrameKey(CMD_STARTOTA));
    if (frame.size() < Frame::PayloadOffset) {
        qDebug() << "Defaule/41B is too short for a firmware request:" << frame.toHex(' ');
        return QByteArray();
    }
    const int pieceSize = qBound(0, m_tool->readSettingNumber(SettingKeys::OtaPiece),
                                 ZemFirmware::MaxPieceSize);
    frame.append(m_analyze->otaCount());
    frame.append(m_analyze->otaField());
    frame.append(ZemTool::numberToBytes(quint32(pieceSize), 2));

    const QByteArray length = ZemTool::numberToBytes(quint32(frame.size() - 3), 2);
    frame[Frame::LengthOffset] = length.at(0);
    frame[Frame::LengthOffset + 1] = length.at(1);
    if (m_tool->readSetting(SettingKeys::OtaType) == QLatin1String("hex"))
        frame[Frame::FlagsOffset + 1] = char(0x01);
    frame.append(char(ZemTool::checksum(frame, Frame::ChecksumStart, 0)));
    return frame;
}

void McuWindow::SendCMD(CMD cmd)
{
    if (!m_port->isOpen())
        return;
    if (cmd == CMD_STARTOTA) {
        // The field comes from the module and may hold FF: escaped like every
        // frame the MCU builds, or a conforming module would cut it there.
        const QByteArray frame = firmwareRequest();
        if (frame.isEmpty())
            return;
        const QByteArray wire = ZemTool::escape(frame);
        m_port->write(wire);
        log(TagMcu, wire);
        return;
    }
    const QString key = storedFrameKey(cmd);
    if (key.isEmpty())
        return;
    const QByteArray bytes = m_tool->readSettingHex(key);
    m_port->write(bytes);
    log(TagSend, bytes);
}

// --- data-point table ----------------------------------------------------------

void McuWindow::updateDataPointWindow(const QList<json_struct> &list)
{
    DataPointTable::rebuild(ui->datapoint_table, list, this);
}

QByteArray McuWindow::buildStatusReport()
{
    return DataPointTable::buildStatusReport(ui->datapoint_table, m_json);
}

void McuWindow::applyControlFrame(const QByteArray &frame)
{
    DataPointTable::applyControlFrame(ui->datapoint_table, m_json, frame);
}
