// SPDX-License-Identifier: GPL-3.0-or-later
#include "dual/doublewindow.h"
#include "ui_doublewindow.h"

#include "base/apppaths.h"
#include "bridge/dualdisplay.h"
#include "bridge/linebridge.h"
#include "bridge/presetframes.h"
#include "dual/modulewindow.h"
#include "dual/receivebox.h"
#include "protocol/hexinput.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/zemserialport.h"
#include "widgets/commandlistwindow.h"
#include "widgets/hexinputhint.h"
#include "widgets/sendcontrols.h"

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
    , m_settings(new ZemTool(this))
{
    m_settings->setObjectName(QStringLiteral("dualSettings"));
    setUp();
}

DoubleWindow::DoubleWindow(ZemTool *settings, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::DoubleWindow)
    , m_settings(settings)
{
    setUp();
}

void DoubleWindow::setUp()
{
    ui->setupUi(this);
    ui->label_background->setStyleSheet(
        AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background->lower();
    for (QLineEdit *line : {ui->lineEdit_default1, ui->lineEdit_default2, ui->lineEdit_default3,
                            ui->lineEdit_default4})
        HexInputHint::attach(line);

    setUpSide(m_side1, 1,
              {ui->com_1, ui->rate_1, ui->data_1, ui->stop_1, ui->check_1, ui->pushButton_open1},
              ui->textEdit_rec1);
    setUpSide(m_side2, 2,
              {ui->com_2, ui->rate_2, ui->data_2, ui->stop_2, ui->check_2, ui->pushButton_open2},
              ui->textEdit_rec2);
    m_side1.controls->remember(m_settings, SettingKeys::DualPort1Group);
    m_side2.controls->remember(m_settings, SettingKeys::DualPort2Group);
    setUpSending();

    m_bridge = new LineBridge(m_side1.line, m_side2.line, this);
    m_bridge->setObjectName(QStringLiteral("dualBridge"));
    connect(m_bridge, &LineBridge::received, this, &DoubleWindow::received);
    connect(m_bridge, &LineBridge::switched, this, &DoubleWindow::showBridge);
    connect(m_bridge, &LineBridge::lineLost, this, &DoubleWindow::sideLost);
    connect(m_bridge, &LineBridge::sentByHand, this, &DoubleWindow::ManualDataSent);
    // Only a stored "false" turns the bridge off: on is how the tool is
    // meant to sit in the line.
    m_bridge->setOn(m_settings->readSetting(SettingKeys::DualBridge).trimmed() != FalseText);
    showBridge(m_bridge->isOn());
    // Its slot, connected by name in setupUi, writes the restored state
    // back unchanged.
    ui->checkBox->setChecked(m_settings->readSetting(SettingKeys::DualV3NewLine).trimmed()
                             == TrueText);

    // Only side 1's port list feeds both port combos: both sides see the
    // same host.
    connect(m_side1.line->port(), &ZemSerialPort::ComListChange, this, &DoubleWindow::UpdateUi);
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
    side.line = new AnyLine(this);
    side.line->setObjectName(QStringLiteral("line_%1").arg(n));
    side.line->port()->setObjectName(QStringLiteral("port_%1").arg(n));
    side.controls = new PortControls(side.line, widgets, this);
    side.controls->offerNetworkLines(m_settings);
    connect(side.controls, &PortControls::reconnected, this,
            [this, &side](const QString &name) { sideReconnected(side, name); });
    side.box = box;
    side.flush = new QTimer(this);
    side.flush->setObjectName(QStringLiteral("flushTimer_%1").arg(n));
}

void DoubleWindow::setUpSending()
{
    m_side1.send = new SendControls(ui->textEdit_send1, QStringLiteral("1"), m_settings,
                                    SettingKeys::DualSend1Group, 2, this);
    m_side2.send = new SendControls(ui->textEdit_send2, QStringLiteral("2"), m_settings,
                                    SettingKeys::DualSend2Group, 2, this);
    ui->sendControlsLayout1->addWidget(m_side1.send);
    ui->sendControlsLayout2->addWidget(m_side2.send);
    m_commands = new CommandListWindow(
        m_settings, SettingKeys::DualCommands,
        {{QStringLiteral("发送左"), m_side1.send}, {QStringLiteral("发送右"), m_side2.send}}, this);
    m_commands->setWindowTitle(QStringLiteral("指令列表（双串口）"));
    m_commands->addShortcutsTo(this);
    for (int n : {1, 2}) {
        SendControls *send = side(n).send;
        send->setWriter([this, n](const QByteArray &bytes) {
            // Written as the box made them: completed or as typed.
            return m_bridge->sendByHand(n, bytes);
        });
        send->watch(side(n).line);
        connect(send, &SendControls::commandsRequested, this,
                [this, send] { m_commands->showFor(send); });
    }
}

Line *DoubleWindow::line1() const
{
    return m_side1.line;
}

Line *DoubleWindow::line2() const
{
    return m_side2.line;
}

ZemSerialPort *DoubleWindow::port1() const
{
    return m_side1.line->port();
}

ZemSerialPort *DoubleWindow::port2() const
{
    return m_side2.line->port();
}

void DoubleWindow::closeBothPorts(const QString &why)
{
    for (Side *side : {&m_side1, &m_side2}) {
        side->send->stopPeriodic();
        const QString name = side->line->address();
        if (side->controls->close() && !why.isEmpty())
            addNotice(*side, QStringLiteral("串口 %1 已关闭：%2").arg(name, why));
    }
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
    m_side1.bridgeCut = false;
    m_side1.send->stopPeriodic();
    m_side1.controls->toggle();
}

void DoubleWindow::on_pushButton_open2_clicked()
{
    m_side2.bridgeCut = false;
    m_side2.send->stopPeriodic();
    m_side2.controls->toggle();
}

void DoubleWindow::on_pushButton_double_clicked()
{
    m_bridge->setOn(!m_bridge->isOn());
    m_side1.bridgeCut = m_side2.bridgeCut = false;
    // Only the user's switch is remembered: a bridge switched off because a
    // port was lost comes back on at the next start.
    m_settings->writeSetting(SettingKeys::DualBridge, m_bridge->isOn() ? TrueText : FalseText);
}

void DoubleWindow::on_checkBox_toggled(bool checked)
{
    m_settings->writeSetting(SettingKeys::DualV3NewLine, checked ? TrueText : FalseText);
}

void DoubleWindow::showBridge(bool on)
{
    ui->pushButton_double->setText(on ? BridgeOnCaption : BridgeOffCaption);
}

void DoubleWindow::sideLost(int n, const QString &name, const QString &reason, bool bridgeWasOn)
{
    Side &side = this->side(n);
    QString notice = QStringLiteral("串口 %1 已断开：%2")
                         .arg(name, reason.isEmpty() ? QStringLiteral("原因未知") : reason);
    if (bridgeWasOn)
        notice += QStringLiteral("；双串口转发已关闭");
    side.bridgeCut = bridgeWasOn;
    addNotice(side, notice);
}

void DoubleWindow::sideReconnected(Side &side, const QString &name)
{
    QString notice = QStringLiteral("网络串口 %1 已重新连接").arg(name);
    // The bridge went off only because of the loss; the user did not switch it.
    if (side.bridgeCut && !m_bridge->isOn()) {
        m_bridge->setOn(true);
        notice += QStringLiteral("；双串口转发已恢复");
    }
    side.bridgeCut = false;
    addNotice(side, notice);
}

void DoubleWindow::addNotice(Side &side, const QString &text)
{
    // What arrived before is shown first, then the notice on a line of its
    // own, stamped like a frame line but without the colon.
    side.box->addText(DualDisplay::flush(side.held));
    side.box->addNotice(timeStamp() + QLatin1Char(' ') + text);
}

void DoubleWindow::received(int n, const QByteArray &data)
{
    // The bridge has forwarded the chunk already; only the text is made here.
    Side &from = side(n);
    from.box->addText(
        DualDisplay::takeChunk(from.held, data, ui->checkBox->isChecked(), timeStamp()));
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
    // Nothing is added: no checksum, no escaping.
    m_bridge->sendByHand(&side == &m_side1 ? 1 : 2, HexInput::toBytes(hexText));
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
    for (int i = 0; i < 4 && i < lines.size(); ++i) {
        edits[i]->setText(lines.at(i));
        // Long frames (the product reply) are recognised by their start.
        edits[i]->setCursorPosition(0);
    }
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
    m_side1.send->sendBoxText();
}

void DoubleWindow::on_pushButton_send2_clicked()
{
    m_side2.send->sendBoxText();
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
