// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/mainwindow.h"
#include "base/apppaths.h"
#include "base/qtcompat.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTextStream>
#include <QTranslator>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

namespace {

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Serial-port debugging assistant for MCU firmware that talks to a Wi-Fi module over "
        "the framed serial protocol.\n"
        "Its files (settings, pictures, cached data-point definitions, received firmware) "
        "stay beside the program when it carries them and may write there; otherwise they "
        "live in $XDG_DATA_HOME/lumo (~/.local/share/lumo), filled at start with the "
        "installed files that are missing there."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version answer before any window exists, so that they work
// without a display. Only a core application is built for them; options
// that are not ours (Qt's own -platform, -style, ...) are left for the
// window's application to read.
bool answeredWithoutWindow(int argc, char *argv[], int *exitCode)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    describeOptions(parser);
    parser.parse(QCoreApplication::arguments());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        *exitCode = 0;
        return true;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        QTextStream(stdout) << QCoreApplication::applicationName() << ' '
                            << QCoreApplication::applicationVersion() << '\n';
        *exitCode = 0;
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("lumo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    int exitCode = 0;
    if (answeredWithoutWindow(argc, argv, &exitCode))
        return exitCode;

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The window has a fixed size in pixels; on a screen of more than 96 dpi
    // Qt scales it (and the fonts with it), so the forms keep the proportions
    // they are laid out for instead of fonts growing inside a window that
    // does not. Qt 6 always scales.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
    QApplication app(argc, argv);

    // Qt has taken its own options out of the arguments by now; anything
    // left that is not ours is a mistake worth saying so.
    QCommandLineParser parser;
    describeOptions(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        QTextStream(stderr) << "lumo: " << parser.errorText() << '\n';
        return 2;
    }
    if (!parser.positionalArguments().isEmpty()) {
        QTextStream(stderr) << "lumo: unexpected argument: " << parser.positionalArguments().first()
                            << " (see lumo --help)\n";
        return 2;
    }

    // Beside the program when it may write there, otherwise the user's data
    // folder, filled with the installed files before any window reads them.
    AppPaths::chooseRoot();

    // Standard buttons and dialogs in Chinese (确定 rather than OK).
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_zh_CN"), QtCompat::translationsPath()))
        app.installTranslator(&qtTranslator);

    MainWindow window;
    window.show();
    return app.exec();
}
