// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// One transfer on the simulated MCU's line, as the engine hands it to whoever
// shows it (the tab's traffic log, the headless program's output), each of
// which formats it in its own way.
struct McuTransfer
{
    // The direction tag of the traffic log: "WIFI:" for a frame from the
    // module, "MCU:" for the MCU's replies and its firmware request, "SEND:"
    // for what the user triggered (manual hex, status reports, stored frames).
    QString tag;
    // When it happened, in milliseconds since the epoch (UTC): cheap to take
    // for every transfer; the local time is worked out only for display.
    qint64 time = 0;
    // The bytes as they went over the line (escaped).
    QByteArray wire;
    // The frame the receiver decodes from them (unescaped).
    QByteArray frame;
    // A frame from the module whose checksum is wrong: logged so that the
    // user can decode it, but neither applied nor answered.
    bool dropped = false;
};

Q_DECLARE_METATYPE(McuTransfer)
