// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// One data point of a product as the definition service describes it: where
// its value lies in the status payload, what kind of value it is and what the
// user may set. A plain value record, copied freely.
//
// display_name is the key by which the codec and the data-point table find a
// record. For "bit" values byte_offset is the offset of the class's bit area
// and bit_offset counts from the least significant bit of the area's last
// byte; for whole-byte values len counts bytes, for bit values bits.
//
// Numbers in the definition that do not fit an int (a "uint32" bound of
// 4294967295, say) are clamped to the int range when read.
struct json_struct
{
    QString display_name;
    QString name;
    QString data_type; // "bool", "enum", "uint8", "uint16", "uint32", "binary" or other
    QString unit;      // "bit" or a whole-byte unit
    int len = 0;
    int byte_offset = 0;
    int bit_offset = 0;
    QString type; // "status_writable", "status_readonly", "alert", "fault"
    int id = 0;
    QString desc;
    QStringList enum_list; // label i stands for value i
    int min = 0;
    int max = 0;
};

Q_DECLARE_METATYPE(json_struct)
// QList<json_struct> is declared along with json_struct by Qt's container
// support; ZemJson registers both so that ListOk can be queued.
