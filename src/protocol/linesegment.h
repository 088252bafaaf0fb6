// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QVector>
#include <QtGlobal>

// Which way bytes crossed the line between the MCU and its Wi-Fi module.
enum class LineDirection : quint8 { McuToModule = 0, ModuleToMcu = 1 };

// What one piece of a direction's byte stream is: a version 4 frame (FF FF …),
// a version 3 frame (00 00 00 03 …), or bytes outside any frame (noise, a
// module's boot text). Event is no bytes of the line but something done to
// it (a modem line set, a break sent; see LineEvent), in the direction of the
// device it reached; its wire holds the event's description.
enum class SegmentKind : quint8 { Frame4 = 0, Frame3 = 1, Other = 2, Event = 3 };

// One piece of the stream, exactly as it crossed the line. Concatenating the
// wire bytes of one direction's segments other than events gives back that
// direction's bytes.
struct LineSegment
{
    qint64 timeUs = 0; // arrival time of the first byte, microseconds since the Unix epoch (UTC)
    LineDirection direction = LineDirection::McuToModule;
    SegmentKind kind = SegmentKind::Other;
    QByteArray wire; // the bytes exactly as they crossed the line (escaped form for v4)
};

Q_DECLARE_METATYPE(LineSegment)
Q_DECLARE_METATYPE(QVector<LineSegment>)

// The other way along the same line.
constexpr LineDirection oppositeDirection(LineDirection direction)
{
    return direction == LineDirection::McuToModule ? LineDirection::ModuleToMcu
                                                   : LineDirection::McuToModule;
}
