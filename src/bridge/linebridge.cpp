// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridge/linebridge.h"

#include "serial/line.h"

LineBridge::LineBridge(Line *side1, Line *side2, QObject *parent)
    : QObject(parent)
    , m_side1(side1)
    , m_side2(side2)
{
    for (int side : {1, 2}) {
        Line *l = line(side);
        if (!l)
            continue;
        connect(l, &Line::DataReady, this, [this, side](const QByteArray &d) { onData(side, d); });
        connect(l, &Line::Lost, this, [this, side](const QString &r) { onLost(side, r); });
    }
}

Line *LineBridge::line(int side) const
{
    return side == 2 ? m_side2.data() : m_side1.data();
}

void LineBridge::setOn(bool on)
{
    if (on == m_on)
        return;
    m_on = on;
    emit switched(on);
}

bool LineBridge::sendByHand(int side, const QByteArray &bytes)
{
    Line *l = line(side);
    if (!l || bytes.isEmpty() || !l->isLineOpen())
        return false;
    if (l->send(bytes) < 0)
        return false;
    emit sentByHand(side == 2 ? 2 : 1, bytes);
    return true;
}

void LineBridge::onData(int side, const QByteArray &data)
{
    // A side whose line failed has closed itself and is skipped from then on.
    Line *to = line(side == 1 ? 2 : 1);
    if (m_on && to && to->isLineOpen())
        to->send(data);
    emit received(side, data);
}

void LineBridge::onLost(int side, const QString &reason)
{
    const bool wasOn = m_on;
    setOn(false);
    const Line *l = line(side);
    emit lineLost(side, l ? l->address() : QString(), reason, wasOn);
}
