// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/capturereader.h"

#include "capture/capturepacket.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QVector>

#include <pcap/pcap.h>

namespace {

// The first bytes of a classic pcap file, in either byte order, with
// microsecond or nanosecond time stamps.
bool isPcapMagicPrefix(const QByteArray &start)
{
    static const char magics[4][4] = {{'\xD4', '\xC3', '\xB2', '\xA1'},
                                      {'\xA1', '\xB2', '\xC3', '\xD4'},
                                      {'\x4D', '\x3C', '\xB2', '\xA1'},
                                      {'\xA1', '\xB2', '\x3C', '\x4D'}};
    const int n = int(qMin<qsizetype>(start.size(), 4));
    for (const auto &magic : magics)
        if (QByteArray::fromRawData(magic, n) == start.left(n))
            return true;
    return false;
}

// The size of a classic pcap file header.
constexpr qint64 PcapFileHeaderBytes = 24;

} // namespace

bool CaptureReader::read(
    const QString &path,
    const std::function<bool(const LineSegment &, const QString &portName)> &sink, QString *error,
    bool *cutShort, qint64 *skipped, qint64 *untimed)
{
    const QString shownPath = QDir::toNativeSeparators(path);
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (cutShort)
        *cutShort = false;
    if (skipped)
        *skipped = 0;
    if (untimed)
        *untimed = 0;

    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("无法打开 %1：%2").arg(shownPath, probe.errorString()));
    // A recorder that died before its file header reached the disk leaves a
    // file shorter than the header: a capture without packets, cut short.
    if (probe.size() < PcapFileHeaderBytes) {
        const QByteArray start = probe.readAll();
        if (start.isEmpty() || !isPcapMagicPrefix(start))
            return fail(QStringLiteral("%1 不是抓包文件（pcap 或 pcapng）").arg(shownPath));
        if (cutShort)
            *cutShort = true;
        return true;
    }
    // libpcap gives a pcapng simple packet block the time 0: in a pcapng
    // file that is no time at all.
    const bool pcapng = probe.read(4) == QByteArray("\x0A\x0D\x0D\x0A", 4);
    const qint64 fileChangedUs = QFileInfo(path).lastModified().toMSecsSinceEpoch() * 1000;
    probe.close();

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    const QByteArray nativePath = QFile::encodeName(path);
    pcap_t *pcap = pcap_open_offline_with_tstamp_precision(nativePath.constData(),
                                                           PCAP_TSTAMP_PRECISION_MICRO, errbuf);
    if (!pcap)
        return fail(QStringLiteral("%1 不是可读的抓包文件：%2")
                        .arg(shownPath, QString::fromLocal8Bit(errbuf)));

    bool ok = true;
    const int linkType = pcap_datalink(pcap);
    if (linkType != CapturePacket::LinkType) {
        ok = fail(QStringLiteral("%1 的链路类型是 %2，不是本程序的 USER0（%3）")
                      .arg(shownPath)
                      .arg(linkType)
                      .arg(CapturePacket::LinkType));
    }

    LineSegment segment;
    QByteArray nameBytes;
    QByteArray lastNameBytes;
    QString portName;
    qint64 packetNumber = 0;
    qint64 delivered = 0;
    qint64 bad = 0;
    QString firstBad;
    qint64 lastTimeUs = -1;
    qint64 noTime = 0;
    // Packets without a time before the first one with a time wait for it.
    QVector<QPair<LineSegment, QString>> waiting;
    bool stopped = false;
    auto deliver = [&](const LineSegment &s, const QString &name) {
        ++delivered;
        if (!sink(s, name))
            stopped = true;
        return !stopped;
    };
    auto deliverWaiting = [&](qint64 timeUs) {
        for (auto &w : waiting) {
            w.first.timeUs = timeUs;
            if (!deliver(w.first, w.second))
                break;
        }
        waiting.clear();
    };
    auto skip = [&](const QString &why) {
        if (bad++ == 0)
            firstBad = why;
    };
    while (ok) {
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int status = pcap_next_ex(pcap, &header, &data);
        if (status == PCAP_ERROR_BREAK) // -2: the end of the file
            break;
        if (status != 1) {
            const QString why = QString::fromLocal8Bit(pcap_geterr(pcap));
            // libpcap says "truncated ... dump file" for a file that ends
            // inside a record: everything before it has been delivered.
            if (why.contains(QLatin1String("truncated"), Qt::CaseInsensitive)) {
                if (cutShort)
                    *cutShort = true;
                break;
            }
            ok = fail(QStringLiteral("读取 %1 出错：%2").arg(shownPath, why));
            break;
        }
        ++packetNumber;
        if (header->caplen < header->len) {
            skip(QStringLiteral("%1 的第 %2 个数据包抓取时被截短（%3 / %4 字节）")
                     .arg(shownPath)
                     .arg(packetNumber)
                     .arg(header->caplen)
                     .arg(header->len));
            continue;
        }
        QString why;
        if (!CapturePacket::decode(reinterpret_cast<const char *>(data), header->caplen, segment,
                                   nameBytes, &why)) {
            skip(QStringLiteral("%1 的第 %2 个数据包不是本程序的格式：%3")
                     .arg(shownPath)
                     .arg(packetNumber)
                     .arg(why));
            continue;
        }
        // Captures come from one or two ports: decode each name once.
        if (nameBytes != lastNameBytes || delivered == 0) {
            lastNameBytes = nameBytes;
            portName = QString::fromUtf8(nameBytes);
        }
        segment.timeUs = qint64(header->ts.tv_sec) * 1000000 + qint64(header->ts.tv_usec);
        if (pcapng && segment.timeUs == 0) {
            ++noTime;
            if (lastTimeUs < 0) {
                waiting.append(qMakePair(segment, portName));
                continue;
            }
            segment.timeUs = lastTimeUs;
        } else if (!waiting.isEmpty()) {
            deliverWaiting(segment.timeUs);
            if (stopped)
                break;
        }
        lastTimeUs = segment.timeUs;
        if (!deliver(segment, portName))
            break;
    }
    if (!waiting.isEmpty() && !stopped)
        deliverWaiting(fileChangedUs);
    if (untimed)
        *untimed = noTime;
    pcap_close(pcap);
    if (skipped)
        *skipped = bad;
    if (ok && bad > 0) {
        // Nothing readable at all: the file is not of this format.
        if (delivered == 0)
            return fail(firstBad);
        if (error)
            *error = firstBad;
    }
    return ok;
}
