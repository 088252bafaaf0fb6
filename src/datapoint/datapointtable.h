// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointvalues.h"

#include <QByteArray>
#include <QColor>
#include <QVector>

#include <functional>

class QObject;
class QTableWidget;
class QWidget;

// The data-point table: one row per data point, its display name in column 0
// and an editor for its value over column 1. It shows a DataPointValues and
// nothing more. The values are the truth: each edit of the user goes into
// them at once (connectEditors), so a report is built from the values alone,
// and the values a control frame set are shown in the editors, whose rows
// are marked (showControl).
//
// Editors by kind of value: a number a spin box over its range, a choice a
// combo box of the labels (item i for value i), bytes a line edit taking up
// to two hex digits per byte; a value of no kind gets no editor.
//
// A "uint32" value above 2147483647 does not fit a spin box: definition bounds
// are clamped to the int range when parsed, and a control value above it is
// clamped to 2147483647 (then to the editor's range).
namespace DataPointTable {

inline QColor readonlyColor()
{
    return QColor(221, 221, 221);
}
inline QColor changedColor()
{
    return QColor(252, 222, 156);
}
inline QColor clearedColor()
{
    return QColor(255, 255, 255);
}
constexpr int NameColumnWidth = 220;

// Rebuilds the table from nothing for these values, editors showing them.
// Editors are created with editorParent (the window) as parent and then
// owned by the table.
void rebuild(QTableWidget *table, const DataPointValues &values, QWidget *editorParent);

// From now on writes each edit of the user into row `row` of `*values` and
// then calls `changed(row)` (in the context of `receiver`). Call it after
// rebuild(): the values the editors start with are no change. `values` must
// outlive the editors (rebuild drops them).
void connectEditors(QTableWidget *table, DataPointValues *values, QObject *receiver,
                    const std::function<void(int row)> &changed);

// Shows what one control frame did to the values: the writable rows are
// first reset to white, then each row it named (`rows`, as
// DataPointValues::applyControl gives them) is coloured and its editor shows
// the value. The editors say nothing of it (no `changed`).
void showControl(QTableWidget *table, const DataPointValues &values, const QVector<int> &rows);

// Applies one control frame (command 03, action 01) to the values and shows
// it (see showControl).
void applyControlFrame(QTableWidget *table, DataPointValues &values, const QByteArray &frame);

} // namespace DataPointTable
