// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include "base/apppaths.h"
#include "dual/doublewindow.h"
#include "protocol/settingsfile.h"
#include "protocol/zemtool.h"
#include "serial/portwatcher.h"
#include "serial/zemserialport.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return;
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool PtyPair::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return false;
    int done = 0;
    QElapsedTimer clock;
    clock.start();
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (clock.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

QByteArray PtyPair::read(int count, int timeoutMs)
{
    QByteArray out;
    if (m_master < 0)
        return out;
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    while (out.size() < count && clock.elapsed() < timeoutMs) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, int(n));
            continue;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{m_master, POLLIN, 0};
            ::poll(&pfd, 1, 2);
        }
    }
    return out;
}

QByteArray PtyPair::readFor(int ms)
{
    return read(INT_MAX, ms);
}

TestRoot::TestRoot(bool copyRuntime)
{
    const QString dst = m_dir.path();
    if (copyRuntime) {
        const QString src = QStringLiteral(LUMO_RUNTIME_SOURCE);
        QDirIterator it(src, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString from = it.next();
            const QString rel = QDir(src).relativeFilePath(from);
            if (rel.endsWith(QLatin1String(".gitkeep")))
                continue;
            QDir().mkpath(QFileInfo(dst + QLatin1Char('/') + rel).path());
            QFile::copy(from, dst + QLatin1Char('/') + rel);
            QFile(dst + QLatin1Char('/') + rel)
                .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        QDir(dst).mkpath(QStringLiteral("json"));
        QDir(dst).mkpath(QStringLiteral("bin"));
    }
    AppPaths::setRoot(dst);
}

TestRoot::~TestRoot()
{
    AppPaths::setRoot(QString());
}

QString TestRoot::settingsText() const
{
    SettingsFile::flushAll(); // what the program wrote, saved in the background
    QFile f(file(QStringLiteral("auto_analyze.ini")));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

void setExtraPorts(const QStringList &paths)
{
    qputenv("LUMO_EXTRA_PORTS", paths.join(QLatin1Char(',')).toLocal8Bit());
    syncPortList();
}

bool syncPortList(int timeoutMs)
{
    PortWatcher *watcher = PortWatcher::instance();
    const quint64 ticket = watcher->rescan();
    return waitUntil([watcher, ticket] { return watcher->scannedTicket() >= ticket; }, timeoutMs);
}

MessageBoxCatcher::MessageBoxCatcher(int timeoutMs)
    : m_state(std::make_shared<State>())
{
    auto *timer = new QTimer(qApp);
    QElapsedTimer clock;
    clock.start();
    timer->setInterval(10);
    std::shared_ptr<State> state = m_state;
    QObject::connect(timer, &QTimer::timeout, timer, [state, timer, clock, timeoutMs] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box) {
            state->found = true;
            state->title = box->windowTitle();
            state->text = box->text();
            state->informativeText = box->informativeText();
            box->done(QMessageBox::Ok);
        }
        if (box || clock.elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

bool MessageBoxCatcher::wait(int timeoutMs)
{
    std::shared_ptr<State> state = m_state;
    return waitUntil([state] { return state->found; }, timeoutMs);
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(1);
    }
    return true;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray makeFrame(int command, int sequence, const QByteArray &payload)
{
    QByteArray f = hex("FFFF");
    f.append(ZemTool::numberToBytes(quint32(payload.size() + 5), 2));
    f.append(char(command)).append(char(sequence)).append('\0').append('\0');
    f.append(payload).append('\0');
    ZemTool::setFrameChecksum(f);
    return f;
}

QByteArray wireFrame(int command, int sequence, const QByteArray &payload)
{
    return ZemTool::escape(makeFrame(command, sequence, payload));
}

LineSegment segment(LineDirection direction, qint64 timeUs, const QByteArray &wire,
                    SegmentKind kind)
{
    LineSegment s;
    s.direction = direction;
    s.timeUs = timeUs;
    s.kind = kind;
    s.wire = wire;
    return s;
}

QByteArray frameStream(int targetBytes, quint32 seed, int maxPayload, int *frameCount)
{
    QRandomGenerator rng(seed);
    QByteArray stream;
    stream.reserve(targetBytes + 1024);
    int frames = 0;
    while (stream.size() < targetBytes) {
        QByteArray payload(int(rng.bounded(0, maxPayload + 1)), '\0');
        for (char &c : payload)
            c = char(rng.bounded(256));
        stream.append(
            ZemTool::escape(makeFrame(int(rng.bounded(1, 0x21)), int(rng.bounded(256)), payload)));
        ++frames;
        if (rng.bounded(10) == 0)
            stream.append("\x12\x34\x56", 3);
    }
    stream.truncate(targetBytes);
    if (frameCount)
        *frameCount = frames;
    return stream;
}

Finished waitFor(QProcess &process, int timeoutMs)
{
    Finished f;
    if (!waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return f;
    }
    f.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    f.out = QString::fromUtf8(process.readAllStandardOutput());
    f.err = QString::fromUtf8(process.readAllStandardError());
    return f;
}

bool openDualSides(DoubleWindow *dual, const QString &side1, const QString &side2)
{
    dual->port1()->getComList();
    auto *com1 = dual->findChild<QComboBox *>(QStringLiteral("com_1"));
    auto *com2 = dual->findChild<QComboBox *>(QStringLiteral("com_2"));
    auto *open1 = dual->findChild<QPushButton *>(QStringLiteral("pushButton_open1"));
    auto *open2 = dual->findChild<QPushButton *>(QStringLiteral("pushButton_open2"));
    if (!com1 || !com2 || !open1 || !open2)
        return false;
    if (!waitUntil([&] { return com1->findText(side1) >= 0 && com2->findText(side2) >= 0; }))
        return false;
    com1->setCurrentText(side1);
    com2->setCurrentText(side2);
    QTest::mouseClick(open1, Qt::LeftButton);
    QTest::mouseClick(open2, Qt::LeftButton);
    return dual->port1()->isOpen() && dual->port2()->isOpen();
}
