// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyzer/duallinetap.h"

#include "capture/linemonitor.h"
#include "serial/line.h"

DualLineTap::DualLineTap(LineMonitor *monitor, Line *side1, Line *side2, QObject *parent)
    : QObject(parent)
    , m_monitor(monitor)
    , m_side1(side1)
    , m_side2(side2)
{
    tap();
}

LineDirection DualLineTap::readDirection(int side, int mcuSide)
{
    const bool fromMcu = (side == 2) == (mcuSide == 2);
    return fromMcu ? LineDirection::McuToModule : LineDirection::ModuleToMcu;
}

void DualLineTap::setMcuSide(int side)
{
    side = side == 2 ? 2 : 1;
    if (side == m_mcuSide)
        return;
    m_mcuSide = side;
    tap();
}

void DualLineTap::tap()
{
    if (!m_monitor)
        return;
    // Attaching again replaces the earlier tap of the same port.
    m_monitor->attach(m_side1, readDirection(1, m_mcuSide), false);
    m_monitor->attach(m_side2, readDirection(2, m_mcuSide), false);
}

void DualLineTap::addSentByHand(int side, const QByteArray &bytes)
{
    Line *port = side == 2 ? m_side2 : m_side1;
    if (!m_monitor || !port)
        return;
    // Recorded under the name the port's own reads carry.
    m_monitor->addBytes(oppositeDirection(readDirection(side, m_mcuSide)),
                        m_monitor->portNameOf(port), bytes);
}
