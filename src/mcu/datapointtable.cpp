// SPDX-License-Identifier: GPL-3.0-or-later
#include "mcu/datapointtable.h"

#include "mcu/datapointdelegate.h"

#include <QTableWidget>

namespace DataPointTable {

namespace {

    void showMark(QTableWidgetItem *name, const DataPointModel *model, int row)
    {
        const QVariant colour
            = model->index(row, DataPointModel::NameColumn).data(Qt::BackgroundRole);
        if (colour.isValid())
            name->setBackground(QColor(colour.toString()));
        else
            name->setData(Qt::BackgroundRole, QVariant());
    }

    void rebuild(QTableWidget *table, const DataPointModel *model)
    {
        table->clear();
        table->setRowCount(0); // drops the old editors with their rows
        const int rows = model->rowCount();
        table->setRowCount(rows);
        table->setColumnCount(DataPointModel::ColumnCount);
        // clear() drops the header items as well.
        table->setHorizontalHeaderLabels(
            {model->headerData(DataPointModel::NameColumn, Qt::Horizontal).toString(),
             model->headerData(DataPointModel::ValueColumn, Qt::Horizontal).toString()});
        table->setColumnWidth(DataPointModel::NameColumn, NameColumnWidth);

        for (int row = 0; row < rows; ++row) {
            auto *name = new QTableWidgetItem(
                model->index(row, DataPointModel::NameColumn).data().toString());
            // The name is the key the report looks the value up by: not editable.
            name->setFlags(name->flags() & ~Qt::ItemIsEditable);
            showMark(name, model, row);
            table->setItem(row, DataPointModel::NameColumn, name);

            auto *value = new QTableWidgetItem();
            table->setItem(row, DataPointModel::ValueColumn, value);
            if (model->index(row, DataPointModel::ValueColumn).flags() & Qt::ItemIsEditable)
                table->openPersistentEditor(value);
        }
    }

    void showRows(QTableWidget *table, const DataPointModel *model, DataPointDelegate *delegate,
                  int first, int last, const QVector<int> &roles)
    {
        const bool values
            = roles.isEmpty() || roles.contains(Qt::EditRole) || roles.contains(Qt::DisplayRole);
        const bool marks = roles.isEmpty() || roles.contains(Qt::BackgroundRole);
        last = qMin(last, qMin(table->rowCount(), model->rowCount()) - 1);
        for (int row = qMax(first, 0); row <= last; ++row) {
            QTableWidgetItem *name = table->item(row, DataPointModel::NameColumn);
            if (marks && name)
                showMark(name, model, row);
            QWidget *editor = table->cellWidget(row, DataPointModel::ValueColumn);
            if (values && editor)
                delegate->setEditorData(editor,
                                        table->model()->index(row, DataPointModel::ValueColumn));
        }
    }

} // namespace

DataPointDelegate *bind(QTableWidget *table, DataPointModel *model)
{
    auto *delegate = new DataPointDelegate(model, table);
    table->setItemDelegateForColumn(DataPointModel::ValueColumn, delegate);
    QObject::connect(model, &QAbstractItemModel::modelReset, table,
                     [table, model] { rebuild(table, model); });
    QObject::connect(model, &QAbstractItemModel::dataChanged, table,
                     [table, model, delegate](const QModelIndex &topLeft,
                                              const QModelIndex &bottomRight,
                                              const QVector<int> &roles) {
                         showRows(table, model, delegate, topLeft.row(), bottomRight.row(), roles);
                     });
    rebuild(table, model);
    return delegate;
}

} // namespace DataPointTable
