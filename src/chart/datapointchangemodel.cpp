// SPDX-License-Identifier: GPL-3.0-or-later
#include "chart/datapointchangemodel.h"

#include "analyzer/datapointhistory.h"

#include <QDateTime>

DataPointChangeModel::DataPointChangeModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void DataPointChangeModel::setHistory(const DataPointHistory *history)
{
    beginResetModel();
    m_history = history;
    m_rows = history ? history->changeCount() : 0;
    endResetModel();
}

void DataPointChangeModel::sync()
{
    const int now = m_history ? m_history->changeCount() : 0;
    if (now == m_rows)
        return;
    if (now < m_rows) {
        beginResetModel();
        m_rows = now;
        endResetModel();
        return;
    }
    beginInsertRows(QModelIndex(), m_rows, now - 1);
    m_rows = now;
    endInsertRows();
}

int DataPointChangeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataPointChangeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DataPointChangeModel::timeText(qint64 timeUs)
{
    const qint64 second = timeUs >= 0 ? timeUs / 1000000 : -((-timeUs + 999999) / 1000000);
    return QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss."))
        + QStringLiteral("%1").arg(int(timeUs - second * 1000000), 6, 10, QLatin1Char('0'));
}

QVariant DataPointChangeModel::data(const QModelIndex &index, int role) const
{
    if (!m_history || !index.isValid() || index.row() >= m_rows
        || index.row() >= m_history->changeCount())
        return QVariant();
    const DataPointChange &change = m_history->change(index.row());
    const DataPointSeries &series = m_history->series(change.point);
    if (role == FrameIdRole)
        return series.frameId(change.sample);
    if (role == TimeUsRole)
        return series.timeUs(change.sample);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    switch (index.column()) {
    case TimeColumn:
        return timeText(series.timeUs(change.sample));
    case PointColumn:
        return series.name;
    case ChangeColumn:
        return (change.previous >= 0 ? series.text(change.previous) : QStringLiteral("—"))
            + QStringLiteral(" → ") + series.text(change.sample);
    case FrameColumn:
        return QStringLiteral("#%1").arg(series.frameId(change.sample));
    default:
        return QVariant();
    }
}

QVariant DataPointChangeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case TimeColumn:
        return QStringLiteral("时间");
    case PointColumn:
        return QStringLiteral("数据点");
    case ChangeColumn:
        return QStringLiteral("旧值 → 新值");
    case FrameColumn:
        return QStringLiteral("帧");
    default:
        return QVariant();
    }
}
