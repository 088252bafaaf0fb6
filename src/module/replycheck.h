// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The checks a conformance run makes on each answer of the MCU. Each
// returns the problems it found as short English sentences; an empty list
// means the answer is good.
namespace ReplyCheck {

// The frame as a whole: reply code, the request's sequence number, a length
// field that counts the frame (and at least a frameless 5), the checksum,
// and that every FF after the length's first byte went on the wire escaped
// (the wire bytes received while waiting must hold the escaped frame).
QStringList frame(const QByteArray &frame, const QByteArray &wire, int expectedCode,
                  int expectedSequence);

// A plain acknowledgement: no payload, length 5.
QStringList plainAck(const QByteArray &frame);

// Product information (02): long enough for every field, a length of 0x47
// (or 0x4F with the device attributes), four version fields of 8 printable
// ASCII characters (protocol, serial protocol, hardware, software) and, when
// one is expected, the product key.
QStringList productInfo(const QByteArray &frame, const QString &expectedKey);

// A status answer (04 with action 03) whose value part is exactly as long as
// the definition's status payload. An empty definition only checks the
// action.
QStringList statusAnswer(const QByteArray &frame, const DataPointDefinition &def);

// The values the status answer reports against the values a control command
// just set (display_name -> text, as the control decoder gives them).
QStringList reportsValues(const QByteArray &answer, const DataPointDefinition &def,
                          const QMap<QString, QString> &expected);

// "0x1B" style.
QString hexCode(int code);

} // namespace ReplyCheck
