// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/framefieldmodel.h"

FrameFieldModel::FrameFieldModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

void FrameFieldModel::setFields(const QVector<FrameField> &fields)
{
    beginResetModel();
    m_fields = fields;
    endResetModel();
}

FrameField FrameFieldModel::field(int row) const
{
    return row >= 0 && row < m_fields.size() ? m_fields.at(row) : FrameField();
}

int FrameFieldModel::rowOfName(const QString &name) const
{
    for (int row = 0; row < m_fields.size(); ++row)
        if (m_fields.at(row).name == name)
            return row;
    return -1;
}

int FrameFieldModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size());
}

int FrameFieldModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FrameFieldModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_fields.size() || index.column() >= ColumnCount)
        return QVariant();
    const FrameField &f = m_fields.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == NameColumn ? f.name : f.value;
    case Qt::ToolTipRole:
        // A long value (a payload, boot text) is cut by the column.
        return index.column() == ValueColumn ? QVariant(f.value) : QVariant();
    case OffsetRole:
        return f.offset;
    case SizeRole:
        return f.size;
    default:
        return QVariant();
    }
}

QVariant FrameFieldModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NameColumn:
        return QStringLiteral("字段");
    case ValueColumn:
        return QStringLiteral("值");
    default:
        return QVariant();
    }
}
