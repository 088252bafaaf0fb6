// SPDX-License-Identifier: GPL-3.0-or-later
#include "rig/capturesession.h"

#include "analyzer/duallinetap.h"
#include "bridge/linebridge.h"
#include "capture/linemonitor.h"
#include "capture/sessionrecorder.h"
#include "engine/headlessprogram.h"
#include "serial/anyline.h"
#include "serial/networkaddress.h"
#include "serial/zemserialport.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int RetryIntervalMs = 500;
// How often a pipe's or FIFO's reader is looked for while the line is quiet:
// a stopped Wireshark must not leave the ports held for longer than this.
constexpr int ReaderWatchMs = 100;

AnyLine *newLine(QObject *parent)
{
    auto *line = new AnyLine(parent);
    // Whoever names a path on a command line means that device, listed or
    // not (a pseudo-terminal, a socat link).
    line->port()->setAcceptUnlisted(true);
    return line;
}

} // namespace

CaptureSession::CaptureSession(const Options &options, const HeadlessProgram &program,
                               QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_program(program)
    , m_side1(newLine(this))
    , m_monitor(new LineMonitor(this))
    , m_recorder(new SessionRecorder(this))
    , m_retry(new QTimer(this))
    , m_readerWatch(new QTimer(this))
{
    if (m_options.sniffPort.isEmpty()) {
        m_side2 = newLine(this);
        // The tab's forwarding and the tab's taps: the bridge's own writes
        // are not recorded, they are what the other side just read.
        m_bridge = new LineBridge(m_side1, m_side2, this);
        // Side 1 is the MCU, as the tab has it by default.
        new DualLineTap(m_monitor, m_side1, m_side2, this);
    } else {
        m_monitor->attach(m_side1, m_options.sniffDirection, false);
    }
    for (AnyLine *line : {m_side1, m_side2}) {
        if (!line)
            continue;
        // A local port is open when openLine() returns; a network line
        // connects in the background and says which way it went.
        connect(line, &Line::Opened, this, [this, line] { onOpened(line); });
        connect(line, &Line::OpenFailed, this,
                [this, line](const QString &reason) { onOpenFailed(line, reason); });
        connect(line, &Line::Lost, this,
                [this, line](const QString &reason) { onLost(line, reason); });
    }
    m_recorder->setPacketLimit(m_options.packetLimit);
    connect(m_recorder, &SessionRecorder::limitReached, this, [this] { stop(0); });
    m_retry->setInterval(RetryIntervalMs);
    connect(m_retry, &QTimer::timeout, this, &CaptureSession::retryOpen);
    m_readerWatch->setInterval(ReaderWatchMs);
    connect(m_readerWatch, &QTimer::timeout, this, [this] {
        if (readerGone())
            stop(0);
    });
}

CaptureSession::~CaptureSession()
{
    if (m_readerFd > STDOUT_FILENO)
        ::close(m_readerFd);
}

qint64 CaptureSession::packetCount() const
{
    return m_recorder->packetCount();
}

QString CaptureSession::addressOf(const AnyLine *line) const
{
    if (!bridging())
        return m_options.sniffPort;
    return line == m_side1 ? m_options.mcuPort : m_options.modulePort;
}

void CaptureSession::start()
{
    // The ports first: a port that does not open leaves no file behind.
    bool waiting = false;
    for (AnyLine *line : {m_side1, m_side2}) {
        if (!line || openSide(line))
            continue;
        const QString address = addressOf(line);
        // A rig may start the capture before the link it is to open exists.
        if (m_options.waitForPort && !NetworkAddress::isNetwork(address)
            && !QFileInfo::exists(address)) {
            m_program.error(
                QStringLiteral("port %1 does not exist yet; waiting for it").arg(address));
            waiting = true;
            continue;
        }
        m_program.cannotOpen(address, line->openFailureReason());
        stop(HeadlessProgram::ExitUsage);
        return;
    }
    // Nothing read is handed on before the event loop turns, so the file
    // misses no byte. Its header goes out at once: Wireshark waits for it
    // on its FIFO before it shows the capture as running.
    QString why;
    if (!m_recorder->startFile(m_monitor, m_options.output, &why)) {
        m_program.error(why);
        stop(HeadlessProgram::ExitUsage);
        return;
    }
    // From here on a failed write ends a run that has begun.
    connect(m_recorder, &SessionRecorder::failed, this, &CaptureSession::onRecorderFailed);
    watchReader();
    if (waiting) {
        m_waiting = true;
        m_retry->start();
    }
    if (m_options.durationMs > 0)
        QTimer::singleShot(m_options.durationMs, this, [this] { stop(0); });
}

bool CaptureSession::openSide(AnyLine *line)
{
    return line->openLine(addressOf(line), m_options.line);
}

void CaptureSession::onOpened(AnyLine *line)
{
    if (m_done)
        return;
    if (m_waiting)
        m_program.error(QStringLiteral("port %1 is open").arg(addressOf(line)));
    for (const AnyLine *side : {m_side1, m_side2}) {
        if (side && (!side->isLineOpen() || side->isLineConnecting()))
            return;
    }
    m_waiting = false;
    // A lost side switched the bridge off; with both sides back the devices
    // hear each other again.
    if (m_bridge)
        m_bridge->setOn(true);
}

void CaptureSession::onOpenFailed(AnyLine *line, const QString &reason)
{
    if (m_done)
        return;
    if (!m_options.waitForPort) {
        m_program.cannotOpen(addressOf(line), reason);
        stop(HeadlessProgram::ExitUsage);
        return;
    }
    if (!m_waiting)
        m_program.error(QStringLiteral("cannot reach %1 yet (%2); waiting for it")
                            .arg(addressOf(line), reason));
    m_waiting = true;
    m_retry->start();
}

void CaptureSession::onLost(AnyLine *line, const QString &reason)
{
    if (m_done)
        return;
    if (!m_options.waitForPort) {
        m_program.portLost(addressOf(line), reason);
        stop(HeadlessProgram::ExitFailed);
        return;
    }
    m_program.portLost(addressOf(line), reason, QStringLiteral("; waiting for it to return"));
    m_waiting = true;
    // A network line that dropped reconnects by itself; one that the server
    // closed at once, and a local port, are closed and opened again here.
    m_retry->start();
}

void CaptureSession::retryOpen()
{
    bool pending = false;
    for (AnyLine *line : {m_side1, m_side2}) {
        if (!line || line->isLineOpen())
            continue;
        const QString address = addressOf(line);
        // A network line is tried once a tick: it answers with Opened or
        // OpenFailed. A local port is there, and opens, or not.
        if (NetworkAddress::isNetwork(address))
            openSide(line);
        else if (!QFileInfo::exists(address) || !openSide(line))
            pending = true;
    }
    if (!pending)
        m_retry->stop();
}

void CaptureSession::watchReader()
{
    const QString &output = m_options.output;
    if (output == QLatin1String("-")) {
        struct stat info = {};
        if (::fstat(STDOUT_FILENO, &info) == 0 && S_ISFIFO(info.st_mode))
            m_readerFd = STDOUT_FILENO;
    } else {
        struct stat info = {};
        if (::stat(QFile::encodeName(output).constData(), &info) == 0 && S_ISFIFO(info.st_mode))
            // A second writer's end on the FIFO: it sees the reader leave
            // as the writer's own does, without touching the writer.
            m_readerFd
                = ::open(QFile::encodeName(output).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (m_readerFd >= 0)
        m_readerWatch->start();
}

bool CaptureSession::readerGone() const
{
    if (m_readerFd < 0)
        return false;
    // The write end of a pipe whose last reader closed reports POLLERR.
    pollfd p = {m_readerFd, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP));
}

void CaptureSession::onRecorderFailed(const QString &message)
{
    if (m_done)
        return;
    // Wireshark or tshark stopped reading: that is how a live capture ends.
    if (readerGone()) {
        stop(0);
        return;
    }
    m_program.error(message);
    stop(HeadlessProgram::ExitFailed);
}

void CaptureSession::stop(int status)
{
    if (m_done)
        return;
    m_done = true;
    m_retry->stop();
    m_readerWatch->stop();
    // To a reader that has gone the tail fails to write (SIGPIPE is
    // ignored): m_done keeps that failure from being reported.
    m_recorder->stop();
    for (AnyLine *line : {m_side1, m_side2}) {
        if (line)
            line->closeLine();
    }
    emit finished(status);
}
