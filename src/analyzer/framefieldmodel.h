// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analyzer/framefields.h"

#include <QAbstractTableModel>
#include <QVector>

// The detail pane of the analyzer: the fields of one frame (frameFields()),
// a row each, with two columns, "字段" (the name) and "值" (the value).
// Each row also gives where the field's bytes lie in the unescaped frame
// (OffsetRole, SizeRole on either column), so the bytes pane can mark them;
// a remark on the whole frame has offset -1 and size 0.
class FrameFieldModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { NameColumn, ValueColumn, ColumnCount };
    enum Role { OffsetRole = Qt::UserRole, SizeRole };

    explicit FrameFieldModel(QObject *parent = nullptr);

    // Shows `fields` in place of what was shown (a model reset).
    void setFields(const QVector<FrameField> &fields);
    void clear() { setFields({}); }
    const QVector<FrameField> &fields() const { return m_fields; }
    // The field of `row`, or an empty one (offset -1) outside the rows.
    FrameField field(int row) const;
    // The first row whose name is `name`, or -1.
    int rowOfName(const QString &name) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QVector<FrameField> m_fields;
};
