// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/json_struct.h"

#include <QHash>
#include <QJsonObject>
#include <QList>

// A product's parsed data-point definition: the records in the order of the
// service's attribute array, and the layout counters that size the bit areas
// of the status payload.
//
// A record's position in `records` is its attribute number in a control
// frame's flag bits, so the order is kept exactly as the service sent it.
class DataPointDefinition
{
public:
    DataPointDefinition() = default;
    // Takes the records as they are and derives the counters and the name
    // index from them.
    explicit DataPointDefinition(const QList<json_struct> &records);

    // Reads the service's answer: the attributes of the first entity. Keys
    // that are missing or of another kind leave the record's empty strings
    // and zeros; every attribute is kept.
    static DataPointDefinition fromJson(const QJsonObject &answer);

    const QList<json_struct> &records() const { return m_records; }
    bool isEmpty() const { return m_records.isEmpty(); }

    // Number of "status_writable" records, whatever their unit.
    int writableCount() const { return m_writableCount; }
    // Sum of `len` over the "bit" records of each class. Negative lengths
    // count as 0; the sums saturate at the int range.
    int writableBits() const { return m_writableBits; }
    int readonlyBits() const { return m_readonlyBits; }
    int alertBits() const { return m_alertBits; }
    int faultBits() const { return m_faultBits; }

    // Bytes of the bit area of a class ("status_writable", ...); 0 for any
    // other class.
    int areaBytes(const QString &type) const;
    // Position of the first record with this display name, or -1.
    int indexOf(const QString &displayName) const;

private:
    QList<json_struct> m_records;
    QHash<QString, int> m_byName;
    int m_writableCount = 0;
    int m_writableBits = 0;
    int m_readonlyBits = 0;
    int m_alertBits = 0;
    int m_faultBits = 0;
};
