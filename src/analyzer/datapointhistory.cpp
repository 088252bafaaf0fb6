// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/datapointhistory.h"

#include "analyzer/frameanalyzer.h"
#include "analyzer/framefields.h"
#include "analyzer/framelistmodel.h"
#include "datapoint/datapointtext.h"
#include "datapoint/datapointvalues.h"
#include "protocol/frameformat.h"

#include <QDateTime>
#include <QFile>
#include <QIODevice>

#include <algorithm>

namespace {

// A row whose bytes cannot be trusted carries no values: a checksum that
// does not add up or a length that disagrees would draw a false value.
constexpr quint16 Untrusted = FrameProblem::BadChecksum | FrameProblem::Truncated;

bool mayCarryValues(const FrameRecord &r)
{
    return r.kind == SegmentKind::Frame4 && !(r.problems & Untrusted)
        && (r.command == Frame::code(Frame::Command::Status)
            || r.command == Frame::code(Frame::Command::StatusReply)
            || r.command == Frame::code(Frame::Command::StatusReport));
}

DataPointSource sourceOf(const QByteArray &frame)
{
    if (Frame::isControlCommand(frame))
        return DataPointSource::Control;
    if (Frame::isStatusAnswer(frame))
        return DataPointSource::Answer;
    return DataPointSource::Report;
}

// Local time with microseconds, as a spreadsheet reads it; the date is in
// it because a capture can run past midnight.
QString csvTime(qint64 timeUs)
{
    const qint64 second = timeUs >= 0 ? timeUs / 1000000 : -((-timeUs + 999999) / 1000000);
    return QDateTime::fromMSecsSinceEpoch(second * 1000)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss."))
        + QStringLiteral("%1").arg(int(timeUs - second * 1000000), 6, 10, QLatin1Char('0'));
}

} // namespace

QByteArray DataPointSeries::bytes(int i) const
{
    return m_bytes.empty() ? QByteArray() : m_bytes[size_t(i)];
}

QString DataPointSeries::text(int i) const
{
    switch (style) {
    case DataPointStyle::Marks:
        return QString::fromLatin1(m_bytes[size_t(i)].toHex());
    case DataPointStyle::Step: {
        const double v = m_value[size_t(i)];
        const int index = int(v);
        if (index >= 0 && index < labels.size())
            return labels.at(index);
        return QString::number(qint64(v));
    }
    case DataPointStyle::Line:
        break;
    }
    return QString::number(qint64(m_value[size_t(i)]));
}

int DataPointSeries::lowerBound(qint64 timeUs) const
{
    return int(std::lower_bound(m_timeUs.begin(), m_timeUs.end(), timeUs) - m_timeUs.begin());
}

int DataPointSeries::valueAt(qint64 timeUs) const
{
    return int(std::upper_bound(m_timeUs.begin(), m_timeUs.end(), timeUs) - m_timeUs.begin()) - 1;
}

DataPointHistory::DataPointHistory(const DataPointDefinition &definition)
    : m_def(definition)
{
    const QList<json_struct> &records = m_def.records();
    for (int k = 0; k < records.size(); ++k) {
        const json_struct &r = records.at(k);
        DataPointSeries series;
        series.name = r.display_name;
        switch (DataPointValues::kindOf(r)) {
        case DataPointValues::Kind::None:
            continue;
        case DataPointValues::Kind::Number:
            series.style
                = r.data_type == DataPointText::Bool ? DataPointStyle::Step : DataPointStyle::Line;
            break;
        case DataPointValues::Kind::Choice:
            series.style = DataPointStyle::Step;
            series.labels = r.enum_list;
            break;
        case DataPointValues::Kind::Bytes:
            series.style = DataPointStyle::Marks;
            break;
        }
        // Two records of one name: dataPointValues() names a control's
        // value once, so only the first record gets a series.
        if (indexOf(series.name) >= 0)
            continue;
        m_series.append(series);
        m_recordOf.append(k);
    }
}

int DataPointHistory::indexOf(const QString &name) const
{
    for (int k = 0; k < m_series.size(); ++k) {
        if (m_series.at(k).name == name)
            return k;
    }
    return -1;
}

int DataPointHistory::addRows(const FrameAnalyzer &analyzer, qint64 firstId, qint64 endId)
{
    int carried = 0;
    const qint64 end = qMin(endId, analyzer.endId());
    for (qint64 id = qMax(firstId, analyzer.firstId()); id < end; ++id) {
        const FrameRecord &r = analyzer.record(id);
        if (mayCarryValues(r) && addFrame(analyzer.frame(id), r.timeUs, id, r.direction))
            ++carried;
    }
    m_endId = qMax(m_endId, end);
    return carried;
}

bool DataPointHistory::addFrame(const QByteArray &frame, qint64 timeUs, qint64 frameId,
                                LineDirection direction)
{
    if (m_series.isEmpty())
        return false;
    const QVector<DataPointValue> values = dataPointValues(frame, m_def);
    const DataPointSource source = sourceOf(frame);
    const int firstSample = int(m_frameSamples.size());
    // dataPointValues() lists the values in definition order, as the series
    // are, so one forward walk finds each one's series.
    int point = 0;
    for (const DataPointValue &v : values) {
        if (v.value.isEmpty())
            continue; // the frame is too short for this one
        while (point < m_series.size() && m_series.at(point).name != v.name)
            ++point;
        if (point == m_series.size())
            break;
        DataPointSeries &s = m_series[point];
        const int previous = s.size() - 1;
        double number = 0;
        QByteArray bytes;
        bool changed = previous < 0;
        switch (s.style) {
        case DataPointStyle::Marks:
            bytes = QByteArray::fromHex(v.value.toLatin1());
            changed = changed || s.m_bytes.back() != bytes;
            // Each change lifts the mark one step, so the marks of a value
            // that keeps changing do not sit on one another.
            number = previous < 0 ? 0 : s.m_value.back() + (changed ? 1 : 0);
            break;
        case DataPointStyle::Step:
            number = s.labels.isEmpty() ? -1 : s.labels.indexOf(v.value);
            if (number < 0)
                number = v.value.toDouble(); // bool, or an enum value beyond its labels
            changed = changed || s.m_value.back() != number;
            break;
        case DataPointStyle::Line:
            number = v.value.toDouble();
            changed = changed || s.m_value.back() != number;
            break;
        }
        const int sample = s.size();
        s.m_timeUs.push_back(timeUs);
        s.m_value.push_back(number);
        s.m_frameId.push_back(frameId);
        s.m_direction.push_back(direction);
        s.m_source.push_back(source);
        if (s.style == DataPointStyle::Marks)
            s.m_bytes.push_back(bytes);
        m_frameSamples.push_back({point, sample});
        if (changed)
            m_changes.push_back({point, sample, previous});
        ++point;
    }
    const int count = int(m_frameSamples.size()) - firstSample;
    if (count == 0)
        return false;
    m_frames.push_back({timeUs, frameId, direction, source, firstSample, count});
    return true;
}

void DataPointHistory::clear()
{
    for (DataPointSeries &s : m_series) {
        s.m_timeUs.clear();
        s.m_value.clear();
        s.m_frameId.clear();
        s.m_direction.clear();
        s.m_source.clear();
        s.m_bytes.clear();
    }
    m_frames.clear();
    m_frameSamples.clear();
    m_changes.clear();
    m_endId = 0;
}

qint64 DataPointHistory::firstTimeUs() const
{
    return m_frames.empty() ? -1 : m_frames.front().timeUs;
}

qint64 DataPointHistory::lastTimeUs() const
{
    return m_frames.empty() ? -1 : m_frames.back().timeUs;
}

int DataPointHistory::changeAt(qint64 timeUs) const
{
    const auto it = std::lower_bound(m_changes.begin(), m_changes.end(), timeUs,
                                     [this](const DataPointChange &c, qint64 t) {
                                         return m_series.at(c.point).timeUs(c.sample) < t;
                                     });
    return int(it - m_changes.begin());
}

QString DataPointHistory::csvHeader() const
{
    QString line = QStringLiteral("时间,帧,方向,来源");
    for (const DataPointSeries &s : m_series)
        line += QLatin1Char(',') + FrameListModel::csvField(s.name);
    return line + QLatin1Char('\n');
}

QString DataPointHistory::csvLine(int frame) const
{
    static const QString Sources[]
        = {QStringLiteral("上报"), QStringLiteral("查询应答"), QStringLiteral("控制")};
    const FrameEntry &f = m_frames[size_t(frame)];
    QVector<QString> cells(m_series.size());
    for (int k = 0; k < f.sampleCount; ++k) {
        const SampleRef &ref = m_frameSamples[size_t(f.firstSample + k)];
        cells[ref.point] = FrameListModel::csvField(m_series.at(ref.point).text(ref.sample));
    }
    QString line = csvTime(f.timeUs) + QLatin1Char(',') + QString::number(f.frameId)
        + QLatin1Char(',') + FrameListModel::directionText(f.direction) + QLatin1Char(',')
        + Sources[int(f.source)];
    for (const QString &cell : cells)
        line += QLatin1Char(',') + cell;
    return line + QLatin1Char('\n');
}

QString DataPointHistory::toCsv() const
{
    QString csv = csvHeader();
    for (int frame = 0; frame < frameCount(); ++frame)
        csv += csvLine(frame);
    return csv;
}

bool DataPointHistory::writeCsv(QIODevice *device) const
{
    if (device->write(csvHeader().toUtf8()) < 0)
        return false;
    for (int frame = 0; frame < frameCount(); ++frame) {
        if (device->write(csvLine(frame).toUtf8()) < 0)
            return false;
    }
    return true;
}

bool DataPointHistory::writeCsv(const QString &path, QString *error) const
{
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    // The byte order mark makes spreadsheet programs read the Chinese
    // headers as UTF-8, as with the frame list's CSV.
    ok = ok && file.write("\xEF\xBB\xBF") == 3 && writeCsv(&file) && file.flush();
    if (!ok && error)
        *error = QStringLiteral("无法写入文件 %1：%2").arg(path, file.errorString());
    return ok;
}
