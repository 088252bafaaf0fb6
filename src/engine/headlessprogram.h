// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCommandLineOption>
#include <QString>

#include <functional>

class QCommandLineParser;
class QObject;

// What every command-line program of Lumo shares (lumo-mcu, lumo-module and
// whatever runs on a test rig next): one form for output and errors, one
// meaning of --root, the quiet core, the exit statuses, and a clean stop on
// SIGINT and SIGTERM.
//
// Output goes out a line at a time and is flushed at once: a test rig reads
// it through a pipe and must see each line when it happens.
class HeadlessProgram
{
public:
    // Exit statuses: 0 done (every step passed), 1 a run failed (a step
    // failed, the port was lost), 2 no run was possible (bad options, a port
    // that does not open, a definition refused).
    enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

    explicit HeadlessProgram(const QString &name);

    QString name() const { return m_name; }
    // One line on standard output.
    static void print(const QString &line);
    // "<name>: <text>" on standard error.
    void error(const QString &text) const;
    // error(text), then ExitUsage: `return program.usage("…")`.
    int usage(const QString &text) const;

    // The same --root for every program.
    static QCommandLineOption rootOption();
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
