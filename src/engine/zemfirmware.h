// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QBitArray>
#include <QByteArray>
#include <QString>

// Receives a firmware image that the module sends piece by piece.
//
// A transfer starts with the module's 0x19 frame: its count and field are kept
// (the MCU returns them in its 0x1B frame) and both image files are created
// empty. Each 0x1D piece is appended to the file of the chosen transfer type.
// The module repeats a piece whose acknowledgement it missed, so a piece
// number already written in this transfer is acknowledged but not written
// again; pieces arriving out of order are appended in arrival order.
//
// The image is written under its final name as it arrives, so a transfer cut
// short (the port lost, the program killed) leaves a clean prefix there. To
// tell such a prefix from a whole image, a marker file "mcu.incomplete"
// stands beside the image files from the transfer's first frame (its start,
// or a piece without one) until the module's transfer end (0x1F): an image
// file is complete exactly when no marker is there.
class ZemFirmware
{
public:
    // The largest piece size the MCU may ask for in its 0x1B frame. A piece
    // frame is its data plus 13 bytes (header, length, command, sequence,
    // flags, piece number, two reserved bytes, checksum); its length field
    // must stay below FF 00, because a length whose high byte is FF cannot be
    // told from a stray FF before a header: such a frame would be lost.
    static constexpr int MaxPieceSize = 0xFF00 - 13 - 1;

    ZemFirmware(const QString &binFile, const QString &hexFile);

    // The MCU's "ready to receive firmware" frame (0x1B), unescaped: the
    // stored body (header to flags, from the settings), then the count and
    // the field the module sent in its firmware start, then the piece size
    // (capped at MaxPieceSize, big-endian), then the checksum. The length
    // field counts all of it; the second flags byte is 01 for a "hex"
    // transfer. Empty when the body is shorter than header and flags, or
    // when the frame would outgrow the 16-bit length field.
    static QByteArray requestFrame(const QByteArray &storedBody, const QByteArray &count,
                                   const QByteArray &field, int pieceSize, bool hex);

    // The fields kept from the last transfer start; empty until one arrived.
    QByteArray count() const { return m_count; }
    QByteArray field() const { return m_field; }

    // Starts a transfer: keeps count and field, forgets which pieces were
    // written and creates both files empty (and their folder when missing).
    // False when the files cannot be created; the fields are kept anyway.
    bool start(const QByteArray &count, const QByteArray &field);
    // Appends one piece unless its number was already written in this
    // transfer. False only when the data could not be written: the piece then
    // counts as not received.
    bool storePiece(int number, const QByteArray &data, bool hex);
    // Ends the transfer under way (the module's 0x1F): the marker is
    // removed. False when no transfer was under way.
    bool finish();

    // Between a transfer's first frame and its end.
    bool inProgress() const { return m_inProgress; }
    // Pieces and data bytes written in the transfer under way or just ended.
    int pieces() const { return m_pieces; }
    qint64 bytes() const { return m_bytes; }
    // The image file the pieces went to: that of the last piece written, or
    // the bin file before any.
    QString imageFile() const { return m_lastFile.isEmpty() ? m_binFile : m_lastFile; }
    // The marker that stands beside the image while it is incomplete.
    QString markerFile() const { return m_markerFile; }

private:
    bool prepareFolder() const;
    void begin();

    QString m_binFile;
    QString m_hexFile;
    QString m_markerFile;
    QString m_lastFile;
    bool m_inProgress = false;
    int m_pieces = 0;
    qint64 m_bytes = 0;
    QByteArray m_count;
    QByteArray m_field;
    QBitArray m_written; // one bit per 16-bit piece number
};
