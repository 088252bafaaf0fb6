// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/datapointtable.h"

#include "datapoint/datapointtext.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableWidget>

namespace DataPointTable {

namespace {

    bool isGreyClass(const QString &type)
    {
        return type == DataPointText::Readonly || type == DataPointText::Alert
            || type == DataPointText::Fault;
    }

    QWidget *makeEditor(const DataPointValues &values, int row, QWidget *parent)
    {
        switch (values.kind(row)) {
        case DataPointValues::Kind::Number: {
            auto *spin = new QSpinBox(parent);
            spin->setRange(values.minimum(row), values.maximum(row));
            spin->setValue(values.number(row));
            return spin;
        }
        case DataPointValues::Kind::Choice: {
            auto *combo = new QComboBox(parent);
            combo->addItems(values.labels(row));
            combo->setCurrentIndex(values.number(row));
            return combo;
        }
        case DataPointValues::Kind::Bytes: {
            auto *edit = new QLineEdit(parent);
            edit->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QStringLiteral("[a-fA-F0-9]+$")), edit));
            edit->setMaxLength(values.maxHexDigits(row));
            edit->setText(values.hexText(row));
            return edit;
        }
        case DataPointValues::Kind::None:
            break;
        }
        return nullptr;
    }

    // Puts the value of one row into its editor, which keeps quiet about it:
    // the value came from the values, not from the user.
    void showValue(QTableWidget *table, const DataPointValues &values, int row)
    {
        QWidget *editor = table->cellWidget(row, 1);
        const QSignalBlocker quiet(editor);
        if (auto *spin = qobject_cast<QSpinBox *>(editor))
            spin->setValue(values.number(row));
        else if (auto *combo = qobject_cast<QComboBox *>(editor))
            combo->setCurrentIndex(values.number(row));
        else if (auto *edit = qobject_cast<QLineEdit *>(editor))
            edit->setText(values.hexText(row));
    }

} // namespace

void rebuild(QTableWidget *table, const DataPointValues &values, QWidget *editorParent)
{
    table->clear();
    table->setRowCount(0); // drops the old editors with their rows
    const QList<json_struct> &records = values.definition().records();
    table->setRowCount(records.size());
    table->setColumnCount(2);
    // clear() drops the header items as well.
    table->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("值")});
    table->setColumnWidth(0, NameColumnWidth);

    for (int row = 0; row < records.size(); ++row) {
        const json_struct &r = records.at(row);
        auto *name = new QTableWidgetItem(r.display_name);
        // The name is the key the report looks the value up by: not editable.
        name->setFlags(name->flags() & ~Qt::ItemIsEditable);
        if (isGreyClass(r.type))
            name->setBackground(readonlyColor());
        table->setItem(row, 0, name);

        table->setItem(row, 1, new QTableWidgetItem());
        if (QWidget *editor = makeEditor(values, row, editorParent))
            table->setCellWidget(row, 1, editor);
    }
}

void connectEditors(QTableWidget *table, DataPointValues *values, QObject *receiver,
                    const std::function<void(int row)> &changed)
{
    for (int row = 0; row < table->rowCount() && row < values->count(); ++row) {
        QWidget *editor = table->cellWidget(row, 1);
        if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
            QObject::connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), receiver,
                             [values, changed, row](int value) {
                                 values->setNumber(row, value);
                                 changed(row);
                             });
        } else if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            QObject::connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), receiver,
                             [values, changed, row](int index) {
                                 values->setNumber(row, index);
                                 changed(row);
                             });
        } else if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
            QObject::connect(edit, &QLineEdit::textChanged, receiver,
                             [values, changed, row](const QString &text) {
                                 values->setHexText(row, text);
                                 changed(row);
                             });
        }
    }
}

void showControl(QTableWidget *table, const DataPointValues &values, const QVector<int> &rows)
{
    const int shown = qMin(table->rowCount(), values.count());
    const int writable = qMin(values.definition().writableCount(), shown);
    for (int row = 0; row < writable; ++row)
        if (QTableWidgetItem *item = table->item(row, 0))
            item->setBackground(clearedColor());
    for (int row : rows) {
        if (row < 0 || row >= shown)
            continue;
        if (QTableWidgetItem *item = table->item(row, 0))
            item->setBackground(changedColor());
        showValue(table, values, row);
    }
}

void applyControlFrame(QTableWidget *table, DataPointValues &values, const QByteArray &frame)
{
    showControl(table, values, values.applyControl(frame));
}

} // namespace DataPointTable
