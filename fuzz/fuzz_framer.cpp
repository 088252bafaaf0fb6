// SPDX-License-Identifier: GPL-3.0-or-later
// The frame assembler on raw wire bytes.
//
// The input is the byte stream of a serial line. It is assembled once in one
// chunk and once in chunks of random sizes (seeded from the input), and then
// once more with a sound frame appended behind it. Checked:
// - every emitted frame starts FF FF and its length field + 4 is its size;
// - the partial frame never grows beyond the largest frame the 16-bit length
//   allows;
// - the frames do not depend on how the stream was cut into chunks;
// - whatever came before, a sound frame that follows is emitted whole and
//   changes nothing before it: damage costs at most the frames it touches. Its
//   header may decide a frame the input left waiting on its last FF (FF FF FF:
//   that FF came bare), which then comes out just before it. A frame whose
//   length is FF00 or more is exempt: its header reads FF FF FF, which is taken
//   for a stray FF before a header (a documented choice), so it is lost. The
//   appended frame is short, so the check only meets such lengths inside the
//   input. So is an input holding 00 00 00 03: the version 3 frame it opens
//   counts its length without looking for headers and may swallow the sound
//   frame;
// - the frames emitted are exactly the whole version 4 segments the analyzer's
//   segmenter cuts from the same bytes, unescaped, in order.
#include "fuzzsupport.h"

#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/streamsegmenter.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"

#include <QList>

namespace {

constexpr int MaxFrameSize = 0xFFFF + Frame::LengthFieldOverhead;

QList<QByteArray> assemble(const QByteArray &stream, Fuzz::Random *split, const QByteArray &input,
                           QByteArray *held = nullptr)
{
    ZemFramer framer;
    QList<QByteArray> frames;
    QObject::connect(&framer, &ZemFramer::LineDataReady, [&](const QByteArray &frame) {
        if (frame.size() < Frame::LengthFieldOverhead
            || static_cast<unsigned char>(frame.at(0)) != Frame::HeaderByte
            || static_cast<unsigned char>(frame.at(1)) != Frame::HeaderByte)
            Fuzz::fail("emitted frame does not start FF FF", input, frame);
        if (ZemTool::word16(frame, Frame::LengthOffset) + Frame::LengthFieldOverhead
            != frame.size())
            Fuzz::fail("emitted frame's length field + 4 is not its size", input, frame);
        frames.append(frame);
    });
    int pos = 0;
    while (pos < stream.size()) {
        const int n = split ? split->chunk(stream.size() - pos) : stream.size() - pos;
        framer.dataToV4(stream.mid(pos, n));
        pos += n;
        if (framer.buffer().size() > MaxFrameSize)
            Fuzz::fail("partial frame larger than any frame", input);
    }
    if (held)
        *held = framer.buffer();
    return frames;
}

// A sound frame made from the input: its command, sequence number and up to
// 40 bytes of payload (FFs included, so the escaping is exercised).
QByteArray soundFrame(const QByteArray &input, Fuzz::Random &random)
{
    const quint32 r = random.next();
    QByteArray frame;
    frame.append(char(Frame::HeaderByte)).append(char(Frame::HeaderByte));
    const QByteArray payload = input.right(int(r % 41));
    frame.append(ZemTool::numberToBytes(quint32(payload.size() + Frame::MinLength), 2));
    frame.append(char(r >> 8)).append(char(r >> 16)).append('\0').append('\0');
    frame.append(payload).append('\0');
    ZemTool::setFrameChecksum(frame);
    return frame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    Fuzz::Random random(input);

    QByteArray held;
    const QList<QByteArray> whole = assemble(input, nullptr, input, &held);
    const QList<QByteArray> split = assemble(input, &random, input);
    if (whole != split)
        Fuzz::fail("frames depend on the chunk splits", input);

    StreamSegmenter segmenter(LineDirection::ModuleToMcu);
    QVector<LineSegment> segments;
    segmenter.feed(input, 0, segments);
    QList<QByteArray> shown;
    for (const LineSegment &segment : segments) {
        const QByteArray frame = Frame::unescape(segment.wire);
        if (segment.kind == SegmentKind::Frame4 && Frame::isWhole(frame))
            shown.append(frame);
    }
    if (whole != shown)
        Fuzz::fail("the frames answered are not the whole frames the analyzer shows", input);

    if (input.contains(QByteArray("\0\0\0\x03", 4)))
        return 0;
    const QByteArray sound = soundFrame(input, random);
    QList<QByteArray> expected = whole;
    if (Frame::isWhole(held))
        expected.append(held);
    expected.append(sound);
    const QList<QByteArray> after = assemble(input + ZemTool::escape(sound), &random, input);
    if (after != expected)
        Fuzz::fail("a sound frame after the input was lost or changed the frames before it", input,
                   sound);
    return 0;
}
