// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>

class DoubleWindow;
#include <memory>

// A pseudo-terminal pair made by the test. The program's port opens
// slavePath(); the test plays the device on the master side.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    // The non-blocking master descriptor, for device loops on another thread.
    int masterFd() const { return m_master; }

    // Writes everything (retrying on a full buffer while the event loop runs).
    bool write(const QByteArray &bytes);
    // Reads until `count` bytes arrived or `timeoutMs` passed, running the
    // event loop meanwhile so the program under test can work.
    QByteArray read(int count, int timeoutMs = 3000);
    // Reads whatever arrives within `ms` milliseconds.
    QByteArray readFor(int ms);
    // Closes the master side: the program's end sees the device vanish.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
};

// A temporary program folder holding a copy of the shipped runtime files;
// all program paths point into it while it lives.
class TestRoot
{
public:
    explicit TestRoot(bool copyRuntime = true);
    ~TestRoot();
    QString path() const { return m_dir.path(); }
    QString file(const QString &relative) const
    {
        return m_dir.path() + QLatin1Char('/') + relative;
    }
    // The raw text of the settings file on disk.
    QString settingsText() const;

private:
    QTemporaryDir m_dir;
};

// Sets LUMO_EXTRA_PORTS so that the port list offers these paths, and
// waits for the port watcher's list to take them in (syncPortList).
void setExtraPorts(const QStringList &paths);
// Has the port watcher rescan and waits (running events) until its list
// comes from a scan begun after the call.
bool syncPortList(int timeoutMs = 3000);
// Chooses the two ports in the dual tab's fields (once they are listed) and
// clicks both open buttons; true when both sides are open.
bool openDualSides(DoubleWindow *dual, const QString &side1, const QString &side2);

// Arms a watcher that closes the next modal message box to appear (within
// timeoutMs) and records its title, text and informative text. Call before
// the action that opens the box; after it returns, check found().
class MessageBoxCatcher
{
public:
    explicit MessageBoxCatcher(int timeoutMs = 5000);
    bool found() const { return m_state->found; }
    QString title() const { return m_state->title; }
    QString text() const { return m_state->text; }
    QString informativeText() const { return m_state->informativeText; }
    // Waits (running events) until a box was caught or the time is over.
    bool wait(int timeoutMs = 3000);

private:
    struct State
    {
        bool found = false;
        QString title;
        QString text;
        QString informativeText;
    };
    std::shared_ptr<State> m_state;
};

// The output speed in the kernel's termios of the terminal open at `fd`, as
// TCGETS2 reports it (c_ospeed, in baud, for custom and standard rates
// alike); -1 when the call fails. `custom`: whether it is set as a custom
// rate (BOTHER) rather than one of the standard speed codes.
qint64 termiosOutputSpeed(int fd, bool *custom = nullptr);

// Runs the event loop until `done` returns true or timeoutMs passes.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 3000);

// A program a test started, once it ended: its exit code (-1 when it crashed
// or did not end in time, and was killed) and what it printed.
struct Finished
{
    int exitCode = -1;
    QString out;
    QString err;
};
// Waits for `process` while the event loop runs, so that whatever the test
// drives meanwhile (a bridge, a server) keeps working; QProcess's own wait
// would block it.
class QProcess;
Finished waitFor(QProcess &process, int timeoutMs = 90000);

// The hex text "FF FF 00 05" -> bytes; for readable test data.
QByteArray hex(const char *text);

// An unescaped frame: header, length, command, sequence number, flags 00 00,
// payload and a correct checksum.
QByteArray makeFrame(int command, int sequence, const QByteArray &payload = QByteArray());
// The same frame as it goes on the wire, escaped.
QByteArray wireFrame(int command, int sequence, const QByteArray &payload = QByteArray());

// A segment of the line as the monitor hands it on.
LineSegment segment(LineDirection direction, qint64 timeUs, const QByteArray &wire,
                    SegmentKind kind = SegmentKind::Frame4);

// A realistic line: frames of 9 to maxPayload + 9 bytes with random payloads
// (so FFs and their escapes occur), escaped as on the wire, with a little
// noise that is no header between some of them; cut to targetBytes. The
// same seed gives the same stream. frameCount, when given, gets the number
// of frames begun.
QByteArray frameStream(int targetBytes, quint32 seed, int maxPayload = 291,
                       int *frameCount = nullptr);
