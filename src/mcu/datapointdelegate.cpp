// SPDX-License-Identifier: GPL-3.0-or-later
#include "mcu/datapointdelegate.h"

#include "datapoint/datapointmodel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSpinBox>

DataPointDelegate::DataPointDelegate(DataPointModel *model, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_model(model)
{ }

QModelIndex DataPointDelegate::valueIndex(int row) const
{
    return m_model ? m_model->index(row, DataPointModel::ValueColumn) : QModelIndex();
}

void DataPointDelegate::commit(QWidget *editor, int row) const
{
    if (m_model)
        setModelData(editor, m_model, valueIndex(row));
}

QWidget *DataPointDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                         const QModelIndex &index) const
{
    const QModelIndex value = valueIndex(index.row());
    if (!value.isValid())
        return nullptr;
    const int row = index.row();
    QWidget *editor = nullptr;
    switch (DataPointValues::Kind(value.data(DataPointModel::KindRole).toInt())) {
    case DataPointValues::Kind::Number: {
        auto *spin = new QSpinBox(parent);
        spin->setRange(value.data(DataPointModel::MinimumRole).toInt(),
                       value.data(DataPointModel::MaximumRole).toInt());
        connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), spin,
                [this, spin, row] { commit(spin, row); });
        editor = spin;
        break;
    }
    case DataPointValues::Kind::Choice: {
        auto *combo = new QComboBox(parent);
        combo->addItems(value.data(DataPointModel::LabelsRole).toStringList());
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), combo,
                [this, combo, row] { commit(combo, row); });
        editor = combo;
        break;
    }
    case DataPointValues::Kind::Bytes: {
        auto *edit = new QLineEdit(parent);
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[a-fA-F0-9]+$")), edit));
        edit->setMaxLength(value.data(DataPointModel::MaxHexDigitsRole).toInt());
        // Every change of the text, as typed or pasted or set by a tool.
        connect(edit, &QLineEdit::textChanged, edit, [this, edit, row] { commit(edit, row); });
        editor = edit;
        break;
    }
    case DataPointValues::Kind::None:
        break;
    }
    if (editor)
        setEditorData(editor, index);
    return editor;
}

void DataPointDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    const QVariant value = valueIndex(index.row()).data(Qt::EditRole);
    if (!value.isValid())
        return;
    const QSignalBlocker quiet(editor);
    if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
        spin->setValue(value.toInt());
    } else if (auto *combo = qobject_cast<QComboBox *>(editor)) {
        combo->setCurrentIndex(value.toInt());
    } else if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
        // Setting the same text again would move the cursor of a user
        // typing in the middle of it.
        if (edit->text() != value.toString())
            edit->setText(value.toString());
    }
}

void DataPointDelegate::setModelData(QWidget *editor, QAbstractItemModel *,
                                     const QModelIndex &index) const
{
    const QModelIndex value = valueIndex(index.row());
    if (!value.isValid())
        return;
    if (auto *spin = qobject_cast<QSpinBox *>(editor))
        m_model->setData(value, spin->value());
    else if (auto *combo = qobject_cast<QComboBox *>(editor))
        m_model->setData(value, combo->currentIndex());
    else if (auto *edit = qobject_cast<QLineEdit *>(editor))
        m_model->setData(value, edit->text());
}
