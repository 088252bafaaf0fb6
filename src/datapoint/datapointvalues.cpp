// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/datapointvalues.h"

#include "datapoint/datapointcodec.h"
#include "datapoint/datapointtext.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <QDebug>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {

int decimalClamped(const QString &text)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok)
        return 0;
    // std::clamp, not qBound<qlonglong>: Qt 6 adds mixed-type qBound
    // overloads that make the explicitly typed call ambiguous.
    return int(
        std::clamp<qlonglong>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

bool isHexDigits(const QString &text)
{
    static const QRegularExpression hexDigits(QStringLiteral("^[a-fA-F0-9]*$"));
    return hexDigits.match(text).hasMatch();
}

} // namespace

DataPointValues::DataPointValues(const DataPointDefinition &definition)
    : m_def(definition)
{
    const QList<json_struct> &records = m_def.records();
    m_values.resize(records.size());
    for (int row = 0; row < records.size(); ++row) {
        Value &v = m_values[row];
        v.kind = kindOf(records.at(row));
        if (v.kind == Kind::Number)
            v.number = qBound(minimum(row), 0, maximum(row));
        else if (v.kind == Kind::Choice)
            v.number = records.at(row).enum_list.isEmpty() ? -1 : 0;
    }
}

DataPointValues::Kind DataPointValues::kindOf(const json_struct &record)
{
    const QString &type = record.data_type;
    if (type == DataPointText::Bool || type == DataPointText::Uint8 || type == DataPointText::Uint16
        || type == DataPointText::Uint32)
        return Kind::Number;
    if (type == DataPointText::Enum)
        return Kind::Choice;
    if (type == DataPointText::Binary)
        return Kind::Bytes;
    return Kind::None;
}

DataPointValues::Kind DataPointValues::kind(int row) const
{
    return isRow(row) ? m_values.at(row).kind : Kind::None;
}

int DataPointValues::minimum(int row) const
{
    if (kind(row) != Kind::Number)
        return 0;
    const json_struct &r = m_def.records().at(row);
    return r.data_type == DataPointText::Bool ? 0 : r.min;
}

int DataPointValues::maximum(int row) const
{
    if (kind(row) != Kind::Number)
        return 0;
    const json_struct &r = m_def.records().at(row);
    // With min above max the range collapses onto min.
    return r.data_type == DataPointText::Bool ? 1 : qMax(r.min, r.max);
}

int DataPointValues::maxHexDigits(int row) const
{
    if (kind(row) != Kind::Bytes)
        return 0;
    // Two hex digits a byte.
    return int(std::clamp<qint64>(2 * qint64(m_def.records().at(row).len), 0, MaxHexDigits));
}

QStringList DataPointValues::labels(int row) const
{
    return kind(row) == Kind::Choice ? m_def.records().at(row).enum_list : QStringList();
}

int DataPointValues::number(int row) const
{
    const Kind k = kind(row);
    return k == Kind::Number || k == Kind::Choice ? m_values.at(row).number : 0;
}

void DataPointValues::setNumber(int row, int value)
{
    const Kind k = kind(row);
    if (k == Kind::Number)
        m_values[row].number = qBound(minimum(row), value, maximum(row));
    else if (k == Kind::Choice)
        m_values[row].number = qBound(-1, value, labels(row).size() - 1);
}

QString DataPointValues::hexText(int row) const
{
    return kind(row) == Kind::Bytes ? m_values.at(row).hex : QString();
}

void DataPointValues::setHexText(int row, const QString &text)
{
    if (kind(row) == Kind::Bytes)
        m_values[row].hex = text.left(maxHexDigits(row));
}

QByteArray DataPointValues::hexTextBytes(const QString &text, int maxDigits)
{
    // Padded on the right to whole bytes: QByteArray::fromHex reads an odd
    // digit count as if a 0 stood in front, which would shift every byte.
    int digits = qMax(text.size(), maxDigits);
    digits += digits % 2;
    QString padded = text;
    padded.append(QString(digits - padded.size(), QLatin1Char('0')));
    return QByteArray::fromHex(padded.toLatin1());
}

void DataPointValues::padToLength(QByteArray &frame)
{
    if (frame.size() < Frame::LengthFieldOverhead)
        return;
    const int length = ZemTool::word16(frame, Frame::LengthOffset);
    const int have = frame.size() - Frame::LengthFieldOverhead;
    if (have < length)
        frame.append(QByteArray(length - have, char(0xFF)));
}

QByteArray DataPointValues::statusReport() const
{
    QByteArray frame = DataPointCodec::makeReportFrame(m_def);
    const QList<json_struct> &records = m_def.records();
    for (int row = 0; row < m_values.size(); ++row) {
        const Value &v = m_values.at(row);
        const QString &name = records.at(row).display_name;
        switch (v.kind) {
        case Kind::Number:
            DataPointCodec::setValue(m_def, frame, name, v.number);
            break;
        case Kind::Choice:
            // An enum without labels has no choice (-1): it reports 0.
            DataPointCodec::setValue(m_def, frame, name, qMax(0, v.number));
            break;
        case Kind::Bytes:
            DataPointCodec::setBytes(m_def, frame, name, hexTextBytes(v.hex, maxHexDigits(row)));
            break;
        case Kind::None:
            break;
        }
    }
    padToLength(frame);
    qDebug().noquote() << ZemTool::hexText(frame);
    ZemTool::setFrameChecksum(frame);
    return frame;
}

QVector<int> DataPointValues::applyControl(const QByteArray &frame)
{
    QVector<int> named;
    const QMap<QString, QString> values = DataPointCodec::decodeControl(m_def, frame);
    if (values.isEmpty())
        return named;

    // Every record of a name takes the value, as every row of it shows it.
    const QList<json_struct> &records = m_def.records();
    QHash<QString, QVector<int>> rowsByName;
    for (int row = 0; row < records.size(); ++row)
        if (values.contains(records.at(row).display_name))
            rowsByName[records.at(row).display_name].append(row);

    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        for (int row : rowsByName.value(it.key())) {
            named.append(row);
            switch (kind(row)) {
            case Kind::Number:
                setNumber(row, decimalClamped(it.value()));
                break;
            case Kind::Choice: {
                const int index = labels(row).indexOf(it.value());
                if (index >= 0)
                    m_values[row].number = index;
                break;
            }
            case Kind::Bytes:
                setHexText(row, it.value());
                break;
            case Kind::None:
                break;
            }
        }
    }
    return named;
}

QString DataPointValues::savedText() const
{
    QJsonObject object;
    const QList<json_struct> &records = m_def.records();
    for (int row = 0; row < m_values.size(); ++row) {
        const Value &v = m_values.at(row);
        const QString &name = records.at(row).display_name;
        switch (v.kind) {
        case Kind::Number:
            object.insert(name, v.number);
            break;
        case Kind::Choice:
            if (v.number >= 0)
                object.insert(name, labels(row).value(v.number));
            break;
        case Kind::Bytes:
            object.insert(name, v.hex);
            break;
        case Kind::None:
            break;
        }
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void DataPointValues::restore(const QString &savedText)
{
    const QJsonDocument doc = QJsonDocument::fromJson(savedText.toUtf8());
    if (!doc.isObject())
        return;
    const QJsonObject object = doc.object();
    const QList<json_struct> &records = m_def.records();
    for (int row = 0; row < m_values.size(); ++row) {
        const QJsonValue value = object.value(records.at(row).display_name);
        switch (kind(row)) {
        case Kind::Number:
            if (value.isDouble()) {
                // toDouble, not toInt: toInt gives 0 for a number beyond int.
                const double d = value.toDouble();
                setNumber(row,
                          int(qBound(double(std::numeric_limits<int>::min()), d,
                                     double(std::numeric_limits<int>::max()))));
            }
            break;
        case Kind::Choice: {
            const int index = labels(row).indexOf(value.toString());
            if (value.isString() && index >= 0)
                m_values[row].number = index;
            break;
        }
        case Kind::Bytes:
            if (value.isString() && isHexDigits(value.toString()))
                setHexText(row, value.toString());
            break;
        case Kind::None:
            break;
        }
    }
}
