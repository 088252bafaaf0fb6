// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointvalues.h"
#include "serial/linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTimer;
class ZemAnalyze;
class ZemFramer;
class ZemJson;
class ZemSerialPort;
class ZemTool;

// The simulated MCU without a window: what the "模拟V4MCU" tab does with the
// module, for programs and tests that have no screen.
//
// It owns the port, the framer, the responder and the data-point values of the
// stored product key (definition from the cache file json/<key>.json, values
// the user stored for that key). A frame from the module is logged under
// "WIFI:"; a control command (03, action 01) sets the values first; the
// responder's reply goes out escaped and is logged under "MCU:", an answer to
// a status read as the full status report with the read's sequence number.
// Firmware pieces land in bin/ as the responder stores them. Status reports
// go out under "SEND:" once (sendStatusReport) or every N seconds
// (startReports).
//
// The values live for the run only: unlike the tab, nothing here writes them
// back to the settings file, so every run of a test rig starts from the same
// values.
//
// One thing the tab leaves to the user is done here by itself: once a
// firmware start (0x19) has been acknowledged, the MCU's "ready to receive"
// frame (0x1B, built from the stored body, the start's count and field and
// the piece size setting) follows at once. In the tab the user clicks
// "开始接收固件"; a headless MCU has nobody to click, and a module waits for
// that frame before it sends the first piece.
//
// The port accepts a path the system does not list (a pseudo-terminal, a
// socat link): whoever names a path on a command line means that device.
//
// Log lines have the tab's form: a header "WIFI:", "MCU:" or "SEND:" with the
// time "hh:mm:ss.zzz" right after it, then the bytes as hex text ("FF FF 00
// 05 ..."), and notices "注意:" + time + " " + text.
class McuSimulator : public QObject
{
    Q_OBJECT
public:
    explicit McuSimulator(QObject *parent = nullptr);
    ~McuSimulator() override;

    ZemTool *tool() const { return m_tool; }
    ZemSerialPort *port() const { return m_port; }

    // Opens `path` with `settings`. False with openFailureReason() set
    // when it cannot be opened.
    bool openPort(const QString &path, const LineSettings::Settings &settings);
    QString openFailureReason() const;
    bool isOpen() const;
    // Closes the port, drops a partial frame and stops automatic reports.
    void closePort();

    // Checks and stores the key as the tab's "保存" does (also into the
    // stored product-information reply). False, nothing stored, for a text
    // that is no key.
    bool setProductKey(const QString &text);
    // The stored key; the placeholder while none was entered.
    QString productKey() const;
    // True when json/<stored key>.json exists.
    bool hasCachedDefinition() const;
    // Parses the cached definition of the stored key and takes back the
    // values stored for it. A missing cache leaves no data points.
    void loadDefinition();
    // Fetches the stored key's definition from the service named in the
    // settings (bounded by ZemJson's time limit); ends in definitionFetched.
    // On success the new definition is loaded as by loadDefinition().
    void fetchDefinition();

    const DataPointValues &values() const { return m_values; }
    // Sets one data point by its display name (or, failing that, its
    // identifier) from text: a decimal number within the range for numbers
    // ("true"/"false" for a bool), a label or its index for an enum, hex
    // digits for binary. False with *error set, nothing changed, for an
    // unknown name, a read-only kind or a value that does not fit.
    bool setValue(const QString &name, const QString &text, QString *error);

    // The complete, unescaped status report (command 05) of the values.
    QByteArray statusReport() const;
    // Sends it, escaped, and logs it under "SEND:"; nothing while closed.
    void sendStatusReport();
    // A report every `seconds` seconds while the port is open (not at once);
    // 0 or less stops them.
    void startReports(int seconds);
    void stopReports();
    bool reporting() const;

    // Whether a firmware start is followed by the 0x1B frame (default true).
    void setAnswerFirmwareStart(bool on) { m_answerFirmwareStart = on; }

    // The MCU's "ready to receive firmware" frame (0x1B), unescaped, from the
    // stored body and piece size and transfer type settings and the count and
    // field of the responder's last firmware start (see
    // ZemFirmware::requestFrame). Empty when it cannot be built.
    static QByteArray firmwareReadyFrame(const ZemTool *tool, const ZemAnalyze *analyze);

signals:
    // One line of the traffic log, in the tab's form (see above).
    void logLine(const QString &line);
    // The open port failed and was closed (device gone, far end closed).
    void portLost(const QString &reason);
    // A control command from the module set these values.
    void valuesChanged();
    // A fetch ended: ok with the definition loaded, or the reason it failed.
    void definitionFetched(bool ok, const QString &reason);

private:
    void onFrame(const QByteArray &frame);
    void onReply(const QByteArray &reply);
    void onPortLost(const QString &reason);
    void sendFirmwareReady();
    void logTransfer(const QString &tag, const QByteArray &bytes);
    void notice(const QString &text);
    void write(const QByteArray &wire);

    ZemTool *m_tool = nullptr;
    ZemSerialPort *m_port = nullptr;
    ZemFramer *m_framer = nullptr;
    ZemAnalyze *m_analyze = nullptr;
    ZemJson *m_json = nullptr;
    QTimer *m_reportTimer = nullptr;
    DataPointValues m_values;
    QString m_portPath; // as the caller named it (Qt shortens /dev/ paths)
    bool m_answerFirmwareStart = true;
};
