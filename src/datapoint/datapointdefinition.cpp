// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/datapointdefinition.h"

#include "datapoint/datapointtext.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>
#include <limits>

namespace {

// A JSON number with an integral value, clamped to the int range; anything
// else (a string of digits included) reads as 0. The clamp keeps a "uint32"
// bound such as 4294967295 usable as an int without an undefined conversion.
int integerOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d)
        return 0;
    if (d >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (d <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(d);
}

QString stringOf(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

int saturate(qint64 sum)
{
    return sum > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(sum);
}

// One attribute object of the service's answer.
json_struct recordFromJson(const QJsonObject &attr)
{
    json_struct r;
    r.display_name = stringOf(attr.value(QLatin1String("display_name")));
    r.name = stringOf(attr.value(QLatin1String("name")));
    r.data_type = stringOf(attr.value(QLatin1String("data_type")));
    r.type = stringOf(attr.value(QLatin1String("type")));
    r.desc = stringOf(attr.value(QLatin1String("desc")));
    r.id = integerOf(attr.value(QLatin1String("id")));

    const QJsonObject position = attr.value(QLatin1String("position")).toObject();
    r.unit = stringOf(position.value(QLatin1String("unit")));
    r.len = integerOf(position.value(QLatin1String("len")));
    r.byte_offset = integerOf(position.value(QLatin1String("byte_offset")));
    r.bit_offset = integerOf(position.value(QLatin1String("bit_offset")));

    if (r.data_type == DataPointText::Enum) {
        const QJsonArray labels = attr.value(QLatin1String("enum")).toArray();
        r.enum_list.reserve(labels.size());
        for (const QJsonValue &label : labels)
            r.enum_list.append(stringOf(label));
    } else if (r.data_type == DataPointText::Uint8 || r.data_type == DataPointText::Uint16
               || r.data_type == DataPointText::Uint32) {
        const QJsonObject bounds = attr.value(QLatin1String("uint_spec")).toObject();
        r.max = integerOf(bounds.value(QLatin1String("max")));
        r.min = integerOf(bounds.value(QLatin1String("min")));
    }
    return r;
}

} // namespace

DataPointDefinition::DataPointDefinition(const QList<json_struct> &records)
    : m_records(records)
{
    qint64 writableBits = 0, readonlyBits = 0, alertBits = 0, faultBits = 0;
    m_byName.reserve(records.size());
    for (int i = 0; i < records.size(); ++i) {
        const json_struct &r = records.at(i);
        if (!m_byName.contains(r.display_name))
            m_byName.insert(r.display_name, i);
        if (r.type == DataPointText::Writable)
            ++m_writableCount;
        if (r.unit != DataPointText::BitUnit)
            continue;
        const qint64 len = qMax(0, r.len);
        if (r.type == DataPointText::Writable)
            writableBits += len;
        else if (r.type == DataPointText::Readonly)
            readonlyBits += len;
        else if (r.type == DataPointText::Alert)
            alertBits += len;
        else if (r.type == DataPointText::Fault)
            faultBits += len;
    }
    m_writableBits = saturate(writableBits);
    m_readonlyBits = saturate(readonlyBits);
    m_alertBits = saturate(alertBits);
    m_faultBits = saturate(faultBits);
}

DataPointDefinition DataPointDefinition::fromJson(const QJsonObject &answer)
{
    // Only the first entity is read.
    const QJsonArray entities = answer.value(QLatin1String("entities")).toArray();
    const QJsonObject entity = entities.isEmpty() ? QJsonObject() : entities.first().toObject();
    const QJsonArray attrs = entity.value(QLatin1String("attrs")).toArray();
    QList<json_struct> records;
    records.reserve(attrs.size());
    for (const QJsonValue &attr : attrs)
        records.append(recordFromJson(attr.toObject()));
    return DataPointDefinition(records);
}

int DataPointDefinition::areaBytes(const QString &type) const
{
    int bits = 0;
    if (type == DataPointText::Writable)
        bits = m_writableBits;
    else if (type == DataPointText::Readonly)
        bits = m_readonlyBits;
    else if (type == DataPointText::Alert)
        bits = m_alertBits;
    else if (type == DataPointText::Fault)
        bits = m_faultBits;
    return int((qint64(bits) + 7) / 8);
}

int DataPointDefinition::indexOf(const QString &displayName) const
{
    return m_byName.value(displayName, -1);
}
