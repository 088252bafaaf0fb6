#pragma once

#include "datapoint/json_struct.h"

#include <QByteArray>
#include <QColor>
#include <QList>

class QTableWidget;
class QWidget;
class ZemJson;

// The data-point table: one row per data point, its display name in column 0
// and an editor for its value over column 1. The user's values become the
// status report; a control frame from the module writes its values into the
// editors and marks the rows it set.
//
// Editors by data type: "bool" a spin box 0..1, "enum" a combo box of the
// labels (item i for value i), "uint8"/"uint16"/"uint32" a spin box over
// min..max, "binary" a line edit taking up to two hex digits per byte (at
// most 32766 digits, QLineEdit's limit kept to whole bytes); any other type
// gets no editor and contributes nothing to the report.
//
// A "uint32" value above 2147483647 does not fit a spin box: definition bounds
// are clamped to the int range when parsed, and a control value above it is
// clamped to 2147483647 (then to the spin box's range).
namespace DataPointTable {

inline QColor readonlyColor() { return QColor(221, 221, 221); }
inline QColor changedColor() { return QColor(252, 222, 156); }
inline QColor clearedColor() { return QColor(255, 255, 255); }
constexpr int NameColumnWidth = 220;

// Rebuilds the table from nothing: values typed before are lost. Editors are
// created with editorParent (the window) as parent and then owned by the
// table.
void rebuild(QTableWidget *table, const QList<json_struct> &records, QWidget *editorParent);

// The complete, unescaped status report (command 05) with the table's values
// and a valid checksum.
QByteArray buildStatusReport(QTableWidget *table, const ZemJson *json);

// Shows the values that one control frame (command 03, action 01) sets: the
// writable rows are first reset to white, then each row set is coloured and
// its editor gets the value.
void applyControlFrame(QTableWidget *table, const ZemJson *json, const QByteArray &frame);

// Appends FF bytes until the frame from offset 4 on is as long as its length
// field says; a frame already that long (or longer) is left alone.
void padToLength(QByteArray &frame);

// The text of a binary editor as the report carries it: right-padded with
// "0" to maxLength (and to an even digit count), then read as hex.
QByteArray binaryEditorBytes(const QString &text, int maxLength);

} // namespace DataPointTable
