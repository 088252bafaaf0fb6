// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The values of a product's data points as the simulated device holds them:
// one value per record of the definition, in its order. The status report is
// built from them, and a control frame from the module sets them. A window
// shows them in editors; a test or a headless program uses them as they are.
//
// Each record's value is held as its editor would hold it, with the same
// limits, so that a device without a window reports exactly what one with a
// window would:
// - "bool": a number 0..1; "uint8"/"uint16"/"uint32": a number within the
//   definition's min..max (a range with min above max collapses onto min);
//   a number set outside its range is clamped, a value above the int range
//   to the int range first;
// - "enum": the index of the chosen label, -1 while there are no labels; a
//   control value that names no label leaves the choice as it was;
// - "binary": hex text of at most two digits a byte (and at most
//   MaxHexDigits, whole bytes); a longer text is cut;
// - any other data type holds nothing and contributes nothing to a report.
class DataPointValues
{
public:
    enum class Kind { None, Number, Choice, Bytes };

    // QLineEdit's ceiling on a text is 32767 characters, an odd number: a
    // binary value stops one digit short of it so that its text always holds
    // whole bytes. A longer field keeps the rest zero in the report.
    static constexpr int MaxHexDigits = 32766;

    DataPointValues() = default;
    explicit DataPointValues(const DataPointDefinition &definition);

    const DataPointDefinition &definition() const { return m_def; }
    int count() const { return m_values.size(); }

    static Kind kindOf(const json_struct &record);
    Kind kind(int row) const;
    // Range of a Number row.
    int minimum(int row) const;
    int maximum(int row) const;
    // Hex digits a Bytes row holds.
    int maxHexDigits(int row) const;
    // Labels of a Choice row.
    QStringList labels(int row) const;

    // Number rows: the value; Choice rows: the label index. 0 for others.
    int number(int row) const;
    void setNumber(int row, int value);
    // Bytes rows: the hex text as typed.
    QString hexText(int row) const;
    void setHexText(int row, const QString &text);

    // The values as kept between runs: a JSON object from display name to
    // value, a number for a number, the label for a choice, the hex text as
    // typed for bytes. Labels rather than indexes, so that a definition
    // fetched again with its labels reordered keeps the user's choice.
    QString savedText() const;
    // Takes back what savedText() gave, by name, for the rows this
    // definition has. Whatever does not fit is left at its current value: a
    // text that is no JSON object, a name without a row, a value of the
    // wrong form, a label the row lacks, hex text with other characters. A
    // number out of range is clamped, bytes too long are cut (as typed).
    void restore(const QString &savedText);

    // The complete, unescaped status report (command 05) with these values
    // and a valid checksum. Also written to the debug log as hex text.
    QByteArray statusReport() const;
    // Sets the values that one control frame (command 03, action 01) carries
    // and returns the rows it names, in name order, whether or not the value
    // could be taken (an enum value without a label is named, not taken).
    QVector<int> applyControl(const QByteArray &frame);

    // Appends FF bytes until the frame from offset 4 on is as long as its
    // length field says; a frame already that long (or longer) is left alone.
    static void padToLength(QByteArray &frame);
    // Hex text as a binary value carries it: right-padded with "0" to
    // maxDigits (and to an even digit count), then read as hex.
    static QByteArray hexTextBytes(const QString &text, int maxDigits);

private:
    struct Value
    {
        Kind kind = Kind::None;
        int number = 0;
        QString hex;
    };
    bool isRow(int row) const { return row >= 0 && row < m_values.size(); }

    DataPointDefinition m_def;
    QVector<Value> m_values;
};
