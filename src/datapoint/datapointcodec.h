// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"

#include <QByteArray>
#include <QMap>
#include <QString>

// Packs data-point values into a status-report frame (command 05) and reads
// the values a control frame (command 03, action 01) sets.
//
// Value part. Both frames carry the values as one byte string; a record's
// byte_offset counts from its first byte. Whole-byte values sit at
// byte_offset, big-endian. Bit values live in one bit area per class
// (writable, read-only, alert, fault), each ceil(bits / 8) bytes long and
// starting at the byte_offset of its records. Bits are numbered from the
// least significant bit of the area's LAST byte: bits 0-7 are the last byte,
// 8-15 the byte before, and so on.
//
// Status report:  FF FF | len | 05 | 00 | 00 00 | 04 | value part | checksum
// Control frame:  FF FF | len | 03 | sn | 00 00 | 01 | flags | value part | checksum
//
// The control frame's flag bytes (ceil(writableCount / 8) of them) say which
// writable data points it sets: the last flag byte holds attributes 0-7 (bit
// i for attribute i), the byte before it 8-15, and so on. The attribute
// number is the record's position in the definition, so writable records come
// first. The control frame's value part holds only the writable values; its
// bit area comes first.
//
// Robustness rules, so that no definition or frame can corrupt memory or a
// neighbouring value:
// - writes stay inside the value part of the frame (never the header, never
//   the checksum byte, never past the end) and never change the frame's size;
//   a bit value stays inside its own class's area and is masked to its
//   length, so a value too large for its field cannot spill into another;
// - a whole-byte field longer than 4 bytes gets the number right-aligned with
//   leading zero bytes; a "binary" value longer than its field is cut, a
//   shorter one fills the start of the field and leaves the rest as it was;
// - reads never include the checksum byte: a whole-byte value that lies past
//   the value part of a short control frame gives no entry; a bit value is
//   read from the writable area alone and reads as 0 where the area (or the
//   frame) does not hold it;
// - an "enum" value beyond its labels is given as its number in decimal text.
namespace DataPointCodec {

// The length field is 16 bits and counts the value part plus 6 bytes.
constexpr int MaxValuePart = 0xFFFF - 6;

// Bytes of the report's value part: the four bit areas plus every whole-byte
// value (capped at what a frame can carry).
int reportValueSize(const DataPointDefinition &def);
// The empty report: value part and checksum place all zero.
QByteArray makeReportFrame(const DataPointDefinition &def);

// Writes a number or bit value for the record with this display name.
// Unknown names leave the frame unchanged. The value part must start zeroed
// for bit values: bits are ORed in.
void setValue(const DataPointDefinition &def, QByteArray &frame, const QString &displayName,
              int value);
// Writes raw bytes ("binary" data points) into the record's field; a "bit"
// record takes no raw bytes.
void setBytes(const DataPointDefinition &def, QByteArray &frame, const QString &displayName,
              const QByteArray &bytes);

// The low `width` bytes of value, most significant first; widths other than
// 1..4 give an empty array.
QByteArray intToBytes(int value, int width);

// Reads bitLen bits (at most 16) from data.
// fromEnd true: bits count from the least significant bit of the byte just
// before byteOffset, backwards through the array; the result's least
// significant bit is bit bitOffset.
// fromEnd false: bits count from the most significant bit of byte
// byteOffset + bitOffset / 8 forwards and are read most significant first.
// A zero length or a read outside the array gives 0 and a warning.
quint16 getBits(const QByteArray &data, int byteOffset, unsigned bitOffset, unsigned bitLen,
                bool fromEnd);

// display_name -> value text for every data point the control frame sets.
QMap<QString, QString> decodeControl(const DataPointDefinition &def, const QByteArray &frame);

} // namespace DataPointCodec
