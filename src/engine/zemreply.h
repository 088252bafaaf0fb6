#pragma once

#include <QByteArray>
#include <QString>

// The byte rules of the automatic replies, kept apart from settings and files
// so that they can be tested, fuzzed and benchmarked on plain byte arrays.
//
// A reply is built from a stored template, a whole frame whose checksum is
// recomputed. The rules only ever touch bytes inside the request and the
// template: callers first ask how many bytes a rule needs and give no reply
// when a request or template is shorter.
class ZemReply
{
public:
    // What the product-information reply (0x02) is patched with.
    struct DeviceInfo
    {
        QByteArray hardVersion; // written over offsets 24..31 (see versionField)
        QByteArray softVersion; // written over offsets 32..39
        int bindingTime = 0;    // big-endian at offsets 72..73
        bool central = false;   // adds the 8 device-attribute bytes at 74
    };

    // Offsets of the product-information reply.
    static constexpr int HardVersionOffset = 24;
    static constexpr int SoftVersionOffset = 32;
    static constexpr int VersionWidth = 8;
    static constexpr int ProductKeyOffset = 40;
    static constexpr int ProductKeyWidth = 32;
    static constexpr int BindingTimeOffset = 72;
    static constexpr int AttributesOffset = 74;
    static constexpr int CentralLength = 0x4F;

    // Offsets of the firmware requests.
    static constexpr int FirmwareCountOffset = 12; // 0x19: 2-byte count n
    static constexpr int FirmwareFieldOffset = 14; // 0x19: n bytes
    static constexpr int PieceNumberOffset = 8;    // 0x1D: 2-byte piece number
    static constexpr int PieceDataOffset = 12;     // 0x1D: data up to the checksum

    // A version as the product-information reply carries it: exactly
    // VersionWidth printable ASCII bytes. One byte per character; a character
    // outside printable ASCII becomes '?', a longer text is cut, a shorter one
    // is padded with blanks on the right. The template's own bytes therefore
    // never show through a short version ("1.0.2" goes out as "1.0.2   ").
    static QByteArray versionField(const QString &text);
    // The same rule for bytes: a byte outside printable ASCII becomes '?'.
    static QByteArray versionFieldOfBytes(const QByteArray &bytes);
    // A text the settings dialog can store unchanged: exactly VersionWidth
    // printable ASCII characters.
    static bool isVersionText(const QString &text);

    // The reply code for a request code the device answers, or -1.
    static int replyCode(int requestCode);

    // The smallest request size the rules for this request read from; for a
    // firmware start it depends on the count inside the request. A request
    // that cannot even hold its command and sequence number needs 6.
    static int requestSizeNeeded(const QByteArray &request);
    // The smallest template the rules for this request code write into.
    static int templateSizeNeeded(int requestCode);

    // A status read: request 0x03 with action byte 02.
    static bool isStatusRead(const QByteArray &request);

    // Copies the request's sequence number into the reply. Both must be long
    // enough (see above).
    static void copySequence(QByteArray &reply, const QByteArray &request);
    // Patches versions (through versionField), binding time and, for the
    // central module type, the device attributes and the length. `reply` must hold
    // templateSizeNeeded(0x01) bytes.
    static void patchProductInfo(QByteArray &reply, const DeviceInfo &device);
    // Marks a reply as the status answer (03 at offset 8); the caller adds
    // the data-point status and the checksum.
    static void markStatusReply(QByteArray &reply);
    // Writes a 32-byte product key over offsets 40..71 and recomputes the
    // checksum. False, and the reply untouched, when it is too short or the
    // key is not 32 bytes.
    static bool writeProductKey(QByteArray &reply, const QByteArray &key);

    // The firmware-start fields: the 2-byte count and the n-byte field it
    // counts. False when the request does not hold them before its checksum.
    static bool firmwareFields(const QByteArray &request, QByteArray *count, QByteArray *field);
    // The piece number and data of a firmware piece. False when the request
    // is too short to hold its number and checksum.
    static bool firmwarePiece(const QByteArray &request, int *number, QByteArray *data);
};
