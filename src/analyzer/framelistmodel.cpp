// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/framelistmodel.h"

#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/lineevent.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

// The first bytes of a v4 frame, unescaped: enough for the command, the
// length and the action byte that pick a description.
QByteArray unescapedHead(const char *wire, quint32 size)
{
    constexpr quint32 headBytes = Frame::PayloadOffset + 2;
    return Frame::unescape(QByteArray::fromRawData(wire, int(std::min(size, headBytes * 2))))
        .left(int(headBytes));
}

// The byte at `offset` of the unescaped frame, read from its wire form
// without a copy; -1 past the end.
int unescapedByteAt(const char *wire, quint32 size, int offset)
{
    int at = 0;
    int found = -1;
    Frame::forEachUnescaped(wire, qsizetype(size), [&](quint8 b, bool) {
        if (at++ != offset)
            return true;
        found = b;
        return false;
    });
    return found;
}

// Descriptions differ by command, and for 03 by its action byte and for 04 by
// whether it is a plain acknowledgement: one slot per such variant.
int descriptionSlot(const FrameRecord &r, const char *wire)
{
    int variant = 0;
    if (r.command == Frame::code(Frame::Command::Status))
        variant = 1 + unescapedByteAt(wire, r.wireSize, Frame::ActionOffset);
    else if (r.command == Frame::code(Frame::Command::StatusReply))
        variant = r.lengthField == Frame::MinLength ? 1 : 2;
    return r.command * 512 + variant;
}

} // namespace

QString FrameListModel::csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

namespace {

QString milliseconds(qint64 us)
{
    return QString::number(double(us) / 1000.0, 'f', 3) + QStringLiteral(" ms");
}

} // namespace

FrameListModel::FrameListModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void FrameListModel::setDescriptionLookup(const ZemDescriber::Lookup &lookup)
{
    m_lookup = lookup;
    m_descriptions.clear();
    m_descriptionMatches.clear();
    if (rowCount() > 0)
        emit dataChanged(index(0, CommandColumn), index(rowCount() - 1, CommandColumn));
}

void FrameListModel::setUtc(bool utc)
{
    m_utc = utc;
    m_timePrefix.clear();
    if (rowCount() > 0)
        emit dataChanged(index(0, TimeColumn), index(rowCount() - 1, TimeColumn));
}

// ---- following the analyzer ----

void FrameListModel::reset(const FrameAnalyzer *analyzer)
{
    beginResetModel();
    m_analyzer = analyzer;
    m_first = analyzer ? analyzer->firstId() : 0;
    m_end = analyzer ? analyzer->endId() : 0;
    rebuild();
    endResetModel();
}

void FrameListModel::appendFrom(const FrameAnalyzer &analyzer)
{
    if (m_analyzer != &analyzer) {
        reset(&analyzer);
        return;
    }
    if (analyzer.firstId() > m_first)
        dropBefore(analyzer.firstId());

    const qint64 end = analyzer.endId();
    if (end <= m_end)
        return;
    if (!filtered()) {
        const int count = shownCount();
        beginInsertRows(QModelIndex(), count, count + int(end - m_end) - 1);
        m_end = end;
        endInsertRows();
        return;
    }
    std::vector<qint64> fresh;
    for (qint64 id = m_end; id < end; ++id) {
        if (matches(id))
            fresh.push_back(id);
    }
    m_end = end;
    if (fresh.empty())
        return;
    const int count = shownCount();
    beginInsertRows(QModelIndex(), count, count + int(fresh.size()) - 1);
    m_ids.insert(m_ids.end(), fresh.begin(), fresh.end());
    endInsertRows();
}

// The analyzer dropped its oldest block(s): the rows go, the rest keep their ids.
void FrameListModel::dropBefore(qint64 firstId)
{
    if (!filtered()) {
        const qint64 gone = std::min(firstId, m_end) - m_first;
        if (gone > 0) {
            beginRemoveRows(QModelIndex(), 0, int(gone) - 1);
            m_first = firstId;
            endRemoveRows();
        }
        m_first = firstId;
        m_end = std::max(m_end, firstId);
        return;
    }
    const auto from = m_ids.begin() + qsizetype(m_head);
    const size_t gone = size_t(std::lower_bound(from, m_ids.end(), firstId) - from);
    if (gone > 0) {
        beginRemoveRows(QModelIndex(), 0, int(gone) - 1);
        m_head += gone;
        endRemoveRows();
    }
    // Ids before m_head are dead; drop them once they are half the vector.
    if (m_head > m_ids.size() / 2) {
        m_ids.erase(m_ids.begin(), m_ids.begin() + qsizetype(m_head));
        m_head = 0;
    }
    m_first = firstId;
    m_end = std::max(m_end, firstId);
}

void FrameListModel::refreshIds(const QVector<qint64> &ids)
{
    if (!m_analyzer)
        return;
    int low = -1;
    int high = -1;
    auto flush = [&]() {
        if (low >= 0)
            emit dataChanged(index(low, 0), index(high, ColumnCount - 1));
        low = high = -1;
    };
    std::vector<qint64> newlyShown;
    std::vector<qint64> newlyHidden;
    for (const qint64 id : ids) {
        if (id < m_first || id >= m_end || !m_analyzer->contains(id))
            continue;
        const int row = rowOfId(id);
        if (row < 0) {
            // A row that now matches the filter (a request that ran out of time
            // under "problems only") joins the list.
            if (filtered() && matches(id))
                newlyShown.push_back(id);
            continue;
        }
        if (filtered() && !matches(id)) {
            // Its late answer came after all: no problem left to show.
            newlyHidden.push_back(id);
            continue;
        }
        if (row == high + 1 && low >= 0) {
            high = row;
        } else {
            flush();
            low = high = row;
        }
    }
    flush();

    for (const qint64 id : newlyHidden) {
        const int row = rowOfId(id);
        beginRemoveRows(QModelIndex(), row, row);
        m_ids.erase(m_ids.begin() + qsizetype(m_head) + row);
        endRemoveRows();
    }
    std::sort(newlyShown.begin(), newlyShown.end());
    for (const qint64 id : newlyShown) {
        const auto from = m_ids.begin() + qsizetype(m_head);
        const auto at = std::lower_bound(from, m_ids.end(), id);
        const int row = int(at - from);
        beginInsertRows(QModelIndex(), row, row);
        m_ids.insert(at, id);
        endInsertRows();
    }
}

// ---- the filter ----

void FrameListModel::setFilter(const Filter &filter)
{
    beginResetModel();
    m_filter = filter;
    m_filter.text = filter.text.trimmed();
    m_searchLower = m_filter.text.toLower();
    m_searchBytes.clear();
    m_descriptionMatches.clear();
    // A search made of hex digit pairs ("FF 55", "0d0b") also looks for those
    // bytes in the frames.
    static const QRegularExpression hexOnly(QStringLiteral("^([0-9A-Fa-f]{2}\\s*)+$"));
    if (hexOnly.match(m_filter.text).hasMatch())
        m_searchBytes = QByteArray::fromHex(m_filter.text.toLatin1());
    rebuild();
    endResetModel();
}

// One linear pass over the analyzer's rows.
void FrameListModel::rebuild()
{
    m_ids.clear();
    m_head = 0;
    if (!m_analyzer || !filtered())
        return;
    m_ids.reserve(size_t(std::min<qint64>(m_end - m_first, 1 << 20)));
    for (qint64 id = m_first; id < m_end; ++id) {
        if (matches(id))
            m_ids.push_back(id);
    }
}

bool FrameListModel::matches(qint64 id) const
{
    const FrameRecord &r = m_analyzer->record(id);
    if (m_filter.direction >= 0 && int(r.direction) != m_filter.direction)
        return false;
    if (m_filter.command >= 0 && (r.kind != SegmentKind::Frame4 || r.command != m_filter.command))
        return false;
    if (m_filter.problemsOnly && r.problems == 0)
        return false;
    return m_filter.text.isEmpty() || textMatches(id, r);
}

bool FrameListModel::textMatches(qint64 id, const FrameRecord &r) const
{
    const char *wire = m_analyzer->wireData(id);
    const QByteArray bytes = QByteArray::fromRawData(wire, int(r.wireSize));
    if (!m_searchBytes.isEmpty()) {
        if (bytes.contains(m_searchBytes))
            return true;
        // The unescaped frame differs from the wire only where FF 55 stands.
        if (r.kind == SegmentKind::Frame4 && bytes.contains("\xFF\x55")
            && Frame::unescape(bytes).contains(m_searchBytes))
            return true;
    }
    if (r.kind != SegmentKind::Frame4)
        return commandText(id).contains(m_filter.text, Qt::CaseInsensitive);
    if (r.command < 0)
        return false;

    const int slot = descriptionSlot(r, wire);
    auto known = m_descriptionMatches.constFind(slot);
    if (known == m_descriptionMatches.constEnd()) {
        const bool found = commandText(id).toLower().contains(m_searchLower);
        known = m_descriptionMatches.insert(slot, found);
    }
    return known.value();
}

// ---- rows and ids ----

int FrameListModel::shownCount() const
{
    if (!filtered())
        return int(m_end - m_first);
    return int(m_ids.size() - m_head);
}

qint64 FrameListModel::rowId(int row) const
{
    if (row < 0 || row >= shownCount())
        return -1;
    return filtered() ? m_ids[m_head + size_t(row)] : m_first + row;
}

int FrameListModel::rowOfId(qint64 id) const
{
    if (id < m_first || id >= m_end)
        return -1;
    if (!filtered())
        return int(id - m_first);
    const auto from = m_ids.begin() + qsizetype(m_head);
    const auto at = std::lower_bound(from, m_ids.end(), id);
    return at != m_ids.end() && *at == id ? int(at - from) : -1;
}

int FrameListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_analyzer ? 0 : shownCount();
}

int FrameListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

// ---- texts, built only when asked ----

QString FrameListModel::directionText(LineDirection direction)
{
    return direction == LineDirection::McuToModule ? QStringLiteral("MCU→模组")
                                                   : QStringLiteral("模组→MCU");
}

QString FrameListModel::problemName(int kind)
{
    switch (FrameProblem::bit(kind)) {
    case FrameProblem::BadChecksum:
        return QStringLiteral("校验和错误");
    case FrameProblem::Truncated:
        return QStringLiteral("长度不符");
    case FrameProblem::UnescapedFf:
        return QStringLiteral("FF未转义");
    case FrameProblem::NoReply:
        return QStringLiteral("无应答");
    case FrameProblem::UnexpectedReply:
        return QStringLiteral("无请求的应答");
    case FrameProblem::Retransmission:
        return QStringLiteral("重发");
    case FrameProblem::Noise:
        return QStringLiteral("帧外字节");
    default:
        return QString();
    }
}

QString FrameListModel::problemText(quint16 problems) const
{
    QStringList names;
    for (int kind = 0; kind < FrameProblem::KindCount; ++kind) {
        if (problems & FrameProblem::bit(kind))
            names.append(problemName(kind));
    }
    return names.join(QStringLiteral("、"));
}

QString FrameListModel::description(const QByteArray &frame) const
{
    if (!m_lookup)
        return QString();
    const QString key = ZemDescriber::descriptionKey(frame);
    if (key.isEmpty())
        return QString();
    auto it = m_descriptions.constFind(key);
    if (it == m_descriptions.constEnd())
        it = m_descriptions.insert(key, m_lookup(key));
    return it.value();
}

QString FrameListModel::commandText(qint64 id) const
{
    if (!m_analyzer || !m_analyzer->contains(id))
        return QString();
    const FrameRecord &r = m_analyzer->record(id);
    if (r.kind == SegmentKind::Frame3)
        return QStringLiteral("V3帧");
    if (r.kind == SegmentKind::Other)
        return otherText(id);
    if (r.kind == SegmentKind::Event)
        return QStringLiteral("事件：")
            + LineEvent::text(LineEvent::decode(m_analyzer->wireData(id), r.wireSize));
    if (r.command < 0)
        return QString();
    const QString code = QStringLiteral("0x") + SettingKeys::hexCode(r.command);
    const QString text = description(unescapedHead(m_analyzer->wireData(id), r.wireSize));
    return text.isEmpty() ? code : code + QLatin1Char(' ') + text;
}

// Other bytes as text: printable ASCII as it is, line ends as \r \n, anything
// else as a dot.
QString FrameListModel::otherText(qint64 id) const
{
    const FrameRecord &r = m_analyzer->record(id);
    const char *bytes = m_analyzer->wireData(id);
    QString text;
    text.reserve(int(r.wireSize));
    for (quint32 i = 0; i < r.wireSize; ++i) {
        const char c = bytes[i];
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\n')
            text += QStringLiteral("\\n");
        else if (c >= 0x20 && c < 0x7F)
            text += QLatin1Char(c);
        else
            text += QLatin1Char('.');
    }
    return text;
}

// Rows come in time order, many to a second: the local time of a second is
// worked out once (each conversion asks the C library, which looks at the
// system's zone file again), the fraction is only digits.
QString FrameListModel::timeText(qint64 timeUs) const
{
    const qint64 second = timeUs >= 0 ? timeUs / 1000000 : -((-timeUs + 999999) / 1000000);
    if (second != m_timeSecond || m_timePrefix.isEmpty()) {
        m_timeSecond = second;
        m_timePrefix
            = QDateTime::fromMSecsSinceEpoch(second * 1000, m_utc ? Qt::UTC : Qt::LocalTime)
                  .toString(QStringLiteral("HH:mm:ss."));
    }
    return m_timePrefix
        + QStringLiteral("%1").arg(int(timeUs - second * 1000000), 6, 10, QLatin1Char('0'));
}

QString FrameListModel::lengthText(qint64 id, const FrameRecord &r) const
{
    if (r.lengthField < 0)
        return QString();
    const QString field = QString::number(r.lengthField);
    if (!(r.problems & FrameProblem::Truncated))
        return field;
    // The length the bytes really have, for the same part of the frame.
    const qsizetype overhead = r.kind == SegmentKind::Frame3 ? 6 : Frame::LengthFieldOverhead;
    const qsizetype actual
        = (r.kind == SegmentKind::Frame4 ? m_analyzer->frame(id).size() : qsizetype(r.wireSize))
        - overhead;
    return QStringLiteral("%1≠%2").arg(field).arg(std::max<qsizetype>(actual, 0));
}

QString FrameListModel::checksumText(const FrameRecord &r) const
{
    if (r.kind != SegmentKind::Frame4)
        return QString();
    if (r.problems & FrameProblem::Truncated)
        return QStringLiteral("不完整");
    return r.problems & FrameProblem::BadChecksum ? QStringLiteral("错误") : QStringLiteral("正确");
}

QString FrameListModel::pairText(const FrameRecord &r) const
{
    const bool request = r.command > 0 && (r.command & 1) && r.kind == SegmentKind::Frame4;
    if (r.pairId < 0)
        return request && (r.problems & FrameProblem::NoReply) ? QStringLiteral("无应答")
                                                               : QString();
    return QStringLiteral("%1 #%2 %3")
        .arg(request ? QStringLiteral("应答") : QStringLiteral("请求"))
        .arg(r.pairId)
        .arg(milliseconds(r.latencyUs));
}

QString FrameListModel::cellText(int row, int column) const
{
    const qint64 id = rowId(row);
    if (id < 0 || !m_analyzer->contains(id))
        return QString();
    const FrameRecord &r = m_analyzer->record(id);
    switch (column) {
    case NumberColumn:
        return QString::number(id);
    case TimeColumn:
        return timeText(r.timeUs);
    case RelativeColumn: {
        const qint64 previous = rowId(row - 1);
        if (previous < 0 || !m_analyzer->contains(previous))
            return QString();
        const qint64 delta = r.timeUs - m_analyzer->record(previous).timeUs;
        return (delta < 0 ? QStringLiteral("-") : QStringLiteral("+"))
            + QString::number(double(std::abs(delta)) / 1e6, 'f', 6);
    }
    case DirectionColumn:
        return directionText(r.direction);
    case CommandColumn:
        return commandText(id);
    case SequenceColumn:
        return r.sequence < 0 || r.kind != SegmentKind::Frame4 ? QString()
                                                               : SettingKeys::hexCode(r.sequence);
    case LengthColumn:
        return lengthText(id, r);
    case ChecksumColumn:
        return checksumText(r);
    case PairColumn:
        return pairText(r);
    case ProblemColumn:
        return problemText(r.problems);
    default:
        return QString();
    }
}

QVariant FrameListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_analyzer || index.row() >= shownCount())
        return QVariant();
    const qint64 id = rowId(index.row());
    if (!m_analyzer->contains(id))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case Qt::ToolTipRole:
        if (index.column() == CommandColumn || index.column() == ProblemColumn)
            return cellText(index.row(), index.column());
        if (index.column() == PairColumn && m_analyzer->record(id).pairId >= 0)
            return QStringLiteral("双击或按回车跳到 #%1").arg(m_analyzer->record(id).pairId);
        return QVariant();
    case IdRole:
        return id;
    case WireRole:
        return m_analyzer->wire(id);
    case FrameRole:
        return m_analyzer->frame(id);
    case ProblemsRole:
        return int(m_analyzer->record(id).problems);
    case KindRole:
        return int(m_analyzer->record(id).kind);
    case DirectionRole:
        return int(m_analyzer->record(id).direction);
    case PairIdRole:
        return m_analyzer->record(id).pairId;
    default:
        return QVariant();
    }
}

QVariant FrameListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return rowId(section); // rows are numbered by id: "#id" in the pairing column
    static const char *const titles[ColumnCount]
        = {"编号", "时间", "间隔(s)", "方向", "命令", "序号", "长度", "校验和", "配对", "问题"};
    if (section < 0 || section >= ColumnCount)
        return QVariant();
    return QString::fromUtf8(titles[section]);
}

// ---- copy and export ----

QString FrameListModel::rowText(int row) const
{
    QStringList cells;
    for (int column = 0; column < ColumnCount; ++column)
        cells.append(cellText(row, column));
    return cells.join(QLatin1Char('\t'));
}

QString FrameListModel::rowsText(const QVector<int> &rows) const
{
    QStringList lines;
    for (const int row : rows)
        lines.append(rowText(row));
    return lines.join(QLatin1Char('\n'));
}

QString FrameListModel::rowsHex(const QVector<int> &rows) const
{
    QStringList lines;
    for (const int row : rows) {
        const qint64 id = rowId(row);
        if (id >= 0)
            lines.append(ZemTool::hexText(m_analyzer->wire(id)).trimmed());
    }
    return lines.join(QLatin1Char('\n'));
}

QString FrameListModel::csvHeader() const
{
    // 编号 leads the line, then the columns after it, then the bytes.
    QStringList header;
    for (int column = NumberColumn; column < ColumnCount; ++column)
        header.append(headerData(column, Qt::Horizontal).toString());
    header.append(QStringLiteral("字节"));
    return header.join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString FrameListModel::csvLine(int row) const
{
    const qint64 id = rowId(row);
    QString line = QString::number(id);
    for (int column = NumberColumn + 1; column < ColumnCount; ++column)
        line += QLatin1Char(',') + FrameListModel::csvField(cellText(row, column));
    line += QLatin1Char(',') + ZemTool::hexText(m_analyzer->wire(id)).trimmed();
    return line + QLatin1Char('\n');
}

QString FrameListModel::toCsv() const
{
    QString csv = csvHeader();
    const int rows = rowCount();
    for (int row = 0; row < rows; ++row)
        csv += csvLine(row);
    return csv;
}

bool FrameListModel::writeCsv(QIODevice *device) const
{
    // A line at a time: a list of a million rows never becomes one text.
    if (device->write(csvHeader().toUtf8()) < 0)
        return false;
    const int rows = rowCount();
    for (int row = 0; row < rows; ++row) {
        if (device->write(csvLine(row).toUtf8()) < 0)
            return false;
    }
    return true;
}

bool FrameListModel::writeCsv(const QString &path, QString *error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = QStringLiteral("无法写入文件 %1：%2").arg(path, file.errorString());
        return false;
    }
    // With the byte order mark, spreadsheet programs read the Chinese
    // headers as UTF-8.
    const bool ok = file.write("\xEF\xBB\xBF") == 3 && writeCsv(&file) && file.flush();
    if (!ok && error)
        *error = QStringLiteral("无法写入文件 %1：%2").arg(path, file.errorString());
    return ok;
}
