// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class SettingsFile;

// The byte, hex and frame helpers shared by the protocol side, plus access to
// the settings file "auto_analyze.ini" beside the program.
//
// The conversions are static and keep no state, so tests, fuzzers and
// benchmarks call them without an instance.
class ZemTool : public QObject
{
    Q_OBJECT
public:
    explicit ZemTool(QObject *parent = nullptr);
    ~ZemTool() override;

    // 8-bit sum of bytes[from .. size - tail); 0 when the range is empty. The
    // range is clipped to the array, so any from and tail are safe (a negative
    // tail reaches no further than the last byte).
    static quint8 checksum(const QByteArray &bytes, int from, int tail);
    // Checksum of a frame: from the first length byte up to the byte before
    // the checksum.
    static quint8 frameChecksum(const QByteArray &frame);
    // Writes frameChecksum() into the last byte; frames under two bytes are
    // left alone.
    static void setFrameChecksum(QByteArray &frame);

    // The byte at i as 0..255; 0 when i is outside the array.
    static int byteValue(const QByteArray &bytes, int i);
    // Bytes i and i + 1 read big-endian; 0 when either is outside the array.
    static int word16(const QByteArray &bytes, int i);
    // The low `width` bytes of value, most significant first; widths other
    // than 1..4 give an empty array.
    static QByteArray numberToBytes(quint32 value, int width);

    // "AB 01 " style: upper-case pairs, each followed by one blank. A QString
    // holds a little under INT_MAX / 2 characters, so an array above
    // MaxHexTextBytes has no hex text: it gives the empty text.
    static constexpr int MaxHexTextBytes = (0x7FFFFFFF / 2 - 64) / 3;
    static QString hexText(const QByteArray &bytes);
    // Wire form: every FF from offset 3 on gets a 55 inserted after it.
    // Offsets 0..2 (header and first length byte) are never escaped.
    static QByteArray escape(const QByteArray &frame);

    // Settings access. A missing key reads as the empty text. A write is
    // read back at once, by every ZemTool of the file, and saved in the
    // background (see SettingsFile): the caller never waits for the disk.
    QString readSetting(const QString &key) const;
    void writeSetting(const QString &key, const QString &value);
    void writeSettingHex(const QString &key, const QByteArray &bytes);
    // A setting holding a decimal number; 0 when it is missing or no number.
    int readSettingNumber(const QString &key) const;
    // The hex-decoded value of a key holding hex text.
    QByteArray readSettingHex(const QString &key) const;
    // Waits until every write so far is in the file.
    void flushSettings();
    // Why the settings file is suspicious, for the user; empty when it is not.
    QString settingsWarning() const;

private:
    std::shared_ptr<SettingsFile> m_settings;
};
