// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/captureanalysis.h"

#include "analyzer/framefields.h"
#include "analyzer/framelistmodel.h"
#include "capture/capturereader.h"
#include "protocol/lineevent.h"

namespace {

// In kind order (FrameProblem::bit(i)).
const char *const KindNames[FrameProblem::KindCount]
    = {"checksum",         "length",         "unescaped-ff", "no-reply",
       "unexpected-reply", "retransmission", "noise"};

QString milliseconds(qint64 us)
{
    return QString::number(double(us) / 1000.0, 'f', 3) + QStringLiteral(" ms");
}

} // namespace

CaptureAnalysis::CaptureAnalysis(qint64 replyLimitUs)
    : m_analyzer(std::make_unique<FrameAnalyzer>())
{
    m_analyzer->setReplyLimitUs(replyLimitUs);
}

CaptureAnalysis::~CaptureAnalysis() = default;

bool CaptureAnalysis::read(const QString &path)
{
    FrameAnalyzer *target = m_analyzer.get();
    const qint64 before = target->endId();
    m_readToEnd = CaptureReader::read(
        path,
        [target](const LineSegment &segment, const QString &) {
            target->add(segment);
            return true;
        },
        &m_error, &m_cutShort, &m_skipped, &m_untimed);
    if (!m_readToEnd && target->endId() == before)
        return false;
    // Requests the file's end leaves waiting count as unanswered only when
    // the file goes on beyond their limit.
    target->expire(target->counters().lastTimeUs, nullptr);
    return true;
}

std::unique_ptr<FrameAnalyzer> CaptureAnalysis::takeAnalyzer()
{
    return std::move(m_analyzer);
}

bool CaptureAnalysis::anyRowWith(quint16 problems) const
{
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind) {
        if ((problems & FrameProblem::bit(kind)) && m_analyzer->counters().problems[kind] > 0)
            return true;
    }
    return false;
}

QString CaptureAnalysis::kindName(int kind)
{
    return kind >= 0 && kind < FrameProblem::KindCount ? QLatin1String(KindNames[kind]) : QString();
}

bool CaptureAnalysis::parseKinds(const QString &list, quint16 *bits, QString *unknown)
{
    *bits = 0;
    if (list.trimmed() == QLatin1String("none"))
        return true;
    for (const QString &word : list.split(QLatin1Char(','))) {
        const QString name = word.trimmed();
        if (name.isEmpty())
            continue;
        int kind = 0;
        while (kind < FrameProblem::KindCount && name != QLatin1String(KindNames[kind]))
            ++kind;
        if (kind == FrameProblem::KindCount) {
            if (unknown)
                *unknown = name;
            return false;
        }
        *bits |= FrameProblem::bit(kind);
    }
    return true;
}

QString CaptureAnalysis::kindNames(quint16 bits)
{
    QStringList names;
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind) {
        if (bits & FrameProblem::bit(kind))
            names << kindName(kind);
    }
    return names.join(QLatin1Char(','));
}

QString CaptureAnalysis::rowLine(const FrameListModel &model, int row,
                                 const DataPointDefinition *definition) const
{
    const qint64 id = model.rowId(row);
    if (id < 0 || !m_analyzer->contains(id))
        return QString();
    const FrameRecord &r = m_analyzer->record(id);
    QString pairing;
    if (r.pairId >= 0) {
        const bool request = r.kind == SegmentKind::Frame4 && r.command > 0 && (r.command & 1);
        pairing = QStringLiteral("%1 #%2 %3")
                      .arg(request ? QStringLiteral("reply") : QStringLiteral("request"))
                      .arg(r.pairId)
                      .arg(milliseconds(r.latencyUs));
    } else if (r.problems & FrameProblem::NoReply) {
        pairing = QStringLiteral("no reply");
    }
    // An event row says what was done to the line, in the shell's English.
    const QString what = r.kind == SegmentKind::Event
        ? QStringLiteral("event: ")
            + LineEvent::text(LineEvent::decode(m_analyzer->wireData(id), r.wireSize), true)
        : model.cellText(row, FrameListModel::CommandColumn);
    QStringList cells{
        QString::number(id),
        model.cellText(row, FrameListModel::TimeColumn),
        r.direction == LineDirection::McuToModule ? QStringLiteral("MCU->module")
                                                  : QStringLiteral("module->MCU"),
        what,
        model.cellText(row, FrameListModel::SequenceColumn),
        pairing,
        kindNames(r.problems),
    };
    if (definition && r.kind == SegmentKind::Frame4) {
        QStringList values;
        for (const DataPointValue &v : dataPointValues(m_analyzer->frame(id), *definition)) {
            if (!v.value.isEmpty())
                values << v.name + QLatin1Char('=') + v.value;
        }
        if (!values.isEmpty())
            cells << values.join(QLatin1Char(' '));
    }
    return cells.join(QLatin1Char('\t'));
}

QStringList CaptureAnalysis::problemSummary() const
{
    QStringList lines;
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind) {
        const qint64 count = m_analyzer->counters().problems[kind];
        if (count > 0)
            lines << QStringLiteral("%1\t%2").arg(kindName(kind)).arg(count);
    }
    return lines;
}
