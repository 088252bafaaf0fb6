// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

class LineMonitor;
class Line;

// The taps of the dual tab's line. The tab sits between two devices: what
// side 1 reads comes from the device on side 1, what side 2 reads from the
// device on side 2. Which of them is the MCU only the user knows (side 1 by
// default), and it decides each byte's direction.
//
// The bridge's writes are not tapped: they are the bytes the other side has
// just read, and would count twice. Bytes the user sends by hand to a side
// are new on the line; they travel toward that side's device, the direction
// the other side reads.
class DualLineTap : public QObject
{
    Q_OBJECT
public:
    DualLineTap(LineMonitor *monitor, Line *side1, Line *side2, QObject *parent = nullptr);

    // 1 or 2: the side wired to the MCU. Anything else means side 1.
    void setMcuSide(int side);
    int mcuSide() const { return m_mcuSide; }

    // The direction of what `side` reads (and the opposite: of what is sent
    // to it), with the MCU on `mcuSide`.
    static LineDirection readDirection(int side, int mcuSide);

public slots:
    // Bytes the user sent by hand to side 1 or 2.
    void addSentByHand(int side, const QByteArray &bytes);

private:
    void tap();

    QPointer<LineMonitor> m_monitor;
    QPointer<Line> m_side1;
    QPointer<Line> m_side2;
    int m_mcuSide = 1;
};
