// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointmodel.h"

#include <QColor>

class DataPointDelegate;
class QTableWidget;

// The data-point table of the simulated-MCU tab: a QTableWidget kept in step
// with a DataPointModel. One row per data point, its display name in column 0
// (an item, not editable, coloured as the model marks the row) and over
// column 1 (an empty item) a persistent editor of the DataPointDelegate, so
// that cellWidget(row, 1) is the row's editor. The widget's items hold no
// value: the model does, and a report is built from the values alone.
//
// A "uint32" value above 2147483647 does not fit a spin box: definition bounds
// are clamped to the int range when parsed, and a control value above it is
// clamped to 2147483647 (then to the editor's range).
namespace DataPointTable {

inline QColor readonlyColor()
{
    return QColor(QLatin1String(DataPointModel::ReadonlyColor));
}
inline QColor changedColor()
{
    return QColor(QLatin1String(DataPointModel::ChangedColor));
}
inline QColor clearedColor()
{
    return QColor(QLatin1String(DataPointModel::ClearedColor));
}
constexpr int NameColumnWidth = 220;

// Shows `model` in `table` from now on: rebuilt at once and on each reset of
// the model (new editors, the old ones dropped with their rows), colours and
// editors updated on each dataChanged. The delegate is the table's.
DataPointDelegate *bind(QTableWidget *table, DataPointModel *model);

} // namespace DataPointTable
