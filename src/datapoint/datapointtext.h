// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The texts of a data-point definition that decide where a value lies and how
// it is packed: the class ("type"), the unit of bit values and the data types.
// The service writes them; the definition, the codec and the table compare
// against these, exactly and case-sensitively.
namespace DataPointText {

// Classes. Each class has its own bit area in the status payload; only
// writable data points can be set by a control frame.
inline const QString Writable = QStringLiteral("status_writable");
inline const QString Readonly = QStringLiteral("status_readonly");
inline const QString Alert = QStringLiteral("alert");
inline const QString Fault = QStringLiteral("fault");

// The unit of a value packed into its class's bit area; any other unit is a
// whole-byte value.
inline const QString BitUnit = QStringLiteral("bit");

// Data types.
inline const QString Bool = QStringLiteral("bool");
inline const QString Enum = QStringLiteral("enum");
inline const QString Uint8 = QStringLiteral("uint8");
inline const QString Uint16 = QStringLiteral("uint16");
inline const QString Uint32 = QStringLiteral("uint32");
inline const QString Binary = QStringLiteral("binary");

} // namespace DataPointText
