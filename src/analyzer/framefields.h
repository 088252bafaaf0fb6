// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "engine/zemdescriber.h"
#include "protocol/linesegment.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class DataPointDefinition;

// One line of the analyzer's detail pane: a field of a frame, its value as
// text, and where its bytes lie in the frame, so the bytes pane can mark
// them. offset and size count in the unescaped frame (what the receiver
// reads after undoing FF 55); a field with no bytes of its own (a remark on
// the whole frame) has offset -1.
struct FrameField
{
    QString name;
    QString value;
    int offset = -1;
    int size = 0;
};

// The fields of one segment of the line, in frame order.
//
// A version 4 frame gives its header, length (and whether it agrees with the
// bytes), command with its description, sequence number, flags, payload, the
// describer's command-specific fields (configuration mode, Wi-Fi status,
// network time, ...), the product information and firmware fields the
// protocol names, and the checksum with its verdict. With the product's
// data-point definition, a status report (05) or status answer (04, action
// 03) is read into one field per data point by name, and a control command
// (03, action 01) into the values it sets.
//
// A version 3 frame gives its header, length and data; other bytes (noise, a
// module's boot text) their size, hex and text.
//
// `frame` is the unescaped form; any bytes are safe: a field the frame is
// too short for is left out. Description texts come through `lookup` from
// the settings file, as everywhere else.
QVector<FrameField> frameFields(const QByteArray &frame, SegmentKind kind,
                                const ZemDescriber::Lookup &lookup,
                                const DataPointDefinition *definition = nullptr);

// One data point's value in a frame, as the data-point table shows it.
// offset and size place it in the unescaped frame; value is empty when the
// frame does not hold it.
struct DataPointValue
{
    QString name; // the data point's display name
    QString value;
    int offset = -1;
    int size = 0;
};

// The data-point values a version 4 frame carries, in definition order:
// every data point of a status report (05) or status answer (04, action 03),
// the ones a control command (03, action 01) sets. Empty for other frames.
QVector<DataPointValue> dataPointValues(const QByteArray &frame, const DataPointDefinition &def);
