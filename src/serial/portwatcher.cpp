// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/portwatcher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSerialPortInfo>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int PollIntervalMs = 1000;
std::atomic<int> g_mainThreadScans{0};
} // namespace

// Lives on the watcher's thread: its timer and every scan run there.
class PortScanner : public QObject
{
    Q_OBJECT
public:
    explicit PortScanner(PortWatcher *watcher)
        : m_watcher(watcher)
        , m_timer(new QTimer(this))
    {
        m_timer->setInterval(PollIntervalMs);
        connect(m_timer, &QTimer::timeout, this, &PortScanner::scan);
    }

public slots:
    void start()
    {
        m_timer->start();
        scan();
    }
    void stop() { m_timer->stop(); }

    void scan()
    {
        // Cleared before the ticket is read: a request made after this
        // point queues a scan of its own.
        m_watcher->m_scanQueued = false;
        const quint64 ticket = m_watcher->m_requested.load();
        const QStringList ports = PortWatcher::scanPorts();
        m_watcher->m_lastScanThread = QThread::currentThread();
        ++m_watcher->m_scanCount;
        PortWatcher *watcher = m_watcher;
        QMetaObject::invokeMethod(
            watcher, [watcher, ports, ticket] { watcher->takeScan(ports, ticket); },
            Qt::QueuedConnection);
    }

private:
    PortWatcher *m_watcher;
    QTimer *m_timer;
};

namespace {
QPointer<PortWatcher> g_watcher;

void deleteWatcher()
{
    delete g_watcher.data();
}
} // namespace

PortWatcher *PortWatcher::instance()
{
    if (!g_watcher) {
        // Deleted, and its thread stopped, first thing when the application
        // object goes: the ports' owners are gone by then, the loop is not.
        g_watcher = new PortWatcher(nullptr);
        qAddPostRoutine(deleteWatcher);
    }
    return g_watcher;
}

PortWatcher::PortWatcher(QObject *parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_scanner(new PortScanner(this))
{
    m_thread->setObjectName(QStringLiteral("PortWatcher"));
    m_scanner->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_scanner, &QObject::deleteLater);
    m_thread->start();
    QMetaObject::invokeMethod(m_scanner, &PortScanner::start, Qt::QueuedConnection);
}

PortWatcher::~PortWatcher()
{
    // The timer is stopped on its own thread, then the thread's loop ends
    // and the scanner is deleted there (finished -> deleteLater).
    QMetaObject::invokeMethod(m_scanner, &PortScanner::stop, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

quint64 PortWatcher::rescan()
{
    const quint64 ticket = ++m_requested;
    if (!m_scanQueued.exchange(true))
        QMetaObject::invokeMethod(m_scanner, &PortScanner::scan, Qt::QueuedConnection);
    return ticket;
}

void PortWatcher::setPolling(bool on)
{
    if (on)
        QMetaObject::invokeMethod(m_scanner, &PortScanner::start, Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(m_scanner, &PortScanner::stop, Qt::QueuedConnection);
}

void PortWatcher::takeScan(const QStringList &ports, quint64 ticket)
{
    m_scannedTicket = std::max(m_scannedTicket, ticket);
    if (ports == m_ports)
        return;
    m_ports = ports;
    emit portsChanged(m_ports);
}

int PortWatcher::mainThreadScans()
{
    return g_mainThreadScans.load();
}

QStringList PortWatcher::scanPorts()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread())
        ++g_mainThreadScans;
    QStringList names;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        names.append(info.portName());
    const QString spec = qEnvironmentVariable("LUMO_EXTRA_PORTS");
    const QStringList parts = spec.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const QString path = part.trimmed();
        if (!path.isEmpty() && !names.contains(path) && QFileInfo::exists(path))
            names.append(path);
    }
    return names;
}

#include "portwatcher.moc"
