// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/datapointmodel.h"

#include "datapoint/datapointtext.h"

namespace {

bool isGreyClass(const QString &type)
{
    return type == DataPointText::Readonly || type == DataPointText::Alert
        || type == DataPointText::Fault;
}

} // namespace

DataPointModel::DataPointModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void DataPointModel::setValues(const DataPointValues &values)
{
    beginResetModel();
    m_values = values;
    const QList<json_struct> &records = m_values.definition().records();
    m_marks.fill(Mark::None, records.size());
    for (int row = 0; row < records.size(); ++row)
        if (isGreyClass(records.at(row).type))
            m_marks[row] = Mark::Readonly;
    endResetModel();
}

QVector<int> DataPointModel::applyControl(const QByteArray &frame)
{
    const QVector<int> rows = m_values.applyControl(frame);
    // Only the last frame's rows stay marked: the writable rows go white.
    const int writable = qMin(m_values.definition().writableCount(), rowCount());
    for (int row = 0; row < writable; ++row)
        m_marks[row] = Mark::Cleared;
    for (int row : rows)
        if (row >= 0 && row < rowCount())
            m_marks[row] = Mark::Changed;
    if (writable > 0)
        emit dataChanged(index(0, NameColumn), index(writable - 1, NameColumn),
                         {Qt::BackgroundRole});
    for (int row : rows)
        if (row >= 0 && row < rowCount())
            emit dataChanged(index(row, NameColumn), index(row, ValueColumn));
    return rows;
}

int DataPointModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_values.count();
}

int DataPointModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DataPointModel::valueData(int row, int role) const
{
    using Kind = DataPointValues::Kind;
    const Kind kind = m_values.kind(row);
    switch (role) {
    case Qt::DisplayRole:
        if (kind == Kind::Choice)
            return m_values.labels(row).value(m_values.number(row));
        Q_FALLTHROUGH();
    case Qt::EditRole:
        if (kind == Kind::Number || kind == Kind::Choice)
            return m_values.number(row);
        if (kind == Kind::Bytes)
            return m_values.hexText(row);
        return QVariant();
    case MinimumRole:
        return m_values.minimum(row);
    case MaximumRole:
        return m_values.maximum(row);
    case LabelsRole:
        return m_values.labels(row);
    case MaxHexDigitsRole:
        return m_values.maxHexDigits(row);
    default:
        return QVariant();
    }
}

QVariant DataPointModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    const int row = index.row();
    if (role == KindRole)
        return int(m_values.kind(row));
    if (index.column() == ValueColumn)
        return valueData(row, role);

    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_values.definition().records().at(row).display_name;
    case Qt::BackgroundRole:
        switch (m_marks.at(row)) {
        case Mark::Readonly:
            return QString::fromLatin1(ReadonlyColor);
        case Mark::Changed:
            return QString::fromLatin1(ChangedColor);
        case Mark::Cleared:
            return QString::fromLatin1(ClearedColor);
        case Mark::None:
            break;
        }
        break;
    default:
        break;
    }
    return QVariant();
}

bool DataPointModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || index.column() != ValueColumn
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const int row = index.row();
    const QVariant before = data(index, Qt::EditRole);
    switch (m_values.kind(row)) {
    case DataPointValues::Kind::Number:
    case DataPointValues::Kind::Choice:
        m_values.setNumber(row, value.toInt());
        break;
    case DataPointValues::Kind::Bytes:
        m_values.setHexText(row, value.toString());
        break;
    case DataPointValues::Kind::None:
        return false;
    }
    if (data(index, Qt::EditRole) != before) {
        emit dataChanged(index, index);
        emit edited(row);
    }
    return true;
}

Qt::ItemFlags DataPointModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == ValueColumn && m_values.kind(index.row()) != DataPointValues::Kind::None)
        f |= Qt::ItemIsEditable;
    return f;
}

QVariant DataPointModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == NameColumn)
        return QStringLiteral("名称");
    if (section == ValueColumn)
        return QStringLiteral("值");
    return QVariant();
}
