// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/zemframer.h"

#include "protocol/frameescape.h"

ZemFramer::ZemFramer(QObject *parent)
    : QObject(parent)
    , m_segmenter(LineDirection::ModuleToMcu)
{ }

void ZemFramer::clear()
{
    m_segmenter.clear();
}

QByteArray ZemFramer::buffer() const
{
    return Frame::unescape(m_segmenter.heldFrame4());
}

void ZemFramer::dataToV4(const QByteArray &chunk)
{
    // A local list: a receiver may answer, and so feed this framer again,
    // from within LineDataReady.
    QVector<LineSegment> segments;
    m_segmenter.feed(chunk, 0, segments);
    for (const LineSegment &segment : segments) {
        if (segment.kind != SegmentKind::Frame4)
            continue;
        const QByteArray frame = Frame::unescape(segment.wire);
        if (Frame::isWhole(frame))
            emit LineDataReady(frame);
    }
}
