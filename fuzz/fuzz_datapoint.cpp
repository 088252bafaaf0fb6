// SPDX-License-Identifier: GPL-3.0-or-later
// The data-point definition parser, then the value codec on what it parsed.
//
// The input is the service's answer (or a cache file) as the parse reads it:
// JSON text, an object holding the definition. On the parsed definition:
// - the empty status report is n + 10 bytes, FF FF, length n + 6, command 05,
//   action 04, with n the value size of the definition;
// - writing a value for every record (numbers at the edges of the int range
//   and values from the input), and raw bytes for every record, never changes
//   the frame's size, header, length, command, action or checksum place;
// - reading a control frame made from that report, whole and cut short,
//   only names data points of the definition.
#include "fuzzsupport.h"

#include "datapoint/datapointcodec.h"
#include "datapoint/datapointdefinition.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <climits>

namespace {

// Bytes 0..8 of a frame: header, length, command, sequence, flags, action.
QByteArray head(const QByteArray &frame)
{
    return frame.left(Frame::StatusValueOffset);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(input, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return 0;
    const DataPointDefinition def = DataPointDefinition::fromJson(doc.object());

    QByteArray frame = DataPointCodec::makeReportFrame(def);
    const int n = DataPointCodec::reportValueSize(def);
    if (n < 0 || frame.size() != n + 10 || ZemTool::word16(frame, Frame::LengthOffset) != n + 6
        || ZemTool::byteValue(frame, 0) != 0xFF || ZemTool::byteValue(frame, 1) != 0xFF
        || !Frame::isCommand(frame, Frame::Command::StatusReport)
        || Frame::action(frame) != Frame::code(Frame::StatusAction::Report))
        Fuzz::fail("the empty report is malformed", input, frame);

    const QByteArray reportHead = head(frame);
    const int frameSize = frame.size();
    Fuzz::Random random(input);
    const int edges[] = {0, 1, -1, 0xFF, 0x100, 0xFFFF, INT_MAX, INT_MIN};
    QSet<QString> names;
    for (const json_struct &r : def.records()) {
        names.insert(r.display_name);
        const quint32 pick = random.next();
        const int value = pick % 3 == 0 ? int(random.next()) : edges[pick % 8];
        DataPointCodec::setValue(def, frame, r.display_name, value);
        if (frame.size() != frameSize || head(frame) != reportHead
            || frame.at(frameSize - 1) != '\0')
            Fuzz::fail("setValue wrote outside the value part", input, frame);
        const QByteArray raw
            = input.mid(int(random.next() % quint32(input.size())), 1 + int(pick % 70));
        DataPointCodec::setBytes(def, frame, r.display_name, raw);
        if (frame.size() != frameSize || head(frame) != reportHead
            || frame.at(frameSize - 1) != '\0')
            Fuzz::fail("setBytes wrote outside the value part", input, frame);
    }

    QByteArray control = frame;
    control[Frame::CommandOffset] = char(Frame::code(Frame::Command::Status));
    control[Frame::ActionOffset] = char(Frame::code(Frame::StatusAction::Control));
    ZemTool::setFrameChecksum(control);
    const int cuts[] = {int(control.size()), int(random.next() % quint32(control.size() + 1)),
                        Frame::MinFrameSize, 0};
    for (const int cut : cuts) {
        const QMap<QString, QString> decoded
            = DataPointCodec::decodeControl(def, control.left(cut));
        for (auto it = decoded.cbegin(); it != decoded.cend(); ++it)
            if (!names.contains(it.key()))
                Fuzz::fail("a control frame named a data point the definition lacks", input,
                           it.key().toUtf8());
    }
    return 0;
}
