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

private:
    bool prepareFolder() const;

    QString m_binFile;
    QString m_hexFile;
    QByteArray m_count;
    QByteArray m_field;
    QBitArray m_written; // one bit per 16-bit piece number
};
