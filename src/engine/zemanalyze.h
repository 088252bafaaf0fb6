// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/zemfirmware.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <functional>

class ZemFramer;
class ZemTool;

// Plays the MCU's side of the conversation with the Wi-Fi module.
//
// Every frame the framer delivers whose checksum is right is answered from the stored reply
// template "Respond/<reply code>": the sequence number is copied from the request, the
// product-information reply gets the device's versions, binding time and
// module type, firmware pieces are stored, and the checksum is recomputed. The
// simulated-MCU tab escapes, sends and logs what RespondReady carries.
//
// Every reply it emits is finished: the answer to a status read carries the
// full status report of the status source (see setStatusSource), so whoever
// sends it only escapes and writes it.
//
// It also checks and stores the product key and describes any logged frame
// field by field. Settings are read through the shared ZemTool each time a
// frame needs them, so edits in the settings dialog apply to the next frame.
class ZemAnalyze : public QObject
{
    Q_OBJECT
public:
    ZemAnalyze(ZemFramer *framer, ZemTool *tool, QObject *parent = nullptr);
    // A responder that answers only the frames handed to FindRespond: its
    // owner decides when a frame is answered (after logging it, after
    // applying a control command), instead of the order of two connections.
    explicit ZemAnalyze(ZemTool *tool, QObject *parent = nullptr);

    // Where the status report (command 05, complete and unescaped) comes
    // from when a status read is answered. Without one the answer carries
    // no values.
    void setStatusSource(const std::function<QByteArray()> &source) { m_statusSource = source; }

    // Checks the key (see ZemProductKey), stores it under "product_key/key"
    // and writes it into the stored product-information reply. False, with
    // nothing stored, when the text is no valid key.
    bool checkProductKey(const QString &text);

    // The 2-byte count and the field it counts from the last firmware start
    // (0x19); empty until one arrived. The MCU returns both in its 0x1B frame.
    QByteArray otaCount() const { return m_firmware.count(); }
    QByteArray otaField() const { return m_firmware.field(); }
    // The firmware reception: whether a transfer is under way, how much of
    // it arrived, where it goes.
    const ZemFirmware &firmware() const { return m_firmware; }

    // Whether the frame's last byte is the sum (mod 256) of its bytes from
    // the first length byte on, as the sender computed it over the unescaped
    // frame. A frame that fails this was damaged on the line: every field of
    // it may be wrong, so it is neither answered nor acted on.
    static bool checksumOk(const QByteArray &frame);

    // Twelve texts: description, length, command, sequence number, checksum,
    // configuration mode, connection state, Wi-Fi state, product key, signal
    // strength, app connected, time.
    QStringList describe(const QByteArray &frame) const;

signals:
    // One finished reply, unescaped, checksum filled in. The answer to a
    // status read (command 04 with 03 at offset 8) is the status report of
    // the status source turned into that answer.
    void RespondReady(const QByteArray &reply);

public slots:
    void FindRespond(const QByteArray &frame);

private:
    ZemFramer *m_framer = nullptr;
    ZemTool *m_tool = nullptr;
    ZemFirmware m_firmware;
    std::function<QByteArray()> m_statusSource;
};
