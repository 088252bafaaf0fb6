// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"
#include "protocol/linesegment.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

class FrameAnalyzer;
class QIODevice;

// Which frame carried a value: the device's status report (05), its answer
// to a status query (04, action 03), or a control command (03, action 01)
// that sets it.
enum class DataPointSource : quint8 { Report, Answer, Control };

// How a data point is drawn and told: a number as a line, a bool or an enum
// as steps (an enum with its labels), a binary value as change marks.
enum class DataPointStyle : quint8 { Line, Step, Marks };

// The values one data point took over time, one sample per frame that
// carried it, in frame order. Columns, not a vector of structs, so that a
// million samples stay small and a chart can hand the times and values to
// its plot without copying them one by one.
class DataPointSeries
{
public:
    QString name; // the data point's display name
    DataPointStyle style = DataPointStyle::Line;
    QStringList labels; // an enum's item names: value i is labels[i]

    int size() const { return int(m_timeUs.size()); }
    qint64 timeUs(int i) const { return m_timeUs[size_t(i)]; }
    // A number, a bool (0/1) or an enum's index; for a binary value the
    // count of its changes so far, so marks stack visibly.
    double value(int i) const { return m_value[size_t(i)]; }
    qint64 frameId(int i) const { return m_frameId[size_t(i)]; }
    LineDirection direction(int i) const { return m_direction[size_t(i)]; }
    DataPointSource source(int i) const { return m_source[size_t(i)]; }
    // A binary value's bytes (empty for the other styles).
    QByteArray bytes(int i) const;
    // The value as the table and the CSV show it: a number, an enum's
    // label (its number when it has none), a binary value's hex.
    QString text(int i) const;

    const std::vector<qint64> &times() const { return m_timeUs; }
    const std::vector<double> &values() const { return m_value; }
    // The first sample at or after `timeUs` (size() when none).
    int lowerBound(qint64 timeUs) const;
    // The last sample at or before `timeUs` (-1 when none): the value shown
    // at that time.
    int valueAt(qint64 timeUs) const;

private:
    friend class DataPointHistory;
    std::vector<qint64> m_timeUs;
    std::vector<double> m_value;
    std::vector<qint64> m_frameId;
    std::vector<LineDirection> m_direction;
    std::vector<DataPointSource> m_source;
    std::vector<QByteArray> m_bytes; // binary values only, else empty
};

// One change of one value: the sample that brought a new value, with the
// one before (-1 for a point's first sample, which is listed as a change
// from nothing).
struct DataPointChange
{
    int point;    // index in the history's series
    int sample;   // the new value's sample
    int previous; // the old value's sample, or -1
};

// Every data-point value the frames of a line carried, over time: read from
// an analyzer's rows with the product's definition. Built once from a whole
// capture, or row by row from a live line (addRows() again with the new
// rows). Every value is kept; a chart decimates for drawing, never here.
//
// A frame that is cut short or whose checksum is wrong gives no values: a
// broken report must not draw a false value.
class DataPointHistory
{
public:
    DataPointHistory() = default;
    explicit DataPointHistory(const DataPointDefinition &definition);

    const DataPointDefinition &definition() const { return m_def; }
    // One series per data point the definition names, in its order (the
    // types that carry no value are left out).
    int pointCount() const { return m_series.size(); }
    const DataPointSeries &series(int point) const { return m_series[point]; }
    int indexOf(const QString &name) const;

    // Reads the rows firstId .. endId - 1 of `analyzer` (ids below its
    // firstId() are skipped); returns how many frames carried values.
    int addRows(const FrameAnalyzer &analyzer, qint64 firstId, qint64 endId);
    // Reads one unescaped v4 frame; false when it carries no values.
    bool addFrame(const QByteArray &frame, qint64 timeUs, qint64 frameId, LineDirection direction);
    // Forgets every sample (the series stay).
    void clear();
    // The rows read so far end before this id; the next live addRows()
    // starts here.
    qint64 endId() const { return m_endId; }

    // Frames that carried values, in order (one CSV row each).
    int frameCount() const { return int(m_frames.size()); }
    qint64 firstTimeUs() const; // -1 when empty
    qint64 lastTimeUs() const;  // -1 when empty

    int changeCount() const { return int(m_changes.size()); }
    const DataPointChange &change(int i) const { return m_changes[size_t(i)]; }
    // The first change at or after `timeUs` (changeCount() when none).
    int changeAt(qint64 timeUs) const;

    // The values over time: a header "时间,帧,方向,来源,<point>..." and one
    // line per frame that carried values: its local time with microseconds,
    // its row id (the frame list's first CSV column), direction, what kind
    // of frame it was (上报, 查询应答, 控制), and the values it carried, the
    // other points left empty (a control sets only some). UTF-8; the file
    // form starts with a byte order mark like the frame list's CSV, the
    // device form (a program's standard output) does not.
    QString toCsv() const;
    bool writeCsv(const QString &path, QString *error) const;
    bool writeCsv(QIODevice *device) const;

private:
    struct FrameEntry
    {
        qint64 timeUs;
        qint64 frameId;
        LineDirection direction;
        DataPointSource source;
        int firstSample; // into m_frameSamples
        int sampleCount;
    };
    QString csvHeader() const;
    QString csvLine(int frame) const; // with its newline

    struct SampleRef
    {
        int point;
        int sample;
    };

    DataPointDefinition m_def;
    QVector<DataPointSeries> m_series;
    QVector<int> m_recordOf; // series -> definition record
    std::vector<FrameEntry> m_frames;
    std::vector<SampleRef> m_frameSamples;
    std::vector<DataPointChange> m_changes;
    qint64 m_endId = 0;
};
