// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>

class ZemTool;
class ZemSerialPort;

// Cuts the raw byte stream of one serial port into whole, unescaped frames.
//
// The stream is read as the wire rules make it: a frame starts with FF FF, the
// first length byte is sent as is, and from the second length byte on every
// FF is followed by an inserted 55. So the un-escaping happens on the raw
// stream, byte by byte, and an FF followed by FF after the header can only be
// the start of a new frame: the partial one is dropped and assembly starts
// again at that header. Noise, a stray FF, a truncated frame or a corrupted
// length thus cost at most the frame they touch, and each byte costs O(1).
//
// A frame whose length is complete on an FF is not emitted at once: that FF
// may be the first byte of the next header (the frame lost a byte, or its
// length reads one too many). The next raw byte decides: 55 completes the
// frame (the FF was data, escaped), FF starts a new frame (the partial one is
// dropped, so the next, undamaged frame is kept), anything else means the
// sender did not escape the last FF: the frame is emitted and the byte is
// dropped as noise.
//
// A length whose high byte is FF (a frame of 65 280 bytes or more) cannot be
// told apart from a stray FF in front of a header, FF FF FF 00 05 ...; the
// run of FFs is read as one header, which is what every real module sends.
//
// The checksum is not verified here: a frame with a wrong checksum is still
// emitted, so that the user sees it in the log.
class ZemFramer : public QObject
{
    Q_OBJECT
public:
    // A framer fed only by calling dataToV4 (tests, tools, benchmarks).
    explicit ZemFramer(QObject *parent = nullptr);
    // Listens to `port`'s DataReady. A missing port is reported as an
    // error: the owner meant to connect one.
    ZemFramer(ZemTool *tool, ZemSerialPort *port, QObject *parent = nullptr);

    // Drops any partial frame (the owner does so when it closes the port).
    void clear();
    // The partial frame assembled so far, unescaped.
    const QByteArray &buffer() const { return m_buffer; }

signals:
    void LineDataReady(const QByteArray &frame);

public slots:
    void dataToV4(const QByteArray &chunk);

private:
    static bool isComplete(const QByteArray &buffer);
    void emitFrame();

    ZemTool *m_tool = nullptr;
    ZemSerialPort *m_port = nullptr;
    QByteArray m_buffer;
    // The last raw byte was an FF inside the escaped part of the frame; the
    // next raw byte decides whether it was data (55 follows) or a header.
    bool m_pendingEscape = false;
};
