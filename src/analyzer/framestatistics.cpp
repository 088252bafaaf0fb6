// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/framestatistics.h"

#include "analyzer/framelistmodel.h"
#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"

#include <QStringList>

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

namespace {

// The slot widths a rate line may have, so the times read as round figures.
constexpr qint64 SlotChoicesUs[]
    = {1000000,   2000000,   5000000,   10000000,   30000000,  60000000,
       120000000, 300000000, 600000000, 1800000000, 3600000000};

// The nearest-rank percentile of sorted values.
qint64 percentile(const std::vector<qint64> &sorted, int percent)
{
    const size_t n = sorted.size();
    size_t rank = (n * size_t(percent) + 99) / 100; // ceil(n * p / 100), 1-based
    rank = std::max<size_t>(rank, 1);
    return sorted[std::min(rank, n) - 1];
}

QString ms(qint64 us)
{
    return us < 0 ? QStringLiteral("-") : QString::number(double(us) / 1000.0, 'f', 3);
}

} // namespace

FrameStatistics FrameStatistics::of(const FrameAnalyzer &analyzer)
{
    FrameStatistics s;
    s.firstId = analyzer.firstId();
    s.endId = analyzer.endId();
    if (s.firstId == s.endId)
        return s;

    struct Collected
    {
        qint64 count = 0;
        std::vector<qint64> latencies;
    };
    // Key: direction, then the command (v3 and other bytes first).
    std::map<std::pair<int, int>, Collected> byCommand;
    for (qint64 id = s.firstId; id < s.endId; ++id) {
        const FrameRecord &r = analyzer.record(id);
        if (s.firstTimeUs < 0 || r.timeUs < s.firstTimeUs)
            s.firstTimeUs = r.timeUs;
        s.lastTimeUs = std::max(s.lastTimeUs, r.timeUs);
        for (int kind = 0; kind < FrameProblem::KindCount; ++kind)
            if (r.problems & FrameProblem::bit(kind))
                ++s.problems[kind];
        // Events are neither commands nor traffic.
        if (r.kind == SegmentKind::Event)
            continue;
        int command = r.command;
        if (r.kind == SegmentKind::Frame3)
            command = Frame3Command;
        else if (r.kind == SegmentKind::Other)
            command = OtherCommand;
        else if (command < 0)
            continue; // a v4 frame too short to hold its command
        Collected &c = byCommand[{int(r.direction), command}];
        ++c.count;
        // A request's latency is its reply's; a reply's is the same figure
        // again and is not counted twice.
        const bool request = r.kind == SegmentKind::Frame4 && (command & 1);
        if (request && r.pairId >= 0 && r.latencyUs >= 0)
            c.latencies.push_back(r.latencyUs);
    }

    for (auto &entry : byCommand) {
        CommandLine line;
        line.direction = LineDirection(entry.first.first);
        line.command = entry.first.second;
        line.count = entry.second.count;
        std::vector<qint64> &l = entry.second.latencies;
        line.answered = qint64(l.size());
        if (!l.empty()) {
            std::sort(l.begin(), l.end());
            qint64 sum = 0;
            for (const qint64 v : l)
                sum += v;
            line.minUs = l.front();
            line.maxUs = l.back();
            line.meanUs = sum / qint64(l.size());
            line.p50Us = percentile(l, 50);
            line.p99Us = percentile(l, 99);
        }
        s.commands.append(line);
    }

    // Rates: the narrowest round slot that keeps the lines few.
    const qint64 span = s.lastTimeUs - s.firstTimeUs;
    s.slotUs = SlotChoicesUs[std::size(SlotChoicesUs) - 1];
    for (const qint64 choice : SlotChoicesUs) {
        if (span / choice < MaxRateSlots) {
            s.slotUs = choice;
            break;
        }
    }
    const qint64 slotCount = std::min<qint64>(span / s.slotUs + 1, MaxRateSlots);
    std::vector<qint64> bytes(size_t(slotCount), 0);
    std::vector<qint64> frames(size_t(slotCount), 0);
    for (qint64 id = s.firstId; id < s.endId; ++id) {
        const FrameRecord &r = analyzer.record(id);
        if (r.kind == SegmentKind::Event)
            continue;
        const qint64 slot = std::min((r.timeUs - s.firstTimeUs) / s.slotUs, slotCount - 1);
        bytes[size_t(slot)] += r.wireSize;
        if (r.kind != SegmentKind::Other)
            ++frames[size_t(slot)];
    }
    const double seconds = double(s.slotUs) / 1e6;
    for (qint64 i = 0; i < slotCount; ++i) {
        RateLine line;
        line.startUs = i * s.slotUs;
        line.bytesPerSecond = double(bytes[size_t(i)]) / seconds;
        line.framesPerSecond = double(frames[size_t(i)]) / seconds;
        s.rates.append(line);
    }
    return s;
}

QString FrameStatistics::toText(const std::function<QString(int command)> &commandName) const
{
    QStringList lines;
    const qint64 rows = endId - firstId;
    if (rows == 0) {
        lines << QStringLiteral("没有可统计的行");
        return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    lines << QStringLiteral("统计：#%1 至 #%2，共 %3 行，历时 %4 s")
                 .arg(firstId)
                 .arg(endId - 1)
                 .arg(rows)
                 .arg(double(lastTimeUs - firstTimeUs) / 1e6, 0, 'f', 3);
    lines << QString();
    lines << QStringLiteral("按命令（延迟为请求到应答，ms）");
    lines << QStringLiteral("方向\t命令\t帧数\t有应答\t最小\t平均\tP50\tP99\t最大");
    for (const CommandLine &c : commands) {
        QString name;
        if (c.command == Frame3Command) {
            name = QStringLiteral("V3帧");
        } else if (c.command == OtherCommand) {
            name = QStringLiteral("帧外字节");
        } else {
            name = QStringLiteral("0x") + SettingKeys::hexCode(c.command);
            const QString text = commandName ? commandName(c.command) : QString();
            if (!text.isEmpty())
                name += QLatin1Char(' ') + text;
        }
        const bool request = c.command > 0 && (c.command & 1);
        lines << QStringList{FrameListModel::directionText(c.direction),
                             name,
                             QString::number(c.count),
                             request ? QString::number(c.answered) : QStringLiteral("-"),
                             ms(c.minUs),
                             ms(c.meanUs),
                             ms(c.p50Us),
                             ms(c.p99Us),
                             ms(c.maxUs)}
                     .join(QLatin1Char('\t'));
    }
    lines << QString();
    lines << QStringLiteral("问题\t行数");
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind)
        lines
            << QStringLiteral("%1\t%2").arg(FrameListModel::problemName(kind)).arg(problems[kind]);
    lines << QString();
    lines << QStringLiteral("流量（每 %1 s 一行，从第一行起）").arg(double(slotUs) / 1e6);
    lines << QStringLiteral("起始(s)\t字节/秒\t帧/秒");
    for (const RateLine &r : rates)
        lines << QStringLiteral("%1\t%2\t%3")
                     .arg(double(r.startUs) / 1e6)
                     .arg(r.bytesPerSecond, 0, 'f', 1)
                     .arg(r.framesPerSecond, 0, 'f', 1);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
