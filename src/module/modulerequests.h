// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// The frames the module sends an MCU, built unescaped with a correct
// checksum (ZemTool::escape makes the wire form), and the data-point side of
// a control command: which values to try and where the MCU's status answer
// carries them.
namespace ModuleRequests {

// Header, length, command, sequence number, flags, payload and checksum.
QByteArray frame(int command, int sequence, const QByteArray &payload = QByteArray(),
                 int flags = 0);

// The Wi-Fi status word of a 0D frame: offset 8 bits 0-2 signal strength,
// bit 3 an app is connected; offset 9 high nibble the connection state, low
// nibble the Wi-Fi mode.
QByteArray wifiStatus(int sequence, int mode, int connection, int signal, bool appConnected);

// Firmware start (19): offsets 8-11 the image size, big-endian; 12-13 the
// count n; then the n-byte field the MCU must hand back in its 1B frame
// (here the image's MD5, so the MCU could check what it received).
QByteArray firmwareStart(int sequence, quint32 imageSize, const QByteArray &field);
// Firmware piece (1D): offsets 8-9 the piece number, 10-11 the number of
// pieces, 12 up to the checksum the data.
QByteArray firmwarePiece(int sequence, int number, int count, const QByteArray &data);

// What the MCU's 1B frame carries after its flags: the count and field of
// the start frame, then the piece size it wants.
struct FirmwareReady
{
    QByteArray field;
    int pieceSize = 0;
};
// False when the frame is too short for the count it gives, or carries no
// piece size after the field.
bool readFirmwareReady(const QByteArray &frame, FirmwareReady *ready);

// One value a control command sets: the record's position in the
// definition, and either a number (bool, enum, uint) or raw bytes (binary).
struct ControlValue
{
    int record = -1;
    quint32 number = 0;
    QByteArray bytes;
};

// Whether a control command can set this record: a writable data point of
// a data type a control frame carries.
bool isControllable(const DataPointDefinition &def, int record);
// The values a conformance run tries on one writable data point: its
// minimum, its maximum and a value between, each once (a bool has only two).
// Binary values are all 00, all FF (every byte escaped on the wire) and 5A.
QList<ControlValue> testValues(const DataPointDefinition &def, int record);
// A readable text of a value for step names: "亮度 = 100", "场景数据 = 00ff".
QString describe(const DataPointDefinition &def, const ControlValue &value);

// A control command (03, action 01) that sets this one data point: flag
// bytes with only its bit set, then the writable value part, laid out as the
// MCU's decoder reads it (bit values in the writable bit area, counted from
// its last byte; whole-byte values at their byte_offset).
QByteArray controlFrame(const DataPointDefinition &def, int sequence, const ControlValue &value);

// display_name -> value text of every data point a status frame (05 report
// or 04 answer) carries, in the form the control decoder gives: decimal
// numbers, enum labels, lower-case hex for binary. A value the frame is too
// short to hold is left out.
QMap<QString, QString> statusValues(const DataPointDefinition &def, const QByteArray &frame);

} // namespace ModuleRequests
