// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/portcontrols.h"

#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"
#include "serial/line.h"
#include "serial/zemserialport.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>

namespace {
const QString OpenCaption = QStringLiteral("打开串口");
const QString CloseCaption = QStringLiteral("关闭串口");
const QString AbsentMark = QStringLiteral("（未连接）");

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
    connect(m_widgets.port, QOverload<int>::of(&QComboBox::activated), this,
            &PortControls::onPortActivated);
    connect(m_widgets.port, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &PortControls::showChosenAsToolTip);
}

void PortControls::remember(ZemTool *settings, const QString &group)
{
    m_settings = settings;
    m_group = group;
    const int baud = m_widgets.baudRate->findText(
        settings->readSetting(SettingKeys::baudRateKey(group)).trimmed());
    if (baud >= 0)
        m_widgets.baudRate->setCurrentIndex(baud);
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
    const QComboBox *combo = m_widgets.port;
    if (m_absentShown && combo->currentIndex() == combo->count() - 1)
        return m_awaitedName;
    return combo->currentText();
}

void PortControls::onPortActivated(int index)
{
    // The marked item is the remembered port itself: still awaited.
    if (m_absentShown && index == m_widgets.port->count() - 1)
        return;
    // A port the user picks by hand replaces the one awaited, and is the
    // choice to remember. Refills of the list change the selection too, but
    // only this signal says the user made it.
    forgetAwaited();
    m_choice = m_widgets.port->currentText();
    store(SettingKeys::portNameKey(m_group), m_choice);
}

void PortControls::forgetAwaited()
{
    m_awaitedName.clear();
    m_awaitedLost = false;
    m_awaitedListed = false;
    if (m_absentShown) {
        m_absentShown = false;
        m_widgets.port->removeItem(m_widgets.port->count() - 1);
    }
}

bool PortControls::isOpen() const
{
    return m_line->isLineOpen();
}

bool PortControls::open()
{
    const QString name = chosenName();
    const LineSettings::Settings settings = LineSettings::fromFormIndexes(
        m_widgets.baudRate->currentText(), m_widgets.dataBits->currentIndex(),
        m_widgets.stopBits->currentIndex(), m_widgets.parity->currentIndex());
    if (!m_line->openLine(name, settings)) {
        // The system's reason (busy, permission denied, no such device)
        // tells the user what to do about it.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("错误"), QStringLiteral("打开失败！"),
                        QMessageBox::Ok, m_window);
        box.setInformativeText(m_line->openFailureReason());
        box.exec();
        return false;
    }
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
    if (wasOpen)
        m_line->closeLine();
    m_widgets.open->setText(OpenCaption);
    return wasOpen;
}

void PortControls::toggle()
{
    if (!close())
        open();
}

void PortControls::setPortList(const QStringList &ports)
{
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
    if (absent) {
        combo->addItem(m_awaitedName + AbsentMark);
        combo->setCurrentIndex(combo->count() - 1);
    } else {
        const int index = ports.indexOf(selected);
        combo->setCurrentIndex(index >= 0 ? index : 0);
    }
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
    m_awaitedName = m_openedName;
    m_awaitedLost = true;
    m_awaitedListed = m_widgets.port->findText(m_awaitedName) >= 0;
    emit lost(m_awaitedName, reason);
}
