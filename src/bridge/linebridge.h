// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class Line;

// The bridge of the dual tab: two lines, side 1 and side 2, and while it is
// on, whatever one side reads is written unchanged to the other. It knows
// nothing of windows; the tab shows what it reports.
//
// Forwarding comes first and never waits for anyone: the chunk is written to
// the other side before `received` is emitted, so a slow view cannot delay
// the far device.
//
// When a side's line fails while open, the bridge switches itself off (the
// two devices no longer hear each other, and nothing may claim they do) and
// says so with `lineLost`, which also tells whether it was on: a view needs
// no second slot on the line's own signal, and nothing depends on the order
// in which slots were connected.
class LineBridge : public QObject
{
    Q_OBJECT
public:
    LineBridge(Line *side1, Line *side2, QObject *parent = nullptr);

    // 1 or 2; anything else is side 1.
    Line *line(int side) const;

    bool isOn() const { return m_on; }
    void setOn(bool on);

    // Writes bytes the user typed or picked to `side` when its line is open.
    // True, and `sentByHand` emitted, when they were handed to the line.
    bool sendByHand(int side, const QByteArray &bytes);

signals:
    // `side` read `data`; when the bridge is on, the other side has it already.
    void received(int side, const QByteArray &data);
    // Bytes sent by hand to `side`, as written. Forwarded bytes are not
    // reported here: they are the ones the other side just received.
    void sentByHand(int side, const QByteArray &bytes);
    void switched(bool on);
    // The line of `side` failed and closed itself; `address` is where it was
    // open, `reason` the device's text. `wasOn`: the bridge was on and has
    // just been switched off because of it.
    void lineLost(int side, const QString &address, const QString &reason, bool wasOn);

private:
    void onData(int side, const QByteArray &data);
    void onLost(int side, const QString &reason);

    QPointer<Line> m_side1;
    QPointer<Line> m_side2;
    bool m_on = true;
};
