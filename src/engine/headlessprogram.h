// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QString>

#include <functional>

class QCommandLineParser;
class QObject;

// What every command-line program of Lumo shares (lumo-mcu, lumo-module,
// lumo-dpserver and whatever runs on a test rig next): one form for output
// and errors, one meaning of each option name, the quiet core, the exit
// statuses, and a clean stop on SIGINT and SIGTERM.
//
// Output goes out a line at a time and is flushed at once: a test rig reads
// it through a pipe and must see each line when it happens.
class HeadlessProgram
{
public:
    // Exit statuses, the same situation the same number in every program:
    //   0 done: every step passed, or stopped by SIGINT/SIGTERM where that
    //     is how the program ends (lumo-mcu, lumo-dpserver);
    //   1 a run began and failed: a step failed, the port was lost, a
    //     conformance run was stopped by a signal;
    //   2 no run was possible: bad options or values, a port that does not
    //     open (missing, busy, no permission), a definition not to be had,
    //     a TCP port not to be listened on, a report not to be written.
    enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

    // One letter, one meaning, in every program that has it: -p/--port is
    // always a serial port's path and -b/--baud its rate; a TCP port to
    // listen on is -l/--listen (lumo-dpserver, whose --port stays as the
    // older name of --listen).
    static QCommandLineOption portOption(const QString &description);
    static QCommandLineOption baudOption();
    // --data-bits, --stop-bits and --parity, with the forms LineSettings::parse takes.
    static QCommandLineOption dataBitsOption();
    static QCommandLineOption stopBitsOption();
    static QCommandLineOption parityOption();
    // The table above in one paragraph; parse() adds it to the --help text.
    static QString exitStatusHelp();

    explicit HeadlessProgram(const QString &name);

    QString name() const { return m_name; }
    // One line on standard output.
    static void print(const QString &line);
    // "<name>: <text>" on standard error.
    void error(const QString &text) const;
    // error(text), then ExitUsage: `return program.usage("…")`.
    int usage(const QString &text) const;
    // The messages of a port that does not open or is lost, with the reason
    // the line gave (the system's own error), in one form for every program.
    void cannotOpen(const QString &path, const QString &reason) const;
    void portLost(const QString &path, const QString &reason, const QString &then = {}) const;

    // QCommandLineParser::process() with the exit statuses above: an
    // unknown option or a missing value is bad use (Qt's own exits 1).
    // --help (with the exit statuses) and --version are answered, and the
    // program ends, as there.
    bool parse(QCommandLineParser &parser) const;

    // The same --root for every program.
    static QCommandLineOption rootOption();
    // The same --capture FILE for every program that records its own line.
    static QCommandLineOption captureOption();
    // With --root DIR: the folder is made when missing, and the shipped files
    // it lacks (settings, pictures, definitions) are copied into it, as into
    // the user's data folder; without it the folder is chosen as the window
    // chooses it. False, with the reason printed, when the folder cannot be
    // made or holds no settings file afterwards.
    bool chooseRoot(const QCommandLineParser &parser) const;

    // The core's debug lines (each request URL, every report in hex) stay
    // hidden unless `verbose`: standard error is for what went wrong.
    static void showCoreDebug(bool verbose);

    // SIGINT and SIGTERM call `onStop` from the event loop (the handler
    // itself only writes a byte into a socket pair). Once per process; false
    // when the handlers cannot be installed.
    static bool onStopSignal(QObject *context, std::function<void()> onStop);

private:
    QString m_name;
};
