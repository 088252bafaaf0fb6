// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>

class DataPointHistory;

// The changes of a DataPointHistory as a table: time, data point,
// "old → new" and the frame that carried the new value. The rows are the
// history's own change list, read as they are shown, so a capture's hundred
// thousand changes cost no memory here; a live history that grew is caught
// up with sync().
class DataPointChangeModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TimeColumn, PointColumn, ChangeColumn, FrameColumn, ColumnCount };
    enum Role { FrameIdRole = Qt::UserRole + 1, TimeUsRole };

    explicit DataPointChangeModel(QObject *parent = nullptr);

    // The history shown (may be null); it must outlive the model or be
    // replaced first.
    void setHistory(const DataPointHistory *history);
    const DataPointHistory *history() const { return m_history; }
    // The history gained changes, or was cleared.
    void sync();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // "HH:mm:ss.uuuuuu" in local time, as the frame list shows times.
    static QString timeText(qint64 timeUs);

private:
    const DataPointHistory *m_history = nullptr;
    int m_rows = 0;
};
