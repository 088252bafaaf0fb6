// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/streamsegmenter.h"

#include <QByteArray>
#include <QDebug>
#include <QObject>

// Cuts the raw byte stream of one serial port into whole, unescaped frames,
// header to checksum, for whatever answers them (the simulated MCU, the
// module's conformance run).
//
// Where a frame begins and ends is StreamSegmenter's to decide, the same rule
// the analyzer and the capture use, so the frame the user sees there is the
// frame that was answered. Of its version 4 segments only the whole ones (as
// long as their length says) are emitted: a frame cut short or a frame whose
// length was damaged is shown by the analyzer but answered by nobody. Version
// 3 frames and the bytes between frames are dropped.
//
// A frame is emitted as soon as the stream decides it: at its last counted
// byte, or, when that byte is an FF, at the byte after it (55: the FF was
// escaped; anything but FF: the sender did not escape it). FF FF after that
// last FF waits one byte more: FF FF FF is the next header behind a frame
// whose last FF came bare, FF FF and anything else a frame cut one byte short
// whose FF opens that header. A sound sender writes FF 55 in one write, so a
// frame with checksum FF is answered at its 55 without waiting.
//
// The checksum is not verified here: a frame with a wrong checksum is still
// emitted, so that the user sees it in the log.
class ZemFramer : public QObject
{
    Q_OBJECT
public:
    // Fed by calling dataToV4; the owner connects its line's DataReady there
    // (listenTo does so).
    explicit ZemFramer(QObject *parent = nullptr);

    // Connects `line`'s DataReady(QByteArray) to dataToV4. A missing line is
    // reported as an error: the owner meant to connect one.
    template <typename Line> void listenTo(Line *line)
    {
        if (!line) {
            qDebug() << "error zemSerialPort";
            return;
        }
        connect(line, &Line::DataReady, this, &ZemFramer::dataToV4);
    }

    // Drops any partial frame (the owner does so when it closes the port).
    void clear();
    // The partial frame assembled so far, unescaped.
    QByteArray buffer() const;

signals:
    void LineDataReady(const QByteArray &frame);

public slots:
    void dataToV4(const QByteArray &chunk);

private:
    StreamSegmenter m_segmenter;
};
