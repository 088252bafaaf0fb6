// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QByteArray>
#include <QString>

struct pcap;
struct pcap_dumper;

// Writes a session capture (see capturepacket.h) with libpcap: a classic
// pcap file, microsecond time stamps, link type USER0. Packets go through
// the C library's file buffer; flush() pushes them to the file, and whoever
// records calls it at least once a second so a crash loses at most that
// much. File errors (a folder that cannot be written, a full disk) end the
// writing and are kept in errorString().
class CaptureWriter
{
public:
    CaptureWriter();
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter &) = delete;
    CaptureWriter &operator=(const CaptureWriter &) = delete;

    // The language of errorString(): Chinese for the windows (the default),
    // English for the command-line programs. One choice per process.
    static void setEnglishMessages(bool english);

    // Creates (or replaces) the file at `path` ("-": standard output) and writes its file header
    // through to the disk at once. False, with the reason, when it cannot.
    bool open(const QString &path, QString *error);
    // One segment as one packet (a segment too big for one pcap packet, which
    // the segmenter never makes, is written as several of the same kind).
    // Does nothing when the writer is not open.
    void write(const LineSegment &segment, const QString &portName);
    // Pushes the buffered packets to the file. False when the file could not
    // take them; the writer is then closed and errorString() says why.
    bool flush();
    // Flushes and closes; safe to call twice.
    void close();

    bool isOpen() const { return m_dumper != nullptr; }
    qint64 packetCount() const { return m_packets; }
    QString path() const { return m_path; }
    // The last file error, empty when there was none.
    QString errorString() const { return m_error; }

private:
    void writePacket(qint64 timeUs, const char *data, qsizetype size);
    void fail(const QString &what);

    pcap *m_pcap = nullptr;
    pcap_dumper *m_dumper = nullptr;
    QString m_path;
    QString m_error;
    qint64 m_packets = 0;
    QByteArray m_buffer;           // one packet being put together, reused
    QString m_lastPortName;        // the port name of the previous packet...
    QByteArray m_lastPortNameUtf8; // ...and its pseudo-header form
};
