// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointvalues.h"

#include <QByteArray>
#include <QColor>

#include <functional>

class QObject;
class QTableWidget;
class QWidget;

// The data-point table: one row per data point, its display name in column 0
// and an editor for its value over column 1. It shows a DataPointValues and
// nothing more: the user's values go into it before a report is built from
// it, and the values a control frame sets come out of it into the editors,
// whose rows are marked.
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

// Calls `changed` (in the context of `receiver`) whenever an editor's value
// changes, by the user's hand or by a control frame. Call it after rebuild():
// the values the editors start with are no change.
void watchEditors(QTableWidget *table, QObject *receiver, const std::function<void()> &changed);

// Puts what the editors hold into the values.
void readEditors(const QTableWidget *table, DataPointValues &values);

// The complete, unescaped status report (command 05) with the editors'
// values and a valid checksum.
QByteArray buildStatusReport(const QTableWidget *table, DataPointValues &values);

// Shows the values that one control frame (command 03, action 01) sets: the
// writable rows are first reset to white, then each row set is coloured and
// its editor gets the value.
void applyControlFrame(QTableWidget *table, DataPointValues &values, const QByteArray &frame);

} // namespace DataPointTable
