// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointmodel.h"
#include "engine/mcutransfer.h"
#include "serial/linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

class DefinitionStore;
class Line;
class QTimer;
class ZemAnalyze;
class ZemFramer;
class ZemSerialPort;
class ZemTool;

// The simulated MCU: the one engine behind the "模拟V4MCU" tab and the
// headless lumo-mcu. Both front ends show what it does; neither answers the
// module itself.
//
// It talks to a line (by default a local serial port it owns) and owns the
// framer, the responder and the data-point values of the stored product key.
// A frame from the module whose checksum is wrong is reported as a dropped
// "WIFI:" transfer and nothing else. Each other frame goes through one
// handler, in this order: a
// control command (03, action 01) sets the values, the frame is reported as
// a "WIFI:" transfer, then the responder answers it. The responder's reply
// is finished (a status read gets the full status report with the read's
// sequence number); it goes out escaped and is reported as an "MCU:"
// transfer. Firmware pieces land in bin/ as the responder stores them.
// Status reports go out as "SEND:" transfers once (sendStatusReport) or
// every N seconds (startReports).
//
// The values are the truth: a report is built from them, a control frame
// sets them, and a window's editors write into them as the user edits, all
// through the values' model (model()).
//
// One thing the tab leaves to the user can be done here by itself
// (setAnswerFirmwareStart, off by default): once a firmware start (0x19) has
// been acknowledged, the MCU's "ready to receive" frame (0x1B, built from the
// stored body, the start's count and field and the piece size setting)
// follows at once. In the tab the user clicks "开始接收固件" (told so on
// firmwareOffered), or has the tab send it on that signal by a setting; a
// headless MCU has nobody to click, and a module waits for that frame before
// it sends the first piece.
//
// Transfers are structured (McuTransfer); each front end formats them. The
// notices (port lost, no firmware request) are plain texts; the firmware
// events (offered, received, cut short) are signals of their own, which each
// front end words for its reader.
class McuSimulator : public QObject
{
    Q_OBJECT
public:
    // On a line of its own (AnyLine: a local serial port or a network address). `settings` is the
    // program's one settings object; it is not owned.
    explicit McuSimulator(ZemTool *settings, QObject *parent = nullptr);
    // On `line` instead (not owned unless parented here).
    McuSimulator(ZemTool *settings, Line *line, QObject *parent = nullptr);
    ~McuSimulator() override;

    ZemTool *tool() const { return m_tool; }
    Line *line() const { return m_line; }
    // The local port of the own serial line; null on another kind of line.
    ZemSerialPort *port() const { return m_port; }
    ZemFramer *framer() const { return m_framer; }
    ZemAnalyze *analyze() const { return m_analyze; }
    // Where the definitions come from (cache and service), made with the
    // settings object above; a window showing this engine uses it too.
    DefinitionStore *definitions() const { return m_definitions; }

    // Opens `path` with `settings`. False with openFailureReason() set
    // when it cannot be opened.
    bool openPort(const QString &path, const LineSettings::Settings &settings);
    QString openFailureReason() const;
    bool isOpen() const;
    // Closes the port, drops a partial frame and stops automatic reports;
    // a firmware transfer under way is reported cut (firmwareCut).
    void closePort();
    // Drops a partial frame: the line was closed by someone else (a window's
    // port controls), and its first bytes after the next open start afresh.
    void resetFraming();
    // The line was closed by someone else: resetFraming(), and a firmware
    // transfer under way is reported cut.
    void lineClosed();

    // Checks and stores the key as the tab's "保存" does (also into the
    // stored product-information reply). False, nothing stored, for a text
    // that is no key.
    bool setProductKey(const QString &text);
    // The stored key; the placeholder while none was entered.
    QString productKey() const;
    // True when the stored key is usable and its cache file exists.
    bool hasCachedDefinition() const;
    // Parses the cached definition of the stored key and takes back the
    // values stored for it. A missing cache leaves no data points.
    void loadDefinition();
    // Fetches the stored key's definition from the service named in the
    // settings (bounded by the fetcher's time limit); ends in definitionFetched.
    // On success the new definition is loaded as by loadDefinition().
    void fetchDefinition();

    // Takes a new definition: values from nothing, then those kept as
    // `savedValues` (DataPointValues::savedText) where they fit.
    void setDefinition(const DataPointDefinition &definition, const QString &savedValues);

    const DataPointValues &values() const { return m_model->values(); }
    // The values as a table model: the one way a view reads and writes them.
    DataPointModel *model() const { return m_model; }
    // Sets one data point by its display name (or, failing that, its
    // identifier) from text: a decimal number within the range for numbers
    // ("true"/"false" for a bool), a label or its index for an enum, hex
    // digits for binary. False with *error set, nothing changed, for an
    // unknown name, a read-only kind or a value that does not fit.
    bool setValue(const QString &name, const QString &text, QString *error);

    // Sets the values a control frame (03, action 01) carries and says so
    // (valuesChanged).
    void applyControl(const QByteArray &frame);

    // The complete, unescaped status report (command 05) of the values.
    QByteArray statusReport() const;
    // Sends it, escaped, as a "SEND:" transfer; nothing while closed.
    void sendStatusReport();
    // Sends bytes as they are, unframed (typed hex, a stored frame), as a
    // "SEND:" transfer; nothing while closed.
    void sendRaw(const QByteArray &bytes);
    // Sends the firmware request (0x1B, see firmwareReadyFrame), escaped, as
    // an "MCU:" transfer. False, with a notice, when it cannot be built;
    // nothing while closed.
    bool sendFirmwareReady();
    // A report every `seconds` seconds while the port is open (not at once);
    // 0 or less stops them.
    void startReports(int seconds);
    void stopReports();
    bool reporting() const;

    // Whether a firmware start is followed by the 0x1B frame at once (off by
    // default: a window leaves it to the user's click).
    void setAnswerFirmwareStart(bool on) { m_answerFirmwareStart = on; }

    // The MCU's "ready to receive firmware" frame (0x1B), unescaped, from the
    // stored body and piece size and transfer type settings and the count and
    // field of the responder's last firmware start (see
    // ZemFirmware::requestFrame). Empty when it cannot be built.
    static QByteArray firmwareReadyFrame(const ZemTool *tool, const ZemAnalyze *analyze);

signals:
    // Something went over the line, or came in as a whole frame.
    void transferred(const McuTransfer &transfer);
    // An event that is no transfer, as a text for the user.
    void notice(const QString &text);
    // The open port failed and was closed (device gone, far end closed).
    void portLost(const QString &reason);
    // A control command from the module named these rows of the values
    // (in name order), before its frame is reported.
    void valuesChanged(const QVector<int> &rows);
    // A fetch ended: ok with the definition loaded, or the reason it failed.
    void definitionFetched(bool ok, const QString &reason);
    // A firmware start (0x19) was acknowledged; the module now waits for the
    // MCU's 0x1B (sent at once with setAnswerFirmwareStart, after this).
    void firmwareOffered();
    // The module ended a transfer (0x1F): `file` holds the whole image.
    void firmwareReceived(int pieces, qint64 bytes, const QString &file);
    // The port closed or was lost while a transfer was under way: `file`
    // holds only the pieces that arrived, and the marker `marker` says so
    // until a transfer ends.
    void firmwareCut(int pieces, qint64 bytes, const QString &file, const QString &marker);

public slots:
    // The one handler of a frame from the framer: control applied, the
    // frame reported, then answered.
    void fromFramer(const QByteArray &frame);
    // A finished reply of the responder: escaped, written, reported.
    void fromRespond(const QByteArray &reply);

private:
    void onLineLost(const QString &reason);
    void reportCutTransfer();
    void report(const QString &tag, const QByteArray &wire, const QByteArray &frame,
                bool dropped = false);
    void write(const QByteArray &wire);

    ZemTool *m_tool = nullptr;
    Line *m_line = nullptr;
    ZemSerialPort *m_port = nullptr;
    ZemFramer *m_framer = nullptr;
    ZemAnalyze *m_analyze = nullptr;
    DefinitionStore *m_definitions = nullptr;
    QTimer *m_reportTimer = nullptr;
    DataPointModel *m_model = nullptr;
    QString m_portPath; // as the caller named it (Qt shortens /dev/ paths)
    bool m_answerFirmwareStart = false;
};
