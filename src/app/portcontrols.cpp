#include "app/portcontrols.h"

#include "serial/zemserialport.h"

#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>

namespace {
const QString OpenCaption = QStringLiteral("打开串口");
const QString CloseCaption = QStringLiteral("关闭串口");
} // namespace

PortControls::PortControls(ZemSerialPort *port, const Widgets &widgets, QWidget *window)
    : QObject(window)
    , m_port(port)
    , m_widgets(widgets)
    , m_window(window)
{
    connect(m_port, &ZemSerialPort::PortLost, this, &PortControls::onPortLost);
    // A port the user picks by hand replaces the one that was lost.
    connect(m_widgets.port, QOverload<int>::of(&QComboBox::activated), this, [this] {
        m_lostName.clear();
        m_lostListed = false;
    });
}

bool PortControls::isOpen() const
{
    return m_port->isOpen();
}

bool PortControls::open()
{
    const QString name = m_widgets.port->currentText();
    if (!m_port->Open(name, m_widgets.baudRate->currentText(), m_widgets.dataBits->currentIndex(),
                      m_widgets.stopBits->currentIndex(), m_widgets.parity->currentIndex())) {
        // The system's reason (busy, permission denied, no such device)
        // tells the user what to do about it.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("错误"), QStringLiteral("打开失败！"),
                        QMessageBox::Ok, m_window);
        box.setInformativeText(m_port->openFailureReason());
        box.exec();
        return false;
    }
    m_widgets.open->setText(CloseCaption);
    m_openedName = name;
    m_lostName.clear();
    m_lostListed = false;
    return true;
}

bool PortControls::close()
{
    const bool wasOpen = m_port->isOpen();
    if (wasOpen)
        m_port->Close();
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
    QString selected = m_widgets.port->currentText();
    bool back = false;
    if (!m_lostName.isEmpty()) {
        const bool listed = ports.contains(m_lostName);
        if (listed)
            selected = m_lostName;
        back = listed && !m_lostListed;
        m_lostListed = listed;
    }
    QComboBox *combo = m_widgets.port;
    combo->clear();
    combo->addItems(ports);
    const int index = ports.indexOf(selected);
    combo->setCurrentIndex(index >= 0 ? index : 0);
    if (back)
        emit returned(m_lostName);
}

void PortControls::onPortLost(const QString &reason)
{
    // The port has closed itself already (see ZemSerialPort); nothing to
    // close here, and no modal box: the device may be unplugged on purpose.
    m_widgets.open->setText(OpenCaption);
    m_lostName = m_openedName;
    m_lostListed = m_widgets.port->findText(m_lostName) >= 0;
    emit lost(m_lostName, reason);
}
