// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-dpserver: serves data-point definitions from a folder of KEY.json
// files on 127.0.0.1, so that Lumo can fetch definitions without a cloud
// account. Usage: lumo-dpserver [--listen N] [--folder DIR] [--max-connections N]
#include "base/apppaths.h"
#include "dpservice/datapointserver.h"
#include "engine/headlessprogram.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const HeadlessProgram program(QStringLiteral("lumo-dpserver"));
    QCoreApplication::setApplicationName(program.name());
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves GET /v2/datapoint?product_key=KEY&format=json from KEY.json files until "
        "SIGINT or SIGTERM."));
    parser.addHelpOption();
    parser.addVersionOption();
    // -p is a serial port's path in every other program; --port stays for
    // the scripts that named the TCP port so.
    const QCommandLineOption portOption(
        {QStringLiteral("l"), QStringLiteral("listen"), QStringLiteral("port")},
        QStringLiteral("TCP port on 127.0.0.1 (default %1; 0 picks a free one). --port is "
                       "the older name of --listen.")
            .arg(DataPointServer::DefaultPort),
        QStringLiteral("port"), QString::number(DataPointServer::DefaultPort));
    const QCommandLineOption folderOption(
        {QStringLiteral("f"), QStringLiteral("folder")},
        QStringLiteral("Folder of KEY.json files (default: dpserver/ in Lumo's folder, the "
                       "program's own or ~/.local/share/lumo once installed)."),
        QStringLiteral("folder"));
    const QCommandLineOption maxOption(
        {QStringLiteral("m"), QStringLiteral("max-connections")},
        QStringLiteral("Connections served at once (default %1). When all are taken, the one "
                       "idle longest makes room; when all are busy, 503.")
            .arg(DataPointServer::DefaultMaxConnections),
        QStringLiteral("count"), QString::number(DataPointServer::DefaultMaxConnections));
    parser.addOption(portOption);
    parser.addOption(folderOption);
    parser.addOption(maxOption);
    if (!program.parse(parser))
        return HeadlessProgram::ExitUsage;

    if (!parser.positionalArguments().isEmpty())
        return program.usage(QStringLiteral("unexpected argument: %1 (see --help)")
                                 .arg(parser.positionalArguments().constFirst()));
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return program.usage(QStringLiteral("not a port number: %1").arg(parser.value(portOption)));
    const uint maxConnections = parser.value(maxOption).toUInt(&ok);
    if (!ok || maxConnections < 1 || maxConnections > 10000)
        return program.usage(
            QStringLiteral("not a connection count (1 to 10000): %1").arg(parser.value(maxOption)));
    // Without --folder the service reads the definitions Lumo itself keeps,
    // the shipped samples included; choosing that folder costs nothing when
    // a folder is given.
    const QString folder
        = QDir(parser.isSet(folderOption) ? parser.value(folderOption)
                                          : AppPaths::chooseRoot() + QStringLiteral("/dpserver"))
              .absolutePath();
    if (!QDir(folder).exists())
        program.error(QStringLiteral("warning: folder %1 does not exist").arg(folder));

    DataPointServer server(folder);
    server.setMaxConnections(int(maxConnections));
    QObject::connect(&server, &DataPointServer::requestLogged, &app, &HeadlessProgram::print);
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        program.error(QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                          .arg(port)
                          .arg(server.errorString()));
        return HeadlessProgram::ExitUsage;
    }
    if (!HeadlessProgram::onStopSignal(&app,
                                       [] { QCoreApplication::exit(HeadlessProgram::ExitOk); })) {
        program.error(QStringLiteral("cannot install the SIGINT/SIGTERM handlers"));
        return HeadlessProgram::ExitUsage;
    }
    HeadlessProgram::print(
        QStringLiteral("lumo-dpserver: serving %1 on http://127.0.0.1:%2/v2/datapoint?product_key="
                       "KEY&format=json")
            .arg(folder)
            .arg(server.serverPort()));
    return app.exec();
}
