// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "testsupport.h"

#include <QObject>

class QSocketNotifier;

// Two pseudo-terminals joined back to back, like a null-modem cable between
// two serial ports: whatever one program writes to endA() the other reads
// from endB(), and back. The test's event loop carries the bytes, so it
// must run (waitUntil, QSignalSpy::wait) while the programs talk.
class PtyBridge : public QObject
{
    Q_OBJECT
public:
    PtyBridge();
    ~PtyBridge() override;
    bool isValid() const { return m_a.isValid() && m_b.isValid(); }
    QString endA() const { return m_a.slavePath(); }
    QString endB() const { return m_b.slavePath(); }
    // Bytes carried so far, in both directions.
    qint64 carried() const { return m_carried; }

private:
    void relay(int from, int to);

    PtyPair m_a;
    PtyPair m_b;
    QSocketNotifier *m_fromA = nullptr;
    QSocketNotifier *m_fromB = nullptr;
    qint64 m_carried = 0;
};
