// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/portcontrols.h"

#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/line.h"
#include "serial/networkaddress.h"
#include "serial/zemserialport.h"
#include "widgets/networkportdialog.h"
#include "widgets/networkportlist.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include <limits>

namespace {
const QString OpenCaption = QStringLiteral("打开串口");
const QString CloseCaption = QStringLiteral("关闭串口");
const QString AbsentMark = QStringLiteral("（未连接）");
const QString AddEntry = QStringLiteral("添加网络串口…");

constexpr qint32 SlowestStoredRate = 50;

// A baud rate as typed or stored: a positive whole number that fits a
// qint32; 0 for anything else.
qint32 rateOf(const QString &text)
{
    bool ok = false;
    const qint64 rate = text.trimmed().toLongLong(&ok);
    return ok && rate > 0 && rate <= std::numeric_limits<qint32>::max() ? qint32(rate) : 0;
}

// Selects the stored index when the combo has it; anything else (no number,
// out of range) leaves the form's choice.
void restoreIndex(QComboBox *combo, const QString &stored)
{
    bool ok = false;
    const int index = stored.trimmed().toInt(&ok);
    if (ok && index >= 0 && index < combo->count())
        combo->setCurrentIndex(index);
}
} // namespace

PortControls::PortControls(Line *line, const Widgets &widgets, QWidget *window)
    : QObject(window)
    , m_line(line)
    , m_widgets(widgets)
    , m_window(window)
{
    connect(m_line, &Line::Lost, this, &PortControls::onPortLost);
    connect(m_line, &Line::Opened, this, &PortControls::onLineOpened);
    connect(m_line, &Line::OpenFailed, this, [this](const QString &reason) {
        m_widgets.open->setText(OpenCaption);
        showOpenFailure(reason);
    });
    connect(m_widgets.port, QOverload<int>::of(&QComboBox::activated), this,
            &PortControls::onPortActivated);
    connect(m_widgets.port, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &PortControls::showChosenAsToolTip);
    connect(m_widgets.port, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) {
                if (index != addIndex())
                    m_previousIndex = index;
            });
    // Any rate may be typed: digits only, the first not 0 (the range is
    // checked when the rate is taken).
    QComboBox *baud = m_widgets.baudRate;
    baud->setEditable(true);
    baud->setInsertPolicy(QComboBox::NoInsert);
    baud->lineEdit()->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[1-9][0-9]{0,9}")), baud->lineEdit()));
    baud->setToolTip(QStringLiteral("可直接输入任意波特率，如 250000"));
    connect(baud->lineEdit(), &QLineEdit::editingFinished, this, &PortControls::commitTypedRate);
    for (QComboBox *combo :
         {m_widgets.baudRate, m_widgets.dataBits, m_widgets.stopBits, m_widgets.parity})
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &PortControls::applyFormSettings);
}

void PortControls::offerNetworkLines(ZemTool *settings)
{
    m_networkSettings = settings;
    connect(NetworkPortList::instance(), &NetworkPortList::changed, this,
            [this] { setPortList(m_localPorts); });
}

void PortControls::remember(ZemTool *settings, const QString &group)
{
    m_settings = settings;
    m_group = group;
    // A rate typed in an earlier run is offered again among the others. A
    // number below the slowest standard rate (50) is no rate but a combo
    // index, as an older file may hold: the form's choice stays.
    const qint32 baud = rateOf(settings->readSetting(SettingKeys::baudRateKey(group)));
    if (baud >= SlowestStoredRate)
        selectRate(baud);
    restoreIndex(m_widgets.dataBits, settings->readSetting(SettingKeys::dataBitsKey(group)));
    restoreIndex(m_widgets.stopBits, settings->readSetting(SettingKeys::stopBitsKey(group)));
    restoreIndex(m_widgets.parity, settings->readSetting(SettingKeys::parityKey(group)));

    const QString name = settings->readSetting(SettingKeys::portNameKey(group)).trimmed();
    if (!name.isEmpty()) {
        m_choice = name;
        m_awaitedName = name;
        m_awaitedLost = false;
        m_awaitedListed = false;
    }
    setPortList(ZemSerialPort::currentPortNames());

    // Connected after restoring, so that only new choices are written.
    const auto storeOnChange = [this](QComboBox *combo, const QString &key, bool text) {
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                [this, combo, key, text](int index) {
                    if (index >= 0)
                        store(key, text ? combo->currentText() : QString::number(index));
                });
    };
    storeOnChange(m_widgets.baudRate, SettingKeys::baudRateKey(group), true);
    storeOnChange(m_widgets.dataBits, SettingKeys::dataBitsKey(group), false);
    storeOnChange(m_widgets.stopBits, SettingKeys::stopBitsKey(group), false);
    storeOnChange(m_widgets.parity, SettingKeys::parityKey(group), false);
}

void PortControls::store(const QString &key, const QString &value)
{
    if (m_settings)
        m_settings->writeSetting(key, value);
}

QString PortControls::chosenName() const
{
    int index = m_widgets.port->currentIndex();
    // Picked only to open the dialog: the port selected before still counts.
    if (index >= 0 && index == addIndex())
        index = m_previousIndex;
    if (index >= 0 && index == absentIndex())
        return m_awaitedName;
    return m_widgets.port->itemText(index);
}

int PortControls::absentIndex() const
{
    return m_absentShown ? m_widgets.port->count() - 1 - (addIndex() >= 0 ? 1 : 0) : -1;
}

int PortControls::addIndex() const
{
    const QComboBox *combo = m_widgets.port;
    const int last = combo->count() - 1;
    return m_networkSettings && last >= 0 && combo->itemText(last) == AddEntry ? last : -1;
}

void PortControls::onPortActivated(int index)
{
    if (index >= 0 && index == addIndex()) {
        m_widgets.port->setCurrentIndex(m_previousIndex);
        askForNetworkLine();
        return;
    }
    // The marked item is the remembered port itself: still awaited.
    if (index >= 0 && index == absentIndex())
        return;
    // Refills of the list change the selection too, but only this signal
    // says the user made it.
    takeChoice(m_widgets.port->currentText());
}

void PortControls::takeChoice(const QString &name)
{
    // A network line lost while open stops trying to reconnect once the
    // user wants another port.
    if (m_reconnecting && name != m_openedName) {
        m_reconnecting = false;
        m_line->closeLine();
    }
    // A port the user picks replaces the one awaited, and is the choice to
    // remember.
    forgetAwaited();
    m_choice = name;
    store(SettingKeys::portNameKey(m_group), m_choice);
}

void PortControls::askForNetworkLine()
{
    // Window-modal and not waited for: the window's lines keep running.
    auto *dialog = new NetworkPortDialog(NetworkPortList::read(m_networkSettings), m_window);
    dialog->setObjectName(QStringLiteral("networkPortDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &NetworkPortDialog::removeRequested, this, [this](const QString &address) {
        NetworkPortList::instance()->remove(m_networkSettings, address);
    });
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        const QString address = dialog->address();
        // Refills every port field, this one too.
        NetworkPortList::instance()->add(m_networkSettings, address);
        const int index = m_widgets.port->findText(address);
        if (index < 0)
            return;
        m_widgets.port->setCurrentIndex(index);
        takeChoice(address);
    });
    dialog->open();
}

void PortControls::forgetAwaited()
{
    m_awaitedName.clear();
    m_awaitedLost = false;
    m_awaitedListed = false;
    if (m_absentShown) {
        const int index = absentIndex();
        m_absentShown = false;
        m_widgets.port->removeItem(index);
    }
}

bool PortControls::isOpen() const
{
    return m_line->isLineOpen();
}

LineSettings::Settings PortControls::formSettings() const
{
    return LineSettings::fromFormIndexes(
        m_widgets.baudRate->currentText(), m_widgets.dataBits->currentIndex(),
        m_widgets.stopBits->currentIndex(), m_widgets.parity->currentIndex());
}

void PortControls::showOpenFailure(const QString &reason)
{
    // The system's reason (busy, permission denied, no such device, a
    // refused connection) tells the user what to do about it.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("错误"), QStringLiteral("打开失败！"),
                    QMessageBox::Ok, m_window);
    box.setInformativeText(reason);
    box.exec();
}

void PortControls::selectRate(qint32 rate)
{
    QComboBox *combo = m_widgets.baudRate;
    const QString text = QString::number(rate);
    int index = combo->findText(text);
    if (index < 0) {
        index = 0;
        while (index < combo->count() && rateOf(combo->itemText(index)) < rate)
            ++index;
        combo->insertItem(index, text);
    }
    combo->setCurrentIndex(index);
    // The edit shows the item even when the index did not change.
    combo->setEditText(text);
}

bool PortControls::commitTypedRate()
{
    QComboBox *combo = m_widgets.baudRate;
    const QString typed = combo->lineEdit()->text();
    const int current = combo->currentIndex();
    if (current >= 0 && typed == combo->itemText(current))
        return true;
    const qint32 rate = rateOf(typed);
    if (rate <= 0) {
        combo->setEditText(current >= 0 ? combo->itemText(current) : QString());
        showRefusal(QStringLiteral("波特率“%1”无效：请输入不超过 %2 的正整数")
                        .arg(typed)
                        .arg(std::numeric_limits<qint32>::max()));
        return false;
    }
    // The index change applies the rate to an open line and stores it.
    selectRate(rate);
    return true;
}

void PortControls::showRefusal(const QString &text)
{
    // Not modal: the line stays open with what it had, and the user may go
    // on picking values while the box is up. One box at a time.
    if (!m_refusalBox) {
        m_refusalBox
            = new QMessageBox(QMessageBox::Warning, QStringLiteral("错误"),
                              QStringLiteral("串口参数设置失败！"), QMessageBox::Ok, m_window);
        m_refusalBox->setObjectName(QStringLiteral("settingsRefusedBox"));
        m_refusalBox->setWindowModality(Qt::NonModal);
        m_refusalBox->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_refusalBox->setInformativeText(text);
    m_refusalBox->show();
}

void PortControls::applyFormSettings()
{
    // A line that is reconnecting keeps the settings for its next connection.
    if (!m_line->isLineOpen() && !m_reconnecting)
        return;
    if (m_line->applySettings(formSettings()))
        return;
    showRefusal(QStringLiteral("串口 %1 不接受所选的设置（波特率 %2、数据位、停止位或校验位），"
                               "被拒绝的设置保持原值")
                    .arg(m_openedName, m_widgets.baudRate->currentText()));
}

bool PortControls::open()
{
    // A rate typed but not yet taken (no Enter, the focus still in the
    // combo) is the one the user means.
    if (!commitTypedRate())
        return false;
    const QString name = chosenName();
    m_reconnecting = false;
    const LineSettings::Settings settings = formSettings();
    if (!m_line->openLine(name, settings)) {
        showOpenFailure(m_line->openFailureReason());
        return false;
    }
    // Opening does not report refused settings: asked again, the device
    // says whether it took them (a local port at once; a network line
    // sends them with its negotiation and answers true).
    if (!m_line->applySettings(settings))
        showRefusal(QStringLiteral("串口 %1 已打开，但不接受所选的设置（波特率 %2、数据位、停止位"
                                   "或校验位），请另选")
                        .arg(name, m_widgets.baudRate->currentText()));
    m_widgets.open->setText(CloseCaption);
    m_openedName = name;
    m_choice = name;
    forgetAwaited();
    // Whether picked or merely offered first, the port opened is the one to
    // offer next time.
    store(SettingKeys::portNameKey(m_group), name);
    return true;
}

bool PortControls::close()
{
    const bool wasOpen = m_line->isLineOpen();
    // A network line lost while open stops trying to reconnect.
    if (wasOpen || m_reconnecting)
        m_line->closeLine();
    m_reconnecting = false;
    m_widgets.open->setText(OpenCaption);
    return wasOpen;
}

void PortControls::toggle()
{
    if (!close())
        open();
}

void PortControls::setPortList(const QStringList &localPorts)
{
    m_localPorts = localPorts;
    QStringList ports = localPorts;
    if (m_networkSettings) {
        for (const QString &line : NetworkPortList::read(m_networkSettings))
            if (!ports.contains(line))
                ports.append(line);
        // A network line the user removed is no choice any longer.
        if (NetworkAddress::isNetwork(m_awaitedName) && !ports.contains(m_awaitedName))
            m_awaitedName.clear();
        if (NetworkAddress::isNetwork(m_choice) && !ports.contains(m_choice))
            m_choice.clear();
    }
    QString selected = chosenName();
    // A selected port that vanishes (unplugged while closed, a pty that
    // went away) stays the choice, marked as not plugged in, and is taken
    // again as soon as it is listed: opening whatever happens to be first
    // would talk to a device the user never picked.
    // Only a port the user picked, opened or had remembered counts: the
    // first entry offered by default is no choice and may simply move on.
    if (m_awaitedName.isEmpty() && !m_choice.isEmpty() && selected == m_choice
        && !ports.contains(selected)) {
        m_awaitedName = selected;
        m_awaitedLost = false;
        m_awaitedListed = false;
    }
    bool back = false;
    bool absent = false;
    if (!m_awaitedName.isEmpty()) {
        const bool listed = ports.contains(m_awaitedName);
        if (listed)
            selected = m_awaitedName;
        back = listed && !m_awaitedListed && m_awaitedLost;
        absent = !listed;
        m_awaitedListed = listed;
    }
    QComboBox *combo = m_widgets.port;
    combo->clear();
    combo->addItems(ports);
    m_absentShown = absent;
    if (absent)
        combo->addItem(m_awaitedName + AbsentMark);
    if (m_networkSettings)
        combo->addItem(AddEntry);
    if (absent) {
        combo->setCurrentIndex(absentIndex());
    } else {
        const int index = ports.indexOf(selected);
        // With no port at all, nothing is selected rather than the add entry.
        combo->setCurrentIndex(index >= 0 ? index : (ports.isEmpty() ? -1 : 0));
    }
    m_previousIndex = combo->currentIndex();
    // Long device paths (/dev/serial/by-id/…) do not fit the combo.
    for (int i = 0; i < combo->count(); ++i)
        combo->setItemData(i, combo->itemText(i), Qt::ToolTipRole);
    showChosenAsToolTip();
    if (back)
        emit returned(m_awaitedName);
}

void PortControls::showChosenAsToolTip()
{
    m_widgets.port->setToolTip(m_widgets.port->currentText());
}

void PortControls::onPortLost(const QString &reason)
{
    // The line has closed itself already (see ZemSerialPort); nothing to
    // close here, and no modal box: the device may be unplugged on purpose.
    m_widgets.open->setText(OpenCaption);
    m_reconnecting = NetworkAddress::isNetwork(m_openedName);
    m_awaitedName = m_openedName;
    m_awaitedLost = true;
    m_awaitedListed = m_widgets.port->findText(m_awaitedName) >= 0;
    emit lost(m_awaitedName, reason);
}

void PortControls::onLineOpened()
{
    // Only a network line lost while open opens by itself; every other
    // Opened follows open() and is handled there.
    if (!m_reconnecting)
        return;
    m_reconnecting = false;
    m_widgets.open->setText(CloseCaption);
    forgetAwaited();
    const int index = m_widgets.port->findText(m_openedName);
    if (index >= 0)
        m_widgets.port->setCurrentIndex(index);
    emit reconnected(m_openedName);
}
