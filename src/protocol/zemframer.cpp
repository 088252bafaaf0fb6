// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/zemframer.h"

#include "protocol/frameformat.h"
#include "serial/zemserialport.h"

#include <QDebug>

namespace {
constexpr char FF = static_cast<char>(Frame::HeaderByte);
constexpr char Escape55 = static_cast<char>(Frame::EscapeByte);
} // namespace

bool ZemFramer::isComplete(const QByteArray &buffer)
{
    return buffer.size() >= 4
        && buffer.size() == Frame::lengthField(buffer) + Frame::LengthFieldOverhead;
}

void ZemFramer::emitFrame()
{
    const QByteArray frame = m_buffer;
    clear();
    emit LineDataReady(frame);
}

ZemFramer::ZemFramer(QObject *parent)
    : QObject(parent)
{ }

ZemFramer::ZemFramer(ZemTool *tool, ZemSerialPort *port, QObject *parent)
    : QObject(parent)
    , m_tool(tool)
    , m_port(port)
{
    if (!port) {
        qDebug() << "error zemSerialPort";
        return;
    }
    connect(port, &ZemSerialPort::DataReady, this, &ZemFramer::dataToV4);
}

void ZemFramer::clear()
{
    m_buffer.clear();
    m_pendingEscape = false;
}

void ZemFramer::dataToV4(const QByteArray &chunk)
{
    const char *p = chunk.constData();
    const char *const end = p + chunk.size();
    for (; p != end; ++p) {
        const char byte = *p;
        const int size = m_buffer.size();

        // Hunting for the header FF FF.
        if (size < 2) {
            if (byte == FF)
                m_buffer.append(byte);
            else
                m_buffer.clear();
            continue;
        }

        // Offset 2, the first length byte, is never escaped. An FF here is
        // read as part of the header: a stray FF before FF FF shifts it.
        if (size == 2) {
            if (byte != FF)
                m_buffer.append(byte);
            continue;
        }

        // From offset 3 on the stream is escaped.
        if (m_pendingEscape) {
            m_pendingEscape = false;
            const bool complete = isComplete(m_buffer);
            if (byte == Escape55) {
                // FF 55 stood for the FF already in the buffer.
                if (complete)
                    emitFrame();
                continue;
            }
            if (byte == FF) {
                // FF FF: a new frame begins; drop the partial one, even when
                // its length is complete: its last FF was really the first
                // byte of this header.
                m_buffer.resize(2);
                m_buffer[0] = FF;
                m_buffer[1] = FF;
                continue;
            }
            if (complete) {
                // The sender forgot to escape the frame's last FF. The frame
                // is whole by its length, so it is kept; this byte cannot
                // start a header and is dropped like any noise between frames.
                emitFrame();
                continue;
            }
            // An unescaped FF followed by data: keep the FF as data (a sender
            // that forgot to escape) and read this byte normally.
        }

        m_buffer.append(byte);
        if (byte == FF)
            m_pendingEscape = true;

        const int newSize = m_buffer.size();
        if (newSize < 4)
            continue;
        const int expected = Frame::lengthField(m_buffer) + Frame::LengthFieldOverhead;
        if (expected < 5) {
            // Length 0: no frame can have it. Start hunting again.
            clear();
            continue;
        }
        // A frame whose last byte is FF waits for the next byte (see the
        // class comment); the sender writes that FF's 55 in the same write,
        // so the wait costs nothing on a sound line.
        if (newSize == expected && !m_pendingEscape)
            emitFrame();
    }
}
