// SPDX-License-Identifier: GPL-3.0-or-later
#include "ptybridge.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

PtyBridge::PtyBridge()
{
    if (!isValid())
        return;
    // The programs started on the ends must not hold the masters open.
    ::fcntl(m_a.masterFd(), F_SETFD, FD_CLOEXEC);
    ::fcntl(m_b.masterFd(), F_SETFD, FD_CLOEXEC);
    m_fromA = new QSocketNotifier(m_a.masterFd(), QSocketNotifier::Read, this);
    m_fromB = new QSocketNotifier(m_b.masterFd(), QSocketNotifier::Read, this);
    connect(m_fromA, &QSocketNotifier::activated, this,
            [this] { relay(m_a.masterFd(), m_b.masterFd()); });
    connect(m_fromB, &QSocketNotifier::activated, this,
            [this] { relay(m_b.masterFd(), m_a.masterFd()); });
}

PtyBridge::~PtyBridge()
{
    delete m_fromA;
    delete m_fromB;
}

void PtyBridge::relay(int from, int to)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n <= 0)
            return; // EAGAIN: all read; EIO: no program on that end yet
        ssize_t done = 0;
        QElapsedTimer clock;
        clock.start();
        while (done < n && clock.elapsed() < 5000) {
            const ssize_t w = ::write(to, buffer + done, size_t(n - done));
            if (w > 0)
                done += w;
            else if (w < 0 && errno != EAGAIN && errno != EINTR)
                return;
            else
                usleep(1000);
        }
        m_carried += done;
    }
}
