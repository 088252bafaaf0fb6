// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/headlessprogram.h"

#include "base/apppaths.h"
#include "serial/zemserialport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void writeLine(FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    // A pipe or a file would otherwise see the output in blocks.
    fflush(stream);
}

int stopPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    const ssize_t written = ::write(stopPipe[1], &byte, 1);
    (void)written; // nothing a signal handler could do about a full pipe
}

} // namespace

HeadlessProgram::HeadlessProgram(const QString &name)
    : m_name(name)
{
    // Command-line programs speak English, the reasons of their ports too.
    ZemSerialPort::setEnglishReasons(true);
}

void HeadlessProgram::print(const QString &line)
{
    writeLine(stdout, line);
}

void HeadlessProgram::error(const QString &text) const
{
    writeLine(stderr, m_name + QStringLiteral(": ") + text);
}

int HeadlessProgram::usage(const QString &text) const
{
    error(text);
    return ExitUsage;
}

namespace {

QString reasonText(const QString &reason)
{
    return reason.isEmpty() ? QStringLiteral("no reason given") : reason;
}

} // namespace

void HeadlessProgram::cannotOpen(const QString &path, const QString &reason) const
{
    error(QStringLiteral("cannot open %1: %2").arg(path, reasonText(reason)));
}

void HeadlessProgram::portLost(const QString &path, const QString &reason,
                               const QString &then) const
{
    error(QStringLiteral("lost %1: %2%3").arg(path, reasonText(reason), then));
}

QCommandLineOption HeadlessProgram::portOption(const QString &description)
{
    return QCommandLineOption({QStringLiteral("p"), QStringLiteral("port")}, description,
                              QStringLiteral("path"));
}

QCommandLineOption HeadlessProgram::baudOption()
{
    return QCommandLineOption({QStringLiteral("b"), QStringLiteral("baud")},
                              QStringLiteral("Baud rate (default 9600)."), QStringLiteral("rate"),
                              QStringLiteral("9600"));
}

QCommandLineOption HeadlessProgram::dataBitsOption()
{
    return QCommandLineOption(QStringLiteral("data-bits"),
                              QStringLiteral("5, 6, 7 or 8 (default 8)."), QStringLiteral("bits"),
                              QStringLiteral("8"));
}

QCommandLineOption HeadlessProgram::stopBitsOption()
{
    return QCommandLineOption(QStringLiteral("stop-bits"),
                              QStringLiteral("1, 1.5 or 2 (default 1)."), QStringLiteral("bits"),
                              QStringLiteral("1"));
}

QCommandLineOption HeadlessProgram::parityOption()
{
    return QCommandLineOption(QStringLiteral("parity"),
                              QStringLiteral("none, odd, even or space (default none)."),
                              QStringLiteral("parity"), QStringLiteral("none"));
}

QString HeadlessProgram::exitStatusHelp()
{
    return QStringLiteral(
        "Exit status (the same in every Lumo program): 0 done (every step passed, or stopped "
        "by SIGINT/SIGTERM where that ends the program); 1 the run failed (a step failed, the "
        "port was lost, a run stopped by a signal); 2 no run was possible (bad options, a port "
        "that does not open, no definition, a report that cannot be written).");
}

bool HeadlessProgram::parse(QCommandLineParser &parser) const
{
    parser.setApplicationDescription(parser.applicationDescription() + QLatin1Char('\n')
                                     + exitStatusHelp());
    const QStringList arguments = QCoreApplication::arguments();
    if (!parser.parse(arguments)) {
        error(parser.errorText() + QStringLiteral(" (see --help)"));
        return false;
    }
    // Qt answers these itself and ends the program with status 0.
    for (const char *answered : {"help", "help-all", "version"}) {
        if (parser.isSet(QLatin1String(answered)))
            parser.process(arguments);
    }
    return true;
}

QCommandLineOption HeadlessProgram::rootOption()
{
    return QCommandLineOption(
        QStringLiteral("root"),
        QStringLiteral("Program folder with auto_analyze.ini, json/ and bin/ (default: as lumo "
                       "chooses it). It is made when missing, and the shipped files it lacks "
                       "are copied into it."),
        QStringLiteral("dir"));
}

QCommandLineOption HeadlessProgram::captureOption()
{
    return QCommandLineOption(
        QStringLiteral("capture"),
        QStringLiteral("Record both directions of the line to this file as the analyzer window "
                       "records them (pcap, link type 147), flushed at least once a second; "
                       "lumo-analyze reads it, and so do Lumo's analyzer window and Wireshark."),
        QStringLiteral("file"));
}

bool HeadlessProgram::chooseRoot(const QCommandLineParser &parser) const
{
    const QString option = QStringLiteral("root");
    if (!parser.isSet(option)) {
        AppPaths::chooseRoot();
        return true;
    }
    const QString dir = parser.value(option);
    if (dir.isEmpty() || !QDir().mkpath(dir)) {
        error(QStringLiteral("cannot create the program folder %1").arg(dir));
        return false;
    }
    const QString root = QDir(dir).absolutePath();
    AppPaths::setRoot(root);
    if (QFileInfo::exists(AppPaths::settingsFile()))
        return true;
    // The copy beside the executable (a build folder) or the installed one.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString shipped = QFileInfo::exists(programDir + QStringLiteral("/auto_analyze.ini"))
        ? programDir
        : AppPaths::installedRuntimeDir();
    AppPaths::seedMissing(shipped, root);
    if (!QFileInfo::exists(AppPaths::settingsFile())) {
        error(QStringLiteral("no settings file in %1 and none shipped to copy").arg(root));
        return false;
    }
    return true;
}

void HeadlessProgram::showCoreDebug(bool verbose)
{
    if (!verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
}

bool HeadlessProgram::onStopSignal(QObject *context, std::function<void()> onStop)
{
    if (stopPipe[0] >= 0)
        return false;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    auto *notifier = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [notifier, onStop] {
        notifier->setEnabled(false);
        char byte = 0;
        const ssize_t got = ::read(stopPipe[0], &byte, 1);
        (void)got;
        onStop();
    });
    return true;
}
