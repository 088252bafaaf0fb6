// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/replycheck.h"

#include "datapoint/datapointcodec.h"
#include "module/modulerequests.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

namespace {

// The product-information reply without and with the device attributes.
constexpr int ProductInfoLength = 0x47;
constexpr int ProtocolVersionOffset = Frame::PayloadOffset;

bool isPrintableAscii(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (quint8(c) < 0x20 || quint8(c) >= 0x7F)
            return false;
    }
    return true;
}

} // namespace

namespace ReplyCheck {

QString hexCode(int code)
{
    return QStringLiteral("0x") + QString::number(code & 0xFF, 16).rightJustified(2, '0').toUpper();
}

QStringList frame(const QByteArray &frame, const QByteArray &wire, int expectedCode,
                  int expectedSequence)
{
    QStringList problems;
    if (frame.size() < Frame::MinFrameSize) {
        problems << QStringLiteral("frame of %1 bytes is shorter than the smallest frame (9)")
                        .arg(frame.size());
        return problems;
    }
    if (Frame::commandCode(frame) != expectedCode)
        problems << QStringLiteral("reply code %1, expected %2")
                        .arg(hexCode(Frame::commandCode(frame)), hexCode(expectedCode));
    if (Frame::sequence(frame) != (expectedSequence & 0xFF))
        problems << QStringLiteral("sequence number %1, expected %2")
                        .arg(hexCode(Frame::sequence(frame)), hexCode(expectedSequence));
    const int length = Frame::lengthField(frame);
    if (length != frame.size() - Frame::LengthFieldOverhead || length < Frame::MinLength)
        problems << QStringLiteral("length field %1 does not count the %2-byte frame")
                        .arg(length)
                        .arg(frame.size());
    const int sum = ZemTool::frameChecksum(frame);
    const int carried = Frame::byteAt(frame, frame.size() - 1);
    if (sum != carried)
        problems << QStringLiteral("checksum %1, expected %2").arg(hexCode(carried), hexCode(sum));
    if (!wire.contains(ZemTool::escape(frame)))
        problems << QStringLiteral("not escaped on the wire (every FF after offset 2 must be "
                                   "followed by 55)");
    return problems;
}

QStringList plainAck(const QByteArray &frame)
{
    if (Frame::lengthField(frame) == Frame::MinLength)
        return {};
    return {QStringLiteral("length %1, a plain acknowledgement has 5 (no payload)")
                .arg(Frame::lengthField(frame))};
}

QStringList productInfo(const QByteArray &frame, const QString &expectedKey)
{
    QStringList problems;
    const int needed = Frame::BindingTimeOffset + 2 + Frame::ChecksumTail;
    if (frame.size() < needed) {
        problems << QStringLiteral("product information of %1 bytes, at least %2 expected")
                        .arg(frame.size())
                        .arg(needed);
        return problems;
    }
    const int length = Frame::lengthField(frame);
    if (length != ProductInfoLength && length != Frame::CentralLength)
        problems << QStringLiteral("length %1, expected %2 (or %3 with device attributes)")
                        .arg(hexCode(length), hexCode(ProductInfoLength),
                             hexCode(Frame::CentralLength));
    const struct
    {
        const char *name;
        int offset;
    } versions[] = {{"protocol version", ProtocolVersionOffset},
                    {"serial protocol version", ProtocolVersionOffset + Frame::VersionWidth},
                    {"hardware version", Frame::HardVersionOffset},
                    {"software version", Frame::SoftVersionOffset}};
    for (const auto &v : versions) {
        const QByteArray field = frame.mid(v.offset, Frame::VersionWidth);
        if (!isPrintableAscii(field))
            problems << QStringLiteral("%1 is not 8 ASCII characters: %2")
                            .arg(QLatin1String(v.name), ZemTool::hexText(field).trimmed());
    }
    const QByteArray key = frame.mid(Frame::ProductKeyOffset, Frame::ProductKeyWidth);
    if (!expectedKey.isEmpty() && key != expectedKey.toLatin1())
        problems << QStringLiteral("product key \"%1\", expected \"%2\"")
                        .arg(QString::fromLatin1(isPrintableAscii(key) ? key : key.toHex()),
                             expectedKey);
    return problems;
}

QStringList statusAnswer(const QByteArray &frame, const DataPointDefinition &def)
{
    QStringList problems;
    if (Frame::action(frame) != Frame::code(Frame::StatusAction::Answer)) {
        problems << QStringLiteral("action %1, a status answer has 0x03")
                        .arg(hexCode(Frame::action(frame)));
        return problems;
    }
    if (def.isEmpty())
        return problems;
    const int values = frame.size() - Frame::StatusValueOffset - Frame::ChecksumTail;
    const int expected = DataPointCodec::reportValueSize(def);
    if (values != expected)
        problems << QStringLiteral("status payload of %1 value bytes, the definition has %2")
                        .arg(values)
                        .arg(expected);
    return problems;
}

QStringList reportsValues(const QByteArray &answer, const DataPointDefinition &def,
                          const QMap<QString, QString> &expected)
{
    QStringList problems;
    const QMap<QString, QString> reported = ModuleRequests::statusValues(def, answer);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QString got = reported.value(it.key(), QStringLiteral("(missing)"));
        if (got != it.value())
            problems << QStringLiteral("status reports %1 = %2 after it was set to %3")
                            .arg(it.key(), got, it.value());
    }
    if (expected.isEmpty())
        problems << QStringLiteral("the control command sets no value the definition knows");
    return problems;
}

} // namespace ReplyCheck
