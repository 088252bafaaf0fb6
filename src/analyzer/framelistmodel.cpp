#include "analyzer/framelistmodel.h"

FrameListModel::FrameListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int FrameListModel::rowCount(const QModelIndex &) const
{
    return 0;
}

int FrameListModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

QVariant FrameListModel::data(const QModelIndex &, int) const
{
    return QVariant();
}

QVariant FrameListModel::headerData(int, Qt::Orientation, int) const
{
    return QVariant();
}
