// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Turns any byte string from the traffic log into twelve short texts, one per
// decoded field. The wording comes from the settings file through `lookup`
// (key -> text); these functions only know which key and which bytes each field
// takes.
//
// A log line need not be a whole frame, so every field is read only when the
// line actually holds its bytes; a field the line is too short for, or that
// does not belong to the frame's command, stays empty.
namespace ZemDescriber {

using Lookup = std::function<QString(const QString &key)>;

enum Field {
    Description,
    Length,
    Command,
    Sequence,
    Checksum,
    SetMode,
    Connect,
    WifiState,
    ProductKey,
    Signal,
    HasConnect,
    Time,
    FieldCount
};

// Always exactly FieldCount texts, in the order of Field.
QStringList describe(const QByteArray &frame, const Lookup &lookup);

// A whole frame whose last byte is not the checksum of the bytes before
// it. The checksum text then reads "computed（帧中carried）".
bool hasWrongChecksum(const QByteArray &frame);

// The settings key of the description text, or the empty text for a line
// without a command byte or with a command outside 0x01..0x20.
QString descriptionKey(const QByteArray &frame);

} // namespace ZemDescriber
