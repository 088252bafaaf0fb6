// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/linesettings.h"

#include <QByteArray>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QStringList>

// One serial port of the program. It reports the host's port list (kept by
// the program's PortWatcher, off the GUI thread), opens a port by name with the settings the forms
// show (baud text and the indexes of the data-bits, stop-bits and parity combos) and hands every
// chunk it reads to its owner.
//
// Besides the ports the system enumerates, the paths named in the
// environment variable LUMO_EXTRA_PORTS (comma-separated) are listed while
// they exist: pseudo-terminals of emulators, socat pairs and test rigs are
// never enumerated by the system. A headless program that is handed a path
// on its command line takes it as it stands instead (setAcceptUnlisted):
// whoever typed the path meant that device, listed or not.
//
// A port that fails while open (adapter unplugged, far end of a pty gone)
// is closed on the first error and reported with PortLost: left open, the
// port would report the same error over and over in a busy loop.
class ZemSerialPort : public QSerialPort, public QSerialPortInfo
{
    Q_OBJECT
public:
    explicit ZemSerialPort(QObject *parent = nullptr);
    ~ZemSerialPort() override;

    // Opens `name` with the given settings. dataBitsIndex 0..3 -> 5..8 bits,
    // stopBitsIndex 0..2 -> one, one and a half, two; parityIndex 0..3 ->
    // none, odd, even, space. Returns false when the name is not listed or
    // the port cannot be opened.
    bool Open(const QString &name, const QString &baudText, int dataBitsIndex, int stopBitsIndex,
              int parityIndex);
    bool Open(const QString &name, const LineSettings::Settings &settings);
    // Sets baud rate, data bits, stop bits, parity and flow control on the
    // open port; false when the port refuses one of them.
    bool applySettings(const LineSettings::Settings &settings);
    void Close();
    // Why the last Open failed, for the user: the port is not listed, or the
    // system's own reason (busy, permission denied, no such device).
    QString openFailureReason() const { return m_openFailure; }

    // The language of the reasons above and of PortLost: Chinese for the
    // windows (the default), English for the command-line programs. One
    // choice per process, made before any port is opened.
    static void setEnglishReasons(bool english);
    static bool englishReasons();

    // Off (the windows' rule): Open takes only names the port list offers.
    // On: a name the list lacks is opened as it stands, a path such as
    // /dev/pts/7 as that file, a bare name under /dev as Qt resolves it.
    void setAcceptUnlisted(bool accept) { m_acceptUnlisted = accept; }
    bool acceptsUnlisted() const { return m_acceptUnlisted; }

    // The names the port list currently offers: the system's ports, then the
    // extra ports whose paths exist, as the watcher last found them. Never
    // enumerates on the calling thread.
    static QStringList currentPortNames();

signals:
    // The port list: first the ports present (once the watcher knows them),
    // then again on each change.
    void ComListChange(const QStringList &ports);
    void DataReady(const QByteArray &data);
    // The same bytes, emitted just before DataReady: a tap that watches the
    // line hears what was read before any owner's answer to it is written
    // (the simulated MCU replies from within its DataReady handler).
    void DataReceived(const QByteArray &data);
    // The bytes each write hands to the port, as the port accepted them (the
    // write direction of the line, for taps that record what the program sends).
    void DataSent(const QByteArray &data);
    // A successful Open of `name`; the port is ready to read and write.
    void Opened(const QString &name);
    // The open port failed and has been closed; `reason` is Qt's error text.
    void PortLost(const QString &reason);

public slots:
    // Reports the list now if it differs from the last report, and asks the
    // watcher for an immediate rescan (its result arrives as ComListChange).
    void getComList();
    void readComData();

private slots:
    void takePortList(const QStringList &ports);
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void closeAfterFailure();

protected:
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    QStringList m_lastPorts;
    QByteArray m_unused;
    bool m_failurePending = false;
    QString m_failureReason;
    QString m_openFailure;
    bool m_acceptUnlisted = false;
};
