// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

class DataPointModel;

// Editors for the values of a DataPointModel, by kind of value: a number a
// spin box over its range, a choice a combo box of the labels (item i for
// value i), bytes a line edit taking up to two hex digits per byte; a value
// of no kind gets no editor.
//
// The delegate reads from and writes into its DataPointModel by row, whatever
// model the view it serves has (a QTableWidget keeps items of its own, which
// hold no value). Each change the user makes goes into the model at once, not
// when the editor closes: the editors are persistent and a report may be
// built at any moment.
class DataPointDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    DataPointDelegate(DataPointModel *model, QObject *parent = nullptr);

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    // Shows the model's value without a word from the editor: the value came
    // from the model, not from the user.
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    // Writes the editor's value into the delegate's model (`model` is the
    // view's and is not written).
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;

private:
    QModelIndex valueIndex(int row) const;
    void commit(QWidget *editor, int row) const;

    QPointer<DataPointModel> m_model;
};
