// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-dpserver: serves data-point definitions from a folder of KEY.json
// files on 127.0.0.1, so that Lumo can fetch definitions without a cloud
// account. Usage: lumo-dpserver [--port N] [--folder DIR] [--max-connections N]
#include "base/apppaths.h"
#include "dpservice/datapointserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#ifndef LUMO_VERSION
#error "LUMO_VERSION is the project version, defined by cmake/install.cmake"
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumo-dpserver"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves GET /v2/datapoint?product_key=KEY&format=json from KEY.json files."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        {QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("TCP port on 127.0.0.1 (default %1; 0 picks a free one).")
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
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        err << "lumo-dpserver: not a port number: " << parser.value(portOption) << Qt::endl;
        return 2;
    }
    const uint maxConnections = parser.value(maxOption).toUInt(&ok);
    if (!ok || maxConnections < 1 || maxConnections > 10000) {
        err << "lumo-dpserver: not a connection count (1 to 10000): " << parser.value(maxOption)
            << Qt::endl;
        return 2;
    }
    // Without --folder the service reads the definitions Lumo itself keeps,
    // the shipped samples included; choosing that folder costs nothing when
    // a folder is given.
    const QString folder
        = QDir(parser.isSet(folderOption) ? parser.value(folderOption)
                                          : AppPaths::chooseRoot() + QStringLiteral("/dpserver"))
              .absolutePath();
    if (!QDir(folder).exists())
        err << "lumo-dpserver: warning: folder " << folder << " does not exist" << Qt::endl;

    DataPointServer server(folder);
    server.setMaxConnections(int(maxConnections));
    QObject::connect(&server, &DataPointServer::requestLogged, &app,
                     [&out](const QString &line) { out << line << Qt::endl; });
    if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
        err << "lumo-dpserver: cannot listen on 127.0.0.1:" << port << ": " << server.errorString()
            << Qt::endl;
        return 1;
    }
    out << "lumo-dpserver: serving " << folder << " on http://127.0.0.1:" << server.serverPort()
        << "/v2/datapoint?product_key=KEY&format=json" << Qt::endl;
    return app.exec();
}
