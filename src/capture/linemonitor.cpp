// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/linemonitor.h"

#include "protocol/lineevent.h"
#include "serial/line.h"

#include <QTimer>

#include <chrono>

LineMonitor::LineMonitor(QObject *parent)
    : QObject(parent)
    , m_taps{Tap(LineDirection::McuToModule), Tap(LineDirection::ModuleToMcu)}
    , m_timer(new QTimer(this))
{
    qRegisterMetaType<LineSegment>();
    qRegisterMetaType<QVector<LineSegment>>();
    m_timer->setInterval(BatchIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &LineMonitor::onTick);
}

LineMonitor::~LineMonitor() = default;

qint64 LineMonitor::nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

LineMonitor::Tap &LineMonitor::tap(LineDirection direction)
{
    return m_taps[direction == LineDirection::McuToModule ? 0 : 1];
}

void LineMonitor::addBytes(LineDirection direction, const QString &portName,
                           const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    Tap &t = tap(direction);
    // A segment carries one port's bytes: when another port starts talking
    // in this direction, what the previous one left is handed on first.
    if (portName != t.portName) {
        if (t.segmenter.holding()) {
            const qsizetype first = m_pending.size();
            t.segmenter.flush(m_pending);
            collect(t, first);
        }
        t.portName = portName;
    }
    const qsizetype first = m_pending.size();
    t.lastByteUs = nowUs();
    t.segmenter.feed(bytes, t.lastByteUs, m_pending);
    collect(t, first);
    if (!m_timer->isActive())
        m_timer->start();
}

void LineMonitor::addEvent(LineDirection direction, const QString &portName,
                           const QByteArray &event)
{
    LineSegment s;
    s.timeUs = nowUs();
    s.direction = direction;
    s.kind = SegmentKind::Event;
    s.wire = event;
    m_pending.append(s);
    m_pendingPorts.append(portName);
    if (!m_timer->isActive())
        m_timer->start();
}

void LineMonitor::collect(Tap &tap, qsizetype firstNew)
{
    for (qsizetype i = firstNew; i < m_pending.size(); ++i)
        m_pendingPorts.append(tap.portName);
}

void LineMonitor::onTick()
{
    const qint64 now = nowUs();
    for (Tap &t : m_taps) {
        if (t.segmenter.holding() && now - t.lastByteUs >= HoldLimitUs) {
            const qsizetype first = m_pending.size();
            t.segmenter.flush(m_pending);
            collect(t, first);
        }
    }
    emitPending(false);
    if (!m_taps[0].segmenter.holding() && !m_taps[1].segmenter.holding() && m_pending.isEmpty())
        m_timer->stop();
}

void LineMonitor::flush()
{
    for (Tap &t : m_taps) {
        const qsizetype first = m_pending.size();
        t.segmenter.flush(m_pending);
        collect(t, first);
    }
    emitPending(true);
    m_timer->stop();
}

qint64 LineMonitor::heldSinceUs() const
{
    qint64 since = -1;
    for (const Tap &t : m_taps) {
        if (!t.segmenter.holding())
            continue;
        const qint64 held = t.segmenter.heldSinceUs();
        if (held >= 0 && (since < 0 || held < since))
            since = held;
    }
    return since;
}

void LineMonitor::emitPending(bool all)
{
    if (m_pending.isEmpty())
        return;
    // Each direction's segments are in order already, and so are the
    // events: merge the three, which keeps each one's own order even if the
    // clock stepped back. At equal times bytes come before events.
    QVector<qsizetype> order;
    order.reserve(m_pending.size());
    {
        QVector<qsizetype> lists[3];
        for (qsizetype i = 0; i < m_pending.size(); ++i) {
            const LineSegment &s = m_pending.at(i);
            lists[s.kind == SegmentKind::Event                    ? 2
                      : s.direction == LineDirection::McuToModule ? 0
                                                                  : 1]
                .append(i);
        }
        qsizetype at[3] = {0, 0, 0};
        while (order.size() < m_pending.size()) {
            int next = -1;
            for (int l = 0; l < 3; ++l) {
                if (at[l] >= lists[l].size())
                    continue;
                if (next < 0
                    || m_pending.at(lists[l].at(at[l])).timeUs
                        < m_pending.at(lists[next].at(at[next])).timeUs)
                    next = l;
            }
            order.append(lists[next].at(at[next]++));
        }
    }

    // What arrived after a held byte waits for it, unless it has waited long
    // enough: then the held bytes go out as they stand, and all with them.
    qsizetype ready = order.size();
    const qint64 held = all ? -1 : heldSinceUs();
    if (held >= 0) {
        ready = 0;
        while (ready < order.size() && m_pending.at(order.at(ready)).timeUs <= held)
            ++ready;
        if (ready < order.size() && nowUs() - held >= OrderWaitUs) {
            for (Tap &t : m_taps) {
                if (!t.segmenter.holding())
                    continue;
                const qsizetype first = m_pending.size();
                t.segmenter.flush(m_pending);
                collect(t, first);
            }
            emitPending(true);
            return;
        }
        if (ready == 0)
            return;
    }

    // Swapped out first: a receiver may feed more bytes while it handles
    // this batch.
    QVector<LineSegment> batch;
    QStringList ports;
    batch.reserve(ready);
    ports.reserve(int(ready));
    for (qsizetype i = 0; i < ready; ++i) {
        batch.append(m_pending.at(order.at(i)));
        ports.append(m_pendingPorts.at(int(order.at(i))));
    }
    QVector<LineSegment> rest;
    QStringList restPorts;
    for (qsizetype i = ready; i < order.size(); ++i) {
        rest.append(m_pending.at(order.at(i)));
        restPorts.append(m_pendingPorts.at(int(order.at(i))));
    }
    m_pending.swap(rest);
    m_pendingPorts.swap(restPorts);
    emit segments(batch, ports);
}

void LineMonitor::attach(Line *line, LineDirection readDirection, bool tapWrites)
{
    if (!line)
        return;
    // Attaching again (a tap re-wired) keeps the name the line was opened
    // with; a line never seen open goes by its last address until it opens.
    const QString name = m_portNames.value(line, line->address());
    disconnect(line, nullptr, this, nullptr);
    m_portNames.insert(line, name);
    connect(line, &Line::Opened, this, [this, line](const QString &address) {
        m_portNames.insert(line, address);
        emit portOpened(address);
    });
    // DataReceived comes before DataReady: what was read is taken before an
    // owner that answers at once (the simulated MCU) writes its reply.
    connect(line, &Line::DataReceived, this, [this, line, readDirection](const QByteArray &d) {
        addBytes(readDirection, m_portNames.value(line), d);
    });
    // What the program does to the line goes toward the device it leads to.
    const LineDirection towardDevice = oppositeDirection(readDirection);
    connect(line, &Line::ModemLineChanged, this, [this, line, towardDevice](int which, bool on) {
        addEvent(towardDevice, m_portNames.value(line),
                 LineEvent::modemLine(which == Line::Rts ? LineEvent::Rts : LineEvent::Dtr, on));
    });
    connect(line, &Line::BreakSent, this, [this, line, towardDevice](int durationMs) {
        addEvent(towardDevice, m_portNames.value(line), LineEvent::breakSent(durationMs));
    });
    if (tapWrites) {
        const LineDirection written = oppositeDirection(readDirection);
        connect(line, &Line::DataSent, this, [this, line, written](const QByteArray &d) {
            addBytes(written, m_portNames.value(line), d);
        });
    }
    connect(line, &QObject::destroyed, this, [this, line] { m_portNames.remove(line); });
}

QString LineMonitor::portNameOf(const Line *line) const
{
    return m_portNames.value(line);
}

void LineMonitor::detach(Line *line)
{
    if (!line)
        return;
    disconnect(line, nullptr, this, nullptr);
    m_portNames.remove(line);
}
