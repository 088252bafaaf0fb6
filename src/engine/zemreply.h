// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/frameformat.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The byte rules of the automatic replies, kept apart from settings and files
// so that they can be tested, fuzzed and benchmarked on plain byte arrays.
//
// A reply is built from a stored template, a whole frame whose checksum is
// recomputed. The rules only ever touch bytes inside the request and the
// template: callers first ask how many bytes a rule needs and give no reply
// when a request or template is shorter.
namespace ZemReply {

// What the product-information reply (0x02) is patched with.
struct DeviceInfo
{
    QByteArray hardVersion; // written over offsets 24..31 (see versionField)
    QByteArray softVersion; // written over offsets 32..39
    int bindingTime = 0;    // big-endian at offsets 72..73
    bool central = false;   // adds the 8 device-attribute bytes at 74
};

// A version as the product-information reply carries it: exactly
// Frame::VersionWidth printable ASCII bytes. One byte per character; a
// character outside printable ASCII becomes '?', a longer text is cut, a
// shorter one is padded with blanks on the right. The template's own bytes
// therefore never show through a short version ("1.0.2" goes out as "1.0.2   ").
QByteArray versionField(const QString &text);
// A text the settings dialog can store unchanged: exactly Frame::VersionWidth
// printable ASCII characters.
bool isVersionText(const QString &text);

// The reply to a request the device answers automatically; none for the
// replies themselves and for the requests the MCU sends.
std::optional<Frame::Command> replyTo(Frame::Command request);

// The smallest request size the rules for this request read from; for a
// firmware start it depends on the count inside the request. A request
// that cannot even hold its command and sequence number needs 6.
int requestSizeNeeded(const QByteArray &request);
// The smallest template the rules for this request write into.
int templateSizeNeeded(Frame::Command request);

// Copies the request's sequence number into the reply. Both must be long
// enough (see above).
void copySequence(QByteArray &reply, const QByteArray &request);
// Patches versions (through versionField), binding time and, for the
// central module type, the device attributes and the length. `reply` must
// hold templateSizeNeeded(ProductInfo) bytes.
void patchProductInfo(QByteArray &reply, const DeviceInfo &device);
// Marks a reply as the status answer (action 03 at offset 8); the tab adds
// the data-point status and the checksum (see statusAnswer).
void markStatusReply(QByteArray &reply);
// Writes a 32-byte product key over offsets 40..71 and recomputes the
// checksum. False, and the reply untouched, when it is too short or the
// key is not 32 bytes.
bool writeProductKey(QByteArray &reply, const QByteArray &key);

// The frame that goes out for a status answer (Frame::isStatusAnswer): the
// full status report, turned into the answer: command 04, the answer's
// sequence number, action 03, checksum recomputed. Any other reply is given
// back as it came; a report too short to carry an action byte, unchanged.
QByteArray statusAnswer(const QByteArray &reply, const QByteArray &statusReport);

// The firmware-start fields: the 2-byte count and the n-byte field it
// counts. False when the request does not hold them before its checksum.
bool firmwareFields(const QByteArray &request, QByteArray *count, QByteArray *field);
// The piece number and data of a firmware piece. False when the request
// is too short to hold its number and checksum.
bool firmwarePiece(const QByteArray &request, int *number, QByteArray *data);

} // namespace ZemReply
