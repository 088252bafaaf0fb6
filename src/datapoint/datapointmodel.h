// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointvalues.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QVector>

// The data-point values of the simulated device as a table: one row per
// record of the definition, its display name in column 0 and its value in
// column 1. The values are the truth and the model is the one way a view
// reads and writes them: a report is built from values(), and an edit goes
// in through setData().
//
// Column 1 gives the value as a number (a number, or the index of an enum's
// label) or as hex text (binary) for EditRole, the label for DisplayRole of
// an enum; the roles below tell an editor what the value may be. Column 0's
// BackgroundRole marks the row: grey for a read-only, alert or fault data
// point, and after each control frame white for the writable rows and
// amber for the rows the frame set. The core knows no colour type, so the
// colour is given as its name ("#rrggbb"); a row without a mark gives none.
class DataPointModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { NameColumn, ValueColumn, ColumnCount };
    enum Role {
        KindRole = Qt::UserRole + 1, // int(DataPointValues::Kind)
        MinimumRole,                 // range of a number
        MaximumRole,
        LabelsRole,       // QStringList of an enum
        MaxHexDigitsRole, // hex digits a binary value holds
    };
    static constexpr const char *ReadonlyColor = "#dddddd";
    static constexpr const char *ChangedColor = "#fcde9c";
    static constexpr const char *ClearedColor = "#ffffff";

    explicit DataPointModel(QObject *parent = nullptr);

    const DataPointValues &values() const { return m_values; }
    // Takes other values (a new definition): the model is reset, no row is
    // marked but the grey ones.
    void setValues(const DataPointValues &values);
    // Sets the values one control frame (command 03, action 01) carries and
    // marks the rows (see above); returns the rows it names, in name order.
    QVector<int> applyControl(const QByteArray &frame);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // Column 1, EditRole: a number for a number or an enum, hex text for
    // binary, kept within the value's limits. A value equal to the one held
    // is no change and says nothing.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    // A value was changed through setData (an edit, not a control frame),
    // after its dataChanged.
    void edited(int row);

private:
    enum class Mark { None, Readonly, Changed, Cleared };
    QVariant valueData(int row, int role) const;

    DataPointValues m_values;
    QVector<Mark> m_marks;
};
