#include "dual/doublewindow.h"
#include "ui_doublewindow.h"

#include "engine/apppaths.h"
#include "dual/dualdisplay.h"
#include "dual/presetframes.h"
#include "dual/receivebox.h"
#include "protocol/hexinput.h"
#include "serial/zemserialport.h"
#include "tools/hexinputhint.h"

#include <QMessageBox>
#include <QTime>
#include <QTimer>

namespace {
constexpr int FlushIntervalMs = 500;

const QString OpenCaption = QStringLiteral("打开串口");
const QString CloseCaption = QStringLiteral("关闭串口");
const QString BridgeOnCaption = QStringLiteral("关闭双串口");
const QString BridgeOffCaption = QStringLiteral("打开双串口");
const QString Side1Name = QStringLiteral("COM1");
const QString Side2Name = QStringLiteral("COM2");

QString timeStamp()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

// The box shown when a side cannot be opened: the fixed message, and why.
void showOpenFailure(QWidget *parent, const QString &reason)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("错误"), QStringLiteral("打开失败！"),
                    QMessageBox::Ok, parent);
    box.setInformativeText(reason);
    box.exec();
}
} // namespace

DoubleWindow::DoubleWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::DoubleWindow)
{
    ui->setupUi(this);
    ui->label_background->setStyleSheet(AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background->lower();
    ReceiveBox::prepare(ui->textEdit_rec1);
    ReceiveBox::prepare(ui->textEdit_rec2);
    HexInputHint::attach(ui->textEdit_send1);
    HexInputHint::attach(ui->textEdit_send2);
    for (QLineEdit *line : {ui->lineEdit_default1, ui->lineEdit_default2, ui->lineEdit_default3,
                            ui->lineEdit_default4})
        HexInputHint::attach(line);

    m_side1.port = new ZemSerialPort(this);
    m_side2.port = new ZemSerialPort(this);
    m_side1.flush = new QTimer(this);
    m_side2.flush = new QTimer(this);
    for (Side *side : {&m_side1, &m_side2}) {
        side->draw = new QTimer(this);
        side->draw->setSingleShot(true);
        side->draw->setInterval(DrawDelayMs);
    }
    connect(m_side1.draw, &QTimer::timeout, this, [this] { draw(m_side1, ui->textEdit_rec1); });
    connect(m_side2.draw, &QTimer::timeout, this, [this] { draw(m_side2, ui->textEdit_rec2); });
    m_bridge = true;

    // Only side 1's port list feeds both port combos: both sides see the
    // same host.
    connect(m_side1.port, &ZemSerialPort::ComListChange, this, &DoubleWindow::UpdateUi);
    connect(m_side1.port, &ZemSerialPort::DataReady, this, &DoubleWindow::com1OnDataReady);
    connect(m_side2.port, &ZemSerialPort::DataReady, this, &DoubleWindow::com2OnDataReady);
    connect(m_side1.port, &ZemSerialPort::PortLost, this, &DoubleWindow::port1Lost);
    connect(m_side2.port, &ZemSerialPort::PortLost, this, &DoubleWindow::port2Lost);
    // A port the user picks by hand replaces the one a side lost.
    connect(ui->com_1, QOverload<int>::of(&QComboBox::activated), this,
            [this] { m_side1.lostName.clear(); });
    connect(ui->com_2, QOverload<int>::of(&QComboBox::activated), this,
            [this] { m_side2.lostName.clear(); });
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

QTimer *DoubleWindow::flushTimer(int side) const
{
    return side == 1 ? m_side1.flush : m_side2.flush;
}

void DoubleWindow::closeBothPorts()
{
    m_side1.port->Close();
    m_side2.port->Close();
    ui->pushButton_open1->setText(OpenCaption);
    ui->pushButton_open2->setText(OpenCaption);
}

void DoubleWindow::clearReceiveBoxes()
{
    // Text not drawn yet belongs to what is being cleared.
    for (Side *side : {&m_side1, &m_side2}) {
        side->undrawn.clear();
        side->afterNotice = false;
    }
    ui->textEdit_rec1->clear();
    ui->textEdit_rec2->clear();
}

void DoubleWindow::UpdateUi(const QStringList &ports)
{
    // A side that lost its port takes it back as soon as it is listed again.
    const QString selected1 = ports.contains(m_side1.lostName) ? m_side1.lostName
                                                               : ui->com_1->currentText();
    const QString selected2 = ports.contains(m_side2.lostName) ? m_side2.lostName
                                                               : ui->com_2->currentText();
    ui->com_1->clear();
    ui->com_2->clear();
    for (const QString &name : ports) {
        ui->com_1->addItem(name);
        ui->com_2->addItem(name);
        if (name == selected1)
            ui->com_1->setCurrentIndex(ui->com_1->count() - 1);
        if (name == selected2)
            ui->com_2->setCurrentIndex(ui->com_2->count() - 1);
    }
}

void DoubleWindow::toggleOpen(int n)
{
    Side &side = n == 1 ? m_side1 : m_side2;
    QPushButton *button = n == 1 ? ui->pushButton_open1 : ui->pushButton_open2;
    if (side.port->isOpen()) {
        side.port->Close();
        button->setText(OpenCaption);
        return;
    }
    const QString name = n == 1 ? ui->com_1->currentText() : ui->com_2->currentText();
    const bool opened = n == 1
        ? side.port->Open(name, ui->rate_1->currentText(), ui->data_1->currentIndex(),
                          ui->stop_1->currentIndex(), ui->check_1->currentIndex())
        : side.port->Open(name, ui->rate_2->currentText(), ui->data_2->currentIndex(),
                          ui->stop_2->currentIndex(), ui->check_2->currentIndex());
    if (opened) {
        side.openedName = name;
        side.lostName.clear();
        button->setText(CloseCaption);
    } else {
        showOpenFailure(this, side.port->openFailureReason());
    }
}

void DoubleWindow::on_pushButton_open1_clicked()
{
    toggleOpen(1);
}

void DoubleWindow::on_pushButton_open2_clicked()
{
    toggleOpen(2);
}

void DoubleWindow::on_pushButton_double_clicked()
{
    setBridge(!m_bridge);
}

void DoubleWindow::setBridge(bool on)
{
    m_bridge = on;
    ui->pushButton_double->setText(m_bridge ? BridgeOnCaption : BridgeOffCaption);
}

void DoubleWindow::port1Lost(const QString &reason)
{
    portLost(m_side1, ui->textEdit_rec1, ui->pushButton_open1, reason);
}

void DoubleWindow::port2Lost(const QString &reason)
{
    portLost(m_side2, ui->textEdit_rec2, ui->pushButton_open2, reason);
}

void DoubleWindow::portLost(Side &side, QTextEdit *box, QPushButton *button,
                            const QString &reason)
{
    // The port has closed itself already (see ZemSerialPort).
    button->setText(OpenCaption);
    side.lostName = side.openedName;

    QString notice = QStringLiteral("串口 %1 已断开：%2")
                         .arg(side.openedName,
                              reason.isEmpty() ? QStringLiteral("原因未知") : reason);
    if (m_bridge) {
        setBridge(false);
        notice += QStringLiteral("；双串口转发已关闭");
    }
    // What arrived before the loss is shown first, then the notice on a line
    // of its own, stamped like a frame line but without the colon.
    addText(side, DualDisplay::flush(side.held));
    side.undrawn += QLatin1Char('\n') + timeStamp() + QLatin1Char(' ') + notice;
    draw(side, box);
    side.afterNotice = true;
}

void DoubleWindow::addText(Side &side, QString text)
{
    if (text.isEmpty())
        return;
    // Bytes after a notice start a line of their own, even when they are no
    // frame header.
    if (side.afterNotice && !text.startsWith(QLatin1Char('\n')))
        text.prepend(QLatin1Char('\n'));
    side.afterNotice = false;
    side.undrawn += text;
}

void DoubleWindow::received(Side &from, Side &to, const QByteArray &data)
{
    // The far device must not wait for the drawing: forward first. A side
    // whose port failed has closed itself and is skipped from then on.
    if (m_bridge && to.port->isOpen())
        to.port->write(data);

    addText(from, DualDisplay::takeChunk(from.held, data, ui->checkBox->isChecked(), timeStamp()));
    if (!from.undrawn.isEmpty() && !from.draw->isActive())
        from.draw->start();
}

void DoubleWindow::draw(Side &side, QTextEdit *box)
{
    side.draw->stop();
    if (side.undrawn.isEmpty())
        return;
    ReceiveBox::append(box, side.undrawn);
    side.undrawn.clear();
}

void DoubleWindow::com1OnDataReady(const QByteArray &data)
{
    received(m_side1, m_side2, data);
}

void DoubleWindow::com2OnDataReady(const QByteArray &data)
{
    received(m_side2, m_side1, data);
}

void DoubleWindow::flushHeld(Side &side, QTextEdit *box)
{
    side.draw->stop();
    addText(side, DualDisplay::flush(side.held));
    // Also moves the box's cursor to the end when there is nothing to add.
    ReceiveBox::append(box, side.undrawn);
    side.undrawn.clear();
}

void DoubleWindow::readbuf1()
{
    flushHeld(m_side1, ui->textEdit_rec1);
}

void DoubleWindow::readbuf2()
{
    flushHeld(m_side2, ui->textEdit_rec2);
}

void DoubleWindow::sendToSide(const QString &side, const QString &hexText)
{
    ZemSerialPort *port = nullptr;
    if (side == Side1Name)
        port = m_side1.port;
    else if (side == Side2Name)
        port = m_side2.port;
    if (!port || !port->isOpen())
        return;
    const QByteArray bytes = HexInput::toBytes(hexText);
    if (!bytes.isEmpty())
        port->write(bytes);
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

void DoubleWindow::on_pushButton_left1_clicked() { sendToSide(Side1Name, presetLine(1)); }
void DoubleWindow::on_pushButton_left2_clicked() { sendToSide(Side1Name, presetLine(2)); }
void DoubleWindow::on_pushButton_left3_clicked() { sendToSide(Side1Name, presetLine(3)); }
void DoubleWindow::on_pushButton_left4_clicked() { sendToSide(Side1Name, presetLine(4)); }
void DoubleWindow::on_pushButton_right1_clicked() { sendToSide(Side2Name, presetLine(1)); }
void DoubleWindow::on_pushButton_right2_clicked() { sendToSide(Side2Name, presetLine(2)); }
void DoubleWindow::on_pushButton_right3_clicked() { sendToSide(Side2Name, presetLine(3)); }
void DoubleWindow::on_pushButton_right4_clicked() { sendToSide(Side2Name, presetLine(4)); }

void DoubleWindow::on_pushButton_send1_clicked()
{
    sendToSide(Side1Name, ui->textEdit_send1->toPlainText());
}

void DoubleWindow::on_pushButton_send2_clicked()
{
    sendToSide(Side2Name, ui->textEdit_send2->toPlainText());
}

void DoubleWindow::on_pushButton_v3_clicked()
{
    fillPresets(PresetFrames::version3());
}

void DoubleWindow::on_pushButton_v4_clicked()
{
    fillPresets(PresetFrames::version4());
}
