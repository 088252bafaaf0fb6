// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>

class QThread;
class PortScanner;

// The host's port list, watched once for the whole program on a thread of
// its own. Enumerating the system's ports takes milliseconds (the serial
// drivers are asked one by one); done on the GUI thread once a second per
// port object, it delayed the simulated MCU's replies by tens of
// milliseconds. The watcher's thread rescans once a second and on request;
// the GUI thread only ever reads the copy it keeps (ports()).
//
// The list is the system's port names, then the paths named in the
// environment variable LUMO_EXTRA_PORTS (comma-separated) that exist, each
// once, in that order.
class PortWatcher : public QObject
{
    Q_OBJECT
public:
    // The program's watcher, made on first use; the application object's
    // end deletes it, so its thread is stopped before the program ends.
    static PortWatcher *instance();
    ~PortWatcher() override;

    // The list of the last scan (empty before the first one completed).
    QStringList ports() const { return m_ports; }

    // Asks for a scan now instead of at the next tick. Returns a ticket:
    // once scannedTicket() reaches it, ports() reflects a scan begun after
    // this call. Requests made while one is waiting share its scan.
    quint64 rescan();

    // Whether the list is rescanned every second (on from the start). A
    // program that opens only the paths it was given and shows no list
    // (lumo-capture) turns it off: a scan walks every tty the system has,
    // which costs about 1 % of a core for a list nobody reads. rescan()
    // works either way.
    void setPolling(bool on);
    quint64 scannedTicket() const { return m_scannedTicket; }

    // For tests: the number of scans run, the thread of the last one, and
    // how many ran on the application's (GUI) thread, which should be none.
    int scanCount() const { return m_scanCount.load(); }
    QThread *lastScanThread() const { return m_lastScanThread.load(); }
    static int mainThreadScans();

signals:
    // The list differs from the one before.
    void portsChanged(const QStringList &ports);

private:
    explicit PortWatcher(QObject *parent);
    void takeScan(const QStringList &ports, quint64 ticket);
    // Builds the list on the calling thread; only the scanner calls it.
    static QStringList scanPorts();

    friend class PortScanner;
    QThread *m_thread;
    PortScanner *m_scanner;
    QStringList m_ports;
    quint64 m_scannedTicket = 0;
    std::atomic<quint64> m_requested{0};
    std::atomic<bool> m_scanQueued{false};
    std::atomic<int> m_scanCount{0};
    std::atomic<QThread *> m_lastScanThread{nullptr};
};
