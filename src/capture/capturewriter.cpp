// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/capturewriter.h"

#include "capture/capturepacket.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pcap/pcap.h>

namespace {

bool englishMessages = false;

// The writer's messages, in the window's Chinese or a command line's English.
QString cannotCreate(const QString &path, const QString &why)
{
    return (englishMessages ? QStringLiteral("cannot create %1: %2")
                            : QStringLiteral("无法创建 %1：%2"))
        .arg(QDir::toNativeSeparators(path), why);
}

QString cannotWrite(const QString &path, const QString &why)
{
    return (englishMessages ? QStringLiteral("cannot write %1: %2")
                            : QStringLiteral("无法写入 %1：%2"))
        .arg(QDir::toNativeSeparators(path), why);
}

// Floor division, so times before 1970 still give 0..999999 microseconds.
void splitTime(qint64 timeUs, qint64 &seconds, qint64 &micros)
{
    seconds = timeUs / 1000000;
    micros = timeUs % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
}
// The system's words for a failed write (errno), or a plain statement that it
// gave none.
QString systemReason(int code)
{
    if (code)
        return QString::fromLocal8Bit(std::strerror(code));
    return englishMessages ? QStringLiteral("write failed (the system gave no reason)")
                           : QStringLiteral("写入出错（系统未给出原因）");
}

} // namespace

CaptureWriter::CaptureWriter() = default;

void CaptureWriter::setEnglishMessages(bool english)
{
    englishMessages = english;
}

CaptureWriter::~CaptureWriter()
{
    close();
}

bool CaptureWriter::open(const QString &path, QString *error)
{
    close();
    m_error.clear();
    m_packets = 0;
    m_path = path;
    m_lastPortName.clear();
    m_lastPortNameUtf8.clear();

    m_pcap = pcap_open_dead_with_tstamp_precision(
        CapturePacket::LinkType, CapturePacket::MaxPacketBytes, PCAP_TSTAMP_PRECISION_MICRO);
    if (!m_pcap) {
        m_error = englishMessages ? QStringLiteral("cannot create a capture (out of memory)")
                                  : QStringLiteral("无法创建抓包（内存不足）");
    } else {
        const QByteArray nativePath = QFile::encodeName(path);
        m_dumper = pcap_dump_open(m_pcap, nativePath.constData());
        if (!m_dumper) {
            // libpcap's text starts with the path, which the message names already.
            QString why = QString::fromLocal8Bit(pcap_geterr(m_pcap));
            const QString prefix = QString::fromLocal8Bit(nativePath) + QStringLiteral(": ");
            if (why.startsWith(prefix))
                why = why.mid(prefix.size());
            m_error = cannotCreate(path, why);
        } else if (pcap_dump_flush(m_dumper) != 0) {
            m_error = cannotWrite(path, QString::fromLocal8Bit(std::strerror(errno)));
        }
    }
    if (!m_error.isEmpty()) {
        const QString why = m_error;
        close();
        m_error = why;
        if (error)
            *error = why;
        return false;
    }
    return true;
}

void CaptureWriter::write(const LineSegment &segment, const QString &portName)
{
    if (!m_dumper)
        return;
    if (portName != m_lastPortName) {
        m_lastPortName = portName;
        m_lastPortNameUtf8 = CapturePacket::portNameBytes(portName);
    }
    const qsizetype room
        = CapturePacket::MaxPacketBytes - CapturePacket::HeaderSize - m_lastPortNameUtf8.size();
    if (segment.wire.size() <= room) {
        CapturePacket::encode(segment, m_lastPortNameUtf8, m_buffer);
        writePacket(segment.timeUs, m_buffer.constData(), m_buffer.size());
        return;
    }
    LineSegment piece = segment;
    for (qsizetype at = 0; at < segment.wire.size(); at += room) {
        piece.wire = segment.wire.mid(int(at), int(room));
        CapturePacket::encode(piece, m_lastPortNameUtf8, m_buffer);
        writePacket(segment.timeUs, m_buffer.constData(), m_buffer.size());
    }
}

void CaptureWriter::writePacket(qint64 timeUs, const char *data, qsizetype size)
{
    if (!m_dumper) // closed by a failed write of an earlier piece
        return;
    pcap_pkthdr header{};
    qint64 seconds = 0;
    qint64 micros = 0;
    splitTime(timeUs, seconds, micros);
    header.ts.tv_sec = time_t(seconds);
    header.ts.tv_usec = suseconds_t(micros);
    header.caplen = bpf_u_int32(size);
    header.len = bpf_u_int32(size);
    // The stream writes its buffer out from inside pcap_dump(): a full disk
    // shows there first, and its errno is the reason; by the next flush the
    // reason is gone and only the stream's error flag is left.
    FILE *file = pcap_dump_file(m_dumper);
    errno = 0;
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header,
              reinterpret_cast<const u_char *>(data));
    if (std::ferror(file)) {
        fail(systemReason(errno));
        return;
    }
    ++m_packets;
}

bool CaptureWriter::flush()
{
    if (!m_dumper)
        return m_error.isEmpty();
    // pcap_dump() cannot report a failed write; the stream's error flag and
    // the flush can.
    FILE *file = pcap_dump_file(m_dumper);
    errno = 0;
    if (pcap_dump_flush(m_dumper) != 0 || std::ferror(file)) {
        const int code = errno;
        fail(systemReason(code));
        return false;
    }
    return true;
}

void CaptureWriter::fail(const QString &what)
{
    const QString why = cannotWrite(m_path, what);
    close();
    m_error = why;
}

void CaptureWriter::close()
{
    if (m_dumper) {
        // pcap_dump_close() flushes; a failure there is the last chance to
        // see the disk refuse the tail.
        FILE *file = pcap_dump_file(m_dumper);
        errno = 0;
        const bool failed = pcap_dump_flush(m_dumper) != 0 || std::ferror(file);
        const int code = errno;
        pcap_dump_close(m_dumper);
        m_dumper = nullptr;
        if (failed && m_error.isEmpty())
            m_error = cannotWrite(m_path, systemReason(code));
    }
    if (m_pcap) {
        pcap_close(m_pcap);
        m_pcap = nullptr;
    }
}
