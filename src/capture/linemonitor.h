// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"
#include "protocol/streamsegmenter.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QTimer;
class Line;

// The taps of one tab's line: raw bytes of either direction go in, segments
// (v4 frames, v3 frames, runs of other bytes) come out, time-stamped to the
// microsecond when their first byte arrived. One segmenter per direction, so
// the two directions never mix.
//
// Segments are handed on in batches, about every 50 ms, never one signal per
// frame. A partial frame or a run of text that sees no new byte for about
// 300 ms is handed on as it stands: the line is quiet, and the view should
// not keep it back. The wait counts from the last byte, not the first, so a
// long frame on a slow line (a firmware piece takes a second at 9600 baud)
// still arrives whole. Nothing is ever dropped.
//
// Both directions come out in one time order, the order a capture file and
// the frame list need: a segment waits while the other direction holds
// bytes that arrived before it (a run of text waiting for its newline, a
// frame half received). It waits at most OrderWaitUs, less than the
// recorder's flush interval; bytes that kept the other direction waiting that
// long are handed on as they stand, cut where the wait ended.
//
// Events of the line (a modem line set, a break sent; see LineEvent) are
// segments of their own kind, stamped when they happened and put in the same
// time order; they never enter a segmenter, so a frame in progress is not
// cut by them.
class LineMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int BatchIntervalMs = 50;
    static constexpr qint64 HoldLimitUs = 300000;
    static constexpr qint64 OrderWaitUs = 300000;

    explicit LineMonitor(QObject *parent = nullptr);
    ~LineMonitor() override;

    // Bytes of one direction, from the named line, arriving now.
    void addBytes(LineDirection direction, const QString &portName, const QByteArray &bytes);
    // An event of the named line (LineEvent bytes) happening now, toward
    // the device of `direction`.
    void addEvent(LineDirection direction, const QString &portName, const QByteArray &event);
    // Taps a line: what it reads goes as `readDirection`; with `tapWrites`,
    // what is written to it as the opposite direction. Its modem lines and
    // breaks are events toward its device (the opposite direction) either
    // way. Opening the line is reported through portOpened().
    void attach(Line *line, LineDirection readDirection, bool tapWrites);
    void detach(Line *line);
    // The name an attached line's bytes are recorded under: the address it
    // was opened at (empty for a line never attached). Bytes fed by hand for
    // that line should carry the same name.
    QString portNameOf(const Line *line) const;
    // Emits everything held now, complete or not.
    void flush();

    // The clock the taps stamp bytes with: microseconds since the Unix epoch.
    static qint64 nowUs();

signals:
    // portNames[i] is the port batch[i] came from.
    void segments(const QVector<LineSegment> &batch, const QStringList &portNames);
    // An attached line was opened (a recorder may start by itself).
    void portOpened(const QString &portName);

private slots:
    void onTick();

private:
    struct Tap
    {
        LineDirection direction;
        StreamSegmenter segmenter;
        QString portName;      // the port the held bytes came from
        qint64 lastByteUs = 0; // when this direction last saw a byte
        explicit Tap(LineDirection d)
            : direction(d)
            , segmenter(d)
        { }
    };

    Tap &tap(LineDirection direction);
    void collect(Tap &tap, qsizetype firstNew);
    // Hands on, in time order, what no held byte of either direction came
    // before; `all`: everything.
    void emitPending(bool all);
    qint64 heldSinceUs() const; // the earliest byte either tap holds, -1 none

    Tap m_taps[2];
    QVector<LineSegment> m_pending;
    QStringList m_pendingPorts;
    QTimer *m_timer;
    QHash<const Line *, QString> m_portNames; // as each attached line was opened
};
