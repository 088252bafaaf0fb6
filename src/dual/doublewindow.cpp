// SPDX-License-Identifier: GPL-3.0-or-later
#include "dual/doublewindow.h"
#include "ui_doublewindow.h"

#include "dual/dualdisplay.h"
#include "dual/presetframes.h"
#include "dual/receivebox.h"
#include "engine/apppaths.h"
#include "engine/settingkeys.h"
#include "module/modulewindow.h"
#include "protocol/hexinput.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"
#include "tools/hexinputhint.h"

#include <QTime>
#include <QTimer>

namespace {
constexpr int FlushIntervalMs = 500;

const QString BridgeOnCaption = QStringLiteral("关闭双串口");
const QString BridgeOffCaption = QStringLiteral("打开双串口");

const QString TrueText = QStringLiteral("true");
const QString FalseText = QStringLiteral("false");

QString timeStamp()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}
} // namespace

DoubleWindow::DoubleWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::DoubleWindow)
{
    ui->setupUi(this);
    ui->label_background->setStyleSheet(
        AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background->lower();
    HexInputHint::attach(ui->textEdit_send1);
    HexInputHint::attach(ui->textEdit_send2);
    for (QLineEdit *line : {ui->lineEdit_default1, ui->lineEdit_default2, ui->lineEdit_default3,
                            ui->lineEdit_default4})
        HexInputHint::attach(line);

    m_settings = new ZemTool(this);
    m_settings->setObjectName(QStringLiteral("dualSettings"));

    setUpSide(m_side1, 1,
              {ui->com_1, ui->rate_1, ui->data_1, ui->stop_1, ui->check_1, ui->pushButton_open1},
              ui->textEdit_rec1);
    setUpSide(m_side2, 2,
              {ui->com_2, ui->rate_2, ui->data_2, ui->stop_2, ui->check_2, ui->pushButton_open2},
              ui->textEdit_rec2);
    m_side1.controls->remember(m_settings, SettingKeys::DualPort1Group);
    m_side2.controls->remember(m_settings, SettingKeys::DualPort2Group);
    // Only a stored "false" turns the bridge off: on is how the tool is
    // meant to sit in the line.
    setBridge(m_settings->readSetting(SettingKeys::DualBridge).trimmed() != FalseText);
    // Its slot, connected by name in setupUi, writes the restored state
    // back unchanged.
    ui->checkBox->setChecked(m_settings->readSetting(SettingKeys::DualV3NewLine).trimmed()
                             == TrueText);

    // Only side 1's port list feeds both port combos: both sides see the
    // same host.
    connect(m_side1.port, &ZemSerialPort::ComListChange, this, &DoubleWindow::UpdateUi);
    connect(m_side1.port, &ZemSerialPort::DataReady, this, &DoubleWindow::com1OnDataReady);
    connect(m_side2.port, &ZemSerialPort::DataReady, this, &DoubleWindow::com2OnDataReady);
    connect(m_side1.flush, &QTimer::timeout, this, &DoubleWindow::readbuf1);
    connect(m_side2.flush, &QTimer::timeout, this, &DoubleWindow::readbuf2);
    m_side1.flush->start(FlushIntervalMs);
    m_side2.flush->start(FlushIntervalMs);

    fillPresets(PresetFrames::version3());
}

DoubleWindow::~DoubleWindow()
{
    delete ui;
}

void DoubleWindow::setUpSide(Side &side, int n, const PortControls::Widgets &widgets,
                             ReceiveBox *box)
{
    side.port = new ZemSerialPort(this);
    side.port->setObjectName(QStringLiteral("port_%1").arg(n));
    side.controls = new PortControls(side.port, widgets, this);
    connect(side.controls, &PortControls::lost, this,
            [this, &side](const QString &name, const QString &reason) {
                sideLost(side, name, reason);
            });
    side.box = box;
    side.flush = new QTimer(this);
    side.flush->setObjectName(QStringLiteral("flushTimer_%1").arg(n));
}

void DoubleWindow::closeBothPorts()
{
    m_side1.controls->close();
    m_side2.controls->close();
}

void DoubleWindow::clearReceiveBoxes()
{
    m_side1.box->clearAll();
    m_side2.box->clearAll();
}

void DoubleWindow::UpdateUi(const QStringList &ports)
{
    m_side1.controls->setPortList(ports);
    m_side2.controls->setPortList(ports);
}

void DoubleWindow::on_pushButton_open1_clicked()
{
    m_side1.controls->toggle();
}

void DoubleWindow::on_pushButton_open2_clicked()
{
    m_side2.controls->toggle();
}

void DoubleWindow::on_pushButton_double_clicked()
{
    setBridge(!m_bridge);
    // Only the user's switch is remembered: a bridge switched off because a
    // port was lost comes back on at the next start.
    m_settings->writeSetting(SettingKeys::DualBridge, m_bridge ? TrueText : FalseText);
}

void DoubleWindow::on_checkBox_toggled(bool checked)
{
    m_settings->writeSetting(SettingKeys::DualV3NewLine, checked ? TrueText : FalseText);
}

void DoubleWindow::setBridge(bool on)
{
    m_bridge = on;
    ui->pushButton_double->setText(m_bridge ? BridgeOnCaption : BridgeOffCaption);
}

void DoubleWindow::sideLost(Side &side, const QString &name, const QString &reason)
{
    QString notice = QStringLiteral("串口 %1 已断开：%2")
                         .arg(name, reason.isEmpty() ? QStringLiteral("原因未知") : reason);
    if (m_bridge) {
        setBridge(false);
        notice += QStringLiteral("；双串口转发已关闭");
    }
    // What arrived before the loss is shown first, then the notice on a line
    // of its own, stamped like a frame line but without the colon.
    side.box->addText(DualDisplay::flush(side.held));
    side.box->addNotice(timeStamp() + QLatin1Char(' ') + notice);
}

void DoubleWindow::received(Side &from, Side &to, const QByteArray &data)
{
    // The far device must not wait for the drawing: forward first. A side
    // whose port failed has closed itself and is skipped from then on.
    if (m_bridge && to.port->isOpen())
        to.port->write(data);

    from.box->addText(
        DualDisplay::takeChunk(from.held, data, ui->checkBox->isChecked(), timeStamp()));
}

void DoubleWindow::com1OnDataReady(const QByteArray &data)
{
    received(m_side1, m_side2, data);
}

void DoubleWindow::com2OnDataReady(const QByteArray &data)
{
    received(m_side2, m_side1, data);
}

void DoubleWindow::flushHeld(Side &side)
{
    side.box->addText(DualDisplay::flush(side.held));
    // Also moves the box's cursor to the end when there is nothing to add.
    side.box->drawNow();
}

void DoubleWindow::readbuf1()
{
    flushHeld(m_side1);
}

void DoubleWindow::readbuf2()
{
    flushHeld(m_side2);
}

void DoubleWindow::sendToSide(Side &side, const QString &hexText)
{
    if (!side.port->isOpen())
        return;
    const QByteArray bytes = HexInput::toBytes(hexText);
    if (bytes.isEmpty())
        return;
    side.port->write(bytes);
    emit ManualDataSent(&side == &m_side1 ? 1 : 2, bytes);
}

QString DoubleWindow::presetLine(int line) const
{
    switch (line) {
    case 1:
        return ui->lineEdit_default1->text();
    case 2:
        return ui->lineEdit_default2->text();
    case 3:
        return ui->lineEdit_default3->text();
    default:
        return ui->lineEdit_default4->text();
    }
}

void DoubleWindow::fillPresets(const QStringList &lines)
{
    QLineEdit *edits[] = {ui->lineEdit_default1, ui->lineEdit_default2, ui->lineEdit_default3,
                          ui->lineEdit_default4};
    for (int i = 0; i < 4 && i < lines.size(); ++i)
        edits[i]->setText(lines.at(i));
}

void DoubleWindow::on_pushButton_left1_clicked()
{
    sendToSide(m_side1, presetLine(1));
}
void DoubleWindow::on_pushButton_left2_clicked()
{
    sendToSide(m_side1, presetLine(2));
}
void DoubleWindow::on_pushButton_left3_clicked()
{
    sendToSide(m_side1, presetLine(3));
}
void DoubleWindow::on_pushButton_left4_clicked()
{
    sendToSide(m_side1, presetLine(4));
}
void DoubleWindow::on_pushButton_right1_clicked()
{
    sendToSide(m_side2, presetLine(1));
}
void DoubleWindow::on_pushButton_right2_clicked()
{
    sendToSide(m_side2, presetLine(2));
}
void DoubleWindow::on_pushButton_right3_clicked()
{
    sendToSide(m_side2, presetLine(3));
}
void DoubleWindow::on_pushButton_right4_clicked()
{
    sendToSide(m_side2, presetLine(4));
}

void DoubleWindow::on_pushButton_send1_clicked()
{
    sendToSide(m_side1, ui->textEdit_send1->toPlainText());
}

void DoubleWindow::on_pushButton_send2_clicked()
{
    sendToSide(m_side2, ui->textEdit_send2->toPlainText());
}

void DoubleWindow::on_pushButton_v3_clicked()
{
    fillPresets(PresetFrames::version3());
}

void DoubleWindow::on_pushButton_v4_clicked()
{
    fillPresets(PresetFrames::version4());
}

void DoubleWindow::on_pushButton_module_clicked()
{
    // A window of its own with its own port: the dual tab's two ports stay
    // as they are, so the module can be played on a third line.
    if (!m_moduleWindow) {
        m_moduleWindow = new ModuleWindow(m_settings, this);
        m_moduleWindow->setObjectName(QStringLiteral("moduleWindow"));
    }
    m_moduleWindow->show();
    m_moduleWindow->raise();
    m_moduleWindow->activateWindow();
}
