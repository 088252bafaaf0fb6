// SPDX-License-Identifier: GPL-3.0-or-later
// The Debian package as a user installs it: made by cpack from this build,
// unpacked into a temporary root, and the programs inside started from there;
// and as Debian's own checks see it: lintian, its manual pages rendered, its
// AppStream metadata validated against its desktop entry.
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Result
{
    bool ok = false;
    QByteArray out;
};

Result run(const QString &program, const QStringList &args,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 180000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Result r;
    r.ok = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit
        && p.exitCode() == 0;
    if (p.state() != QProcess::NotRunning)
        p.kill(), p.waitForFinished();
    r.out = p.readAll();
    return r;
}

QString projectVersion()
{
    QFile f(QStringLiteral(LUMO_RUNTIME_SOURCE "/../CMakeLists.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QRegularExpression(QStringLiteral("project\\(Lumo VERSION ([0-9.]+)"))
        .match(QString::fromUtf8(f.readAll()))
        .captured(1);
}

} // namespace

class TestDebPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void controlFields();
    void unpackedProgramsRun();
    void lintianReportsNothing();
    void manualPagesRender();
    void metainfoValidates();

private:
    QTemporaryDir m_tmp;
    QString m_deb;
    QString m_dpkgDeb;
    QString m_root;
};

void TestDebPackage::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_dpkgDeb = QStandardPaths::findExecutable(QStringLiteral("dpkg-deb"));
    const QString cpack = QStandardPaths::findExecutable(QStringLiteral("cpack"));
    if (m_dpkgDeb.isEmpty() || cpack.isEmpty())
        QSKIP("dpkg-deb or cpack is missing: no Debian package can be made here");
    // cpack works out the dependencies with dpkg-shlibdeps and finds the
    // programs among the packaged files with file(1).
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-shlibdeps")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("file")).isEmpty())
        QSKIP("dpkg-shlibdeps (package dpkg-dev) or file (package file) is missing: the "
              "package's dependencies cannot be worked out here");

    const Result made
        = run(cpack,
              {QStringLiteral("--config"), QStringLiteral(LUMO_BINARY_DIR "/CPackConfig.cmake"),
               QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"),
               m_tmp.path() + QStringLiteral("/out")});
    QVERIFY2(made.ok, made.out.constData());
    const QStringList debs
        = QDir(m_tmp.path() + QStringLiteral("/out")).entryList({QStringLiteral("*.deb")});
    QCOMPARE(debs.size(), 1);
    m_deb = m_tmp.path() + QStringLiteral("/out/") + debs.first();

    m_root = m_tmp.path() + QStringLiteral("/root");
    const Result unpacked = run(m_dpkgDeb, {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpacked.ok, unpacked.out.constData());
}

void TestDebPackage::controlFields()
{
    const auto field = [this](const char *name) {
        const Result r = run(m_dpkgDeb, {QStringLiteral("-f"), m_deb, QString::fromLatin1(name)});
        return r.ok ? QString::fromUtf8(r.out).trimmed() : QStringLiteral("<failed>");
    };
    QCOMPARE(field("Package"), QStringLiteral("lumo"));
    QCOMPARE(field("Version"), projectVersion());
    QVERIFY(!field("Maintainer").isEmpty());
    QVERIFY(!field("Section").isEmpty());
    QVERIFY(field("Description").contains(QLatin1String("serial")));
    // The Qt libraries the programs link against, whichever major version.
    const QString depends = field("Depends");
    QVERIFY2(depends.contains(QRegularExpression(QStringLiteral("libqt[56]widgets[56]"))),
             qPrintable(depends));
    QVERIFY2(depends.contains(QRegularExpression(QStringLiteral("libqt[56]serialport[56]"))),
             qPrintable(depends));
    // The data-point chart's plotting library, the build for the same Qt.
    QVERIFY2(depends.contains(QRegularExpression(QStringLiteral("libqcustomplot2\\.1(-qt6)? "))),
             qPrintable(depends));

    const Result list = run(m_dpkgDeb, {QStringLiteral("-c"), m_deb});
    QVERIFY(list.ok);
    for (const char *path :
         {"./usr/bin/lumo", "./usr/bin/lumo-dpserver", "./usr/share/lumo/auto_analyze.ini",
          "./usr/share/applications/lumo.desktop",
          "./usr/share/icons/hicolor/scalable/apps/lumo.svg", "./usr/share/doc/lumo/copyright",
          "./usr/share/doc/lumo/changelog.gz", "./usr/share/man/man1/lumo-mcu.1.gz",
          "./usr/share/metainfo/invalid.lumo.Lumo.metainfo.xml", "./usr/bin/lumo-capture",
          "./usr/lib/x86_64-linux-gnu/wireshark/plugins/lumo.lua"})
        QVERIFY2(list.out.contains(QByteArray(path) + '\n'), path);

    // Wireshark's extcap folder holds a link to the program, which answers
    // there as Wireshark asks it.
    const Result extcap
        = run(m_root + QStringLiteral("/usr/lib/x86_64-linux-gnu/wireshark/extcap/lumo-capture"),
              {QStringLiteral("--extcap-interfaces")});
    QVERIFY2(extcap.ok && extcap.out.contains("{display=Lumo UART line}"), extcap.out.constData());
}

void TestDebPackage::unpackedProgramsRun()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = m_tmp.path() + QStringLiteral("/home");
    env.insert(QStringLiteral("HOME"), home);
    env.remove(QStringLiteral("XDG_DATA_HOME"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const Result version
        = run(m_root + QStringLiteral("/usr/bin/lumo"), {QStringLiteral("--version")}, env, 30000);
    QVERIFY2(version.ok, version.out.constData());
    QCOMPARE(QString::fromUtf8(version.out), QStringLiteral("lumo %1\n").arg(projectVersion()));

    // The window, briefly: it finds the package's settings and copies them
    // into the user's folder before it opens.
    QProcess lumo;
    lumo.setProcessEnvironment(env);
    lumo.setProcessChannelMode(QProcess::MergedChannels);
    lumo.start(m_root + QStringLiteral("/usr/bin/lumo"), QStringList());
    QVERIFY(lumo.waitForStarted());
    const QString settings = home + QStringLiteral("/.local/share/lumo/auto_analyze.ini");
    QVERIFY(waitUntil([&] { return QFileInfo::exists(settings); }, 15000));
    lumo.waitForFinished(700);
    const bool running = lumo.state() == QProcess::Running;
    lumo.terminate();
    if (!lumo.waitForFinished(5000))
        lumo.kill(), lumo.waitForFinished();
    QVERIFY2(running, lumo.readAll().constData());
    QFile shipped(m_root + QStringLiteral("/usr/share/lumo/auto_analyze.ini"));
    QFile copied(settings);
    QVERIFY(shipped.open(QIODevice::ReadOnly) && copied.open(QIODevice::ReadOnly));
    QCOMPARE(copied.readAll(), shipped.readAll());
}

void TestDebPackage::lintianReportsNothing()
{
    const QString lintian = QStandardPaths::findExecutable(QStringLiteral("lintian"));
    if (lintian.isEmpty())
        QSKIP("lintian is missing (package lintian; scripts/setup.sh installs it)");
    // Tags Lumo cannot avoid are overridden inside the package itself
    // (usr/share/lintian/overrides/lumo), so lintian applies them here.
    const Result r = run(lintian,
                         {QStringLiteral("--fail-on"), QStringLiteral("error,warning"),
                          QStringLiteral("--tag-display-limit"), QStringLiteral("0"), m_deb});
    QVERIFY2(r.ok, r.out.constData());
    QVERIFY2(!QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption)
                  .match(QString::fromUtf8(r.out))
                  .hasMatch(),
             r.out.constData());
}

void TestDebPackage::manualPagesRender()
{
    const QString man = QStandardPaths::findExecutable(QStringLiteral("man"));
    if (man.isEmpty())
        QSKIP("man is missing (package man-db; scripts/setup.sh installs it)");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("MANPAGER"), QStringLiteral("cat"));
    for (const char *program :
         {"lumo", "lumo-mcu", "lumo-module", "lumo-dpserver", "lumo-capture", "lumo-analyze"}) {
        const QString name = QString::fromLatin1(program);
        const QString page = m_root + QStringLiteral("/usr/share/man/man1/%1.1.gz").arg(name);
        // Any troff warning (a broken macro, a line that cannot be set) is
        // printed into the output and fails the page.
        const Result r = run(man, {QStringLiteral("--warnings"), QStringLiteral("-l"), page}, env);
        QVERIFY2(r.ok, r.out.constData());
        const QString text = QString::fromUtf8(r.out);
        QVERIFY2(text.startsWith(name.toUpper() + QStringLiteral("(1)")), qPrintable(text));
        QVERIFY2(!text.contains(QLatin1String("warning")), qPrintable(text));
        // The page is the program's own help: its options and its version.
        for (const QString &part :
             {QStringLiteral("NAME"), QStringLiteral("OPTIONS"), QStringLiteral("--version"),
              QStringLiteral("%1 %2").arg(name, projectVersion())})
            QVERIFY2(text.contains(part), qPrintable(name + QStringLiteral(": no ") + part));
    }
}

void TestDebPackage::metainfoValidates()
{
    const QString appstreamcli = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (appstreamcli.isEmpty())
        QSKIP("appstreamcli is missing (package appstream; scripts/setup.sh installs it)");
    // The whole unpacked tree, so the desktop entry the metadata launches is
    // checked too; warnings fail as errors do.
    const Result r
        = run(appstreamcli, {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), m_root});
    QVERIFY2(r.ok, r.out.constData());
    QVERIFY2(r.out.contains("invalid.lumo.Lumo.metainfo.xml"), r.out.constData());
}

QTEST_GUILESS_MAIN(TestDebPackage)
#include "tst_debpackage.moc"
