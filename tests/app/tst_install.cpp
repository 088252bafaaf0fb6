// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a user gets it: installed with `cmake --install` into a
// temporary prefix and started from there, and copied as a portable folder
// that may or may not be written to. Also the two rules behind where its
// files live: which folder can take files, and copying the shipped files
// without ever replacing one the user has.
#include "base/apppaths.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll()
                                       : QByteArray("<missing " + path.toUtf8() + '>');
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The version the project declares, read from the build description itself.
QString projectVersion()
{
    const QString cmakeLists = QString::fromUtf8(
        readAll(QStringLiteral(LUMO_RUNTIME_SOURCE) + QStringLiteral("/../CMakeLists.txt")));
    return QRegularExpression(QStringLiteral("project\\(Lumo VERSION ([0-9.]+)"))
        .match(cmakeLists)
        .captured(1);
}

// An environment with a home of its own and no display: any stray window
// application would have to use the offscreen platform.
QProcessEnvironment cleanEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                             "XDG_RUNTIME_DIR", "LUMO_EXTRA_PORTS"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

struct Result
{
    int exitCode = -1;
    bool finished = false;
    QByteArray out;
    QByteArray err;
};

Result runToEnd(const QString &program, const QStringList &args, const QProcessEnvironment &env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Result r;
    r.finished = p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit;
    if (!r.finished)
        p.kill(), p.waitForFinished();
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Starts the window (optionally as another user, through `prefix`), waits
// until `ready` holds or waitMs pass, checks the window is still up and
// ends it. Returns false with a reason in *why when it was not up.
bool runWindowFor(const QString &program, const QProcessEnvironment &env,
                  const std::function<bool()> &ready, QString *why,
                  const QStringList &prefix = QStringList(), int waitMs = 15000,
                  QByteArray *output = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (prefix.isEmpty())
        p.start(program, QStringList());
    else
        p.start(prefix.first(), prefix.mid(1) << program);
    if (!p.waitForStarted(10000)) {
        *why = QStringLiteral("did not start: ") + p.errorString();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (!ready() && clock.elapsed() < waitMs && p.state() == QProcess::Running)
        p.waitForFinished(50);
    // A moment more with the window up: a start that fails late fails here.
    p.waitForFinished(700);
    const bool running = p.state() == QProcess::Running;
    p.terminate();
    if (!p.waitForFinished(5000))
        p.kill(), p.waitForFinished();
    const QByteArray said = p.readAll();
    if (output)
        *output = said;
    if (!running)
        *why = QStringLiteral("the window ended early (exit code %1): ").arg(p.exitCode())
            + QString::fromLocal8Bit(said);
    return running;
}

QString userSettings(const QString &home)
{
    return home + QStringLiteral("/.local/share/lumo/auto_analyze.ini");
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void installsProgramsFilesMenuEntryAndIcon();
    void versionAndHelpNeedNoDisplay();
    void unknownOptionIsRefused();
    void installedWindowSeedsTheUsersFolder();
    void userChangesSurviveTheNextStart();
    void homeThatCannotHoldFilesFallsBackToTheShippedOnes();
    void portableCopyWritesBesideItselfOnlyWhenItCan();

    void canCreateFiles();
    void seedCopiesOnlyWhatIsMissing();
    void seedLeavesProgramsAndFirmwareBehind();

private:
    QTemporaryDir m_tmp;
    QString m_prefix;
    QString m_version;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_version = projectVersion();
    QVERIFY2(!m_version.isEmpty(), "no project version in CMakeLists.txt");

    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    if (cmake.isEmpty())
        QSKIP("cmake is not on PATH: the program cannot be installed for this test");
    m_prefix = m_tmp.path() + QStringLiteral("/prefix");
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(cmake,
                  {QStringLiteral("--install"), QStringLiteral(LUMO_BINARY_DIR),
                   QStringLiteral("--prefix"), m_prefix});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());
}

void TestInstall::installsProgramsFilesMenuEntryAndIcon()
{
    QDir prefix(m_prefix);
    QCOMPARE(QDir(prefix.filePath(QStringLiteral("bin"))).entryList(QDir::Files, QDir::Name),
             QStringList({QStringLiteral("lumo"), QStringLiteral("lumo-analyze"),
                          QStringLiteral("lumo-capture"), QStringLiteral("lumo-dpserver"),
                          QStringLiteral("lumo-mcu"), QStringLiteral("lumo-module")}));
    QVERIFY(QFileInfo(prefix.filePath(QStringLiteral("bin/lumo"))).isExecutable());

    // Every shipped runtime file, byte for byte; nothing for the folders the
    // program writes into.
    const QString runtime = QStringLiteral(LUMO_RUNTIME_SOURCE);
    int shipped = 0;
    QDirIterator it(runtime, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = QDir(runtime).relativeFilePath(it.next());
        if (rel.startsWith(QLatin1String("json/")) || rel.startsWith(QLatin1String("bin/")))
            continue;
        QCOMPARE(readAll(prefix.filePath(QStringLiteral("share/lumo/") + rel)),
                 readAll(runtime + QLatin1Char('/') + rel));
        ++shipped;
    }
    QVERIFY(shipped >= 4); // settings, two pictures, a sample definition
    QVERIFY(!QFileInfo::exists(prefix.filePath(QStringLiteral("share/lumo/json"))));

    const QString desktop = QString::fromUtf8(
        readAll(prefix.filePath(QStringLiteral("share/applications/lumo.desktop"))));
    QVERIFY(desktop.startsWith(QLatin1String("[Desktop Entry]\n")));
    for (const char *line : {"Type=Application", "Exec=lumo", "Icon=lumo", "Terminal=false"})
        QVERIFY2(desktop.contains(QLatin1Char('\n') + QLatin1String(line) + QLatin1Char('\n')),
                 line);
    QVERIFY(readAll(prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/lumo.svg")))
                .contains("<svg"));
    QVERIFY(readAll(prefix.filePath(QStringLiteral("share/icons/hicolor/64x64/apps/lumo.png")))
                .startsWith("\x89PNG"));
}

void TestInstall::versionAndHelpNeedNoDisplay()
{
    // No platform Qt could open a window on: a program that built a window
    // application here would abort instead of answering.
    QProcessEnvironment env = cleanEnvironment(m_tmp.path() + QStringLiteral("/nohome"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
    const QString lumo = m_prefix + QStringLiteral("/bin/lumo");

    Result r = runToEnd(lumo, {QStringLiteral("--version")}, env);
    QVERIFY2(r.finished && r.exitCode == 0, r.err.constData());
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("lumo %1\n").arg(m_version));

    r = runToEnd(lumo, {QStringLiteral("--help")}, env);
    QVERIFY2(r.finished && r.exitCode == 0, r.err.constData());
    const QString help = QString::fromUtf8(r.out);
    QVERIFY2(help.startsWith(QLatin1String("Usage: ")), qPrintable(help));
    QVERIFY(help.contains(QLatin1String("--version")));
    QVERIFY(help.contains(QLatin1String("~/.local/share/lumo")));

    r = runToEnd(m_prefix + QStringLiteral("/bin/lumo-dpserver"), {QStringLiteral("--version")},
                 env);
    QVERIFY2(r.finished && r.exitCode == 0, r.err.constData());
    QCOMPARE(QString::fromUtf8(r.out), QStringLiteral("lumo-dpserver %1\n").arg(m_version));

    // Answering is all they do: no data folder appears.
    QVERIFY(!QFileInfo::exists(m_tmp.path() + QStringLiteral("/nohome")));
}

void TestInstall::unknownOptionIsRefused()
{
    const QString home = m_tmp.path() + QStringLiteral("/home-unknown");
    const Result r = runToEnd(m_prefix + QStringLiteral("/bin/lumo"), {QStringLiteral("--bogus")},
                              cleanEnvironment(home));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains("bogus"), r.err.constData());
    QVERIFY(!QFileInfo::exists(userSettings(home)));
}

void TestInstall::installedWindowSeedsTheUsersFolder()
{
    const QString home = m_tmp.path() + QStringLiteral("/home-installed");
    QVERIFY(QDir().mkpath(home));
    const QString data = home + QStringLiteral("/.local/share/lumo");
    QString why;
    QVERIFY2(runWindowFor(
                 m_prefix + QStringLiteral("/bin/lumo"), cleanEnvironment(home),
                 [&] { return QFileInfo::exists(userSettings(home)); }, &why),
             qPrintable(why));

    const QString shipped = m_prefix + QStringLiteral("/share/lumo/");
    QCOMPARE(QSettings(userSettings(home), QSettings::IniFormat)
                 .value(QStringLiteral("product_key/key")),
             QSettings(shipped + QStringLiteral("auto_analyze.ini"), QSettings::IniFormat)
                 .value(QStringLiteral("product_key/key")));
    QCOMPARE(readAll(data + QStringLiteral("/image/logo.png")),
             readAll(shipped + QStringLiteral("image/logo.png")));
    QCOMPARE(QDir(data + QStringLiteral("/dpserver")).entryList(QDir::Files),
             QDir(shipped + QStringLiteral("dpserver")).entryList(QDir::Files));
    QVERIFY(QFileInfo(data + QStringLiteral("/json")).isDir());
    QVERIFY(QFileInfo(data + QStringLiteral("/bin")).isDir());

    // Even where it could (this test may run as root), nothing is written
    // beside the installed programs.
    QCOMPARE(QDir(m_prefix + QStringLiteral("/bin"))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("lumo"), QStringLiteral("lumo-analyze"),
                          QStringLiteral("lumo-capture"), QStringLiteral("lumo-dpserver"),
                          QStringLiteral("lumo-mcu"), QStringLiteral("lumo-module")}));

    // $XDG_DATA_HOME, when set, is the data folder.
    QProcessEnvironment env = cleanEnvironment(home);
    const QString xdg = m_tmp.path() + QStringLiteral("/xdg-data");
    env.insert(QStringLiteral("XDG_DATA_HOME"), xdg);
    QVERIFY2(runWindowFor(
                 m_prefix + QStringLiteral("/bin/lumo"), env,
                 [&] { return QFileInfo::exists(xdg + QStringLiteral("/lumo/auto_analyze.ini")); },
                 &why),
             qPrintable(why));
    QVERIFY(QFileInfo::exists(xdg + QStringLiteral("/lumo/image/background.png")));
}

void TestInstall::userChangesSurviveTheNextStart()
{
    const QString home = m_tmp.path() + QStringLiteral("/home-changed");
    const QString data = home + QStringLiteral("/.local/share/lumo");
    const QString lumo = m_prefix + QStringLiteral("/bin/lumo");
    QString why;
    QVERIFY2(runWindowFor(
                 lumo, cleanEnvironment(home),
                 [&] { return QFileInfo::exists(userSettings(home)); }, &why),
             qPrintable(why));

    {
        QSettings mine(userSettings(home), QSettings::IniFormat);
        mine.setValue(QStringLiteral("product_key/key"), QStringLiteral("my own product key"));
        mine.setValue(QStringLiteral("setting/uploadtime"), 42);
    }
    QVERIFY(writeFile(data + QStringLiteral("/image/logo.png"), "my own logo"));
    QVERIFY(QFile::remove(data + QStringLiteral("/image/background.png")));

    QVERIFY2(runWindowFor(
                 lumo, cleanEnvironment(home),
                 [&] { return QFileInfo::exists(data + QStringLiteral("/image/background.png")); },
                 &why),
             qPrintable(why));
    QSettings after(userSettings(home), QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("product_key/key")).toString(),
             QStringLiteral("my own product key"));
    QCOMPARE(after.value(QStringLiteral("setting/uploadtime")).toInt(), 42);
    QCOMPARE(readAll(data + QStringLiteral("/image/logo.png")), QByteArray("my own logo"));
    // A shipped file the user no longer has comes back.
    QCOMPARE(readAll(data + QStringLiteral("/image/background.png")),
             readAll(m_prefix + QStringLiteral("/share/lumo/image/background.png")));
}

void TestInstall::homeThatCannotHoldFilesFallsBackToTheShippedOnes()
{
    // A file where the home folder should be: no data folder can be made
    // there, whoever runs the program.
    const QString home = m_tmp.path() + QStringLiteral("/home-is-a-file");
    QVERIFY(writeFile(home, "not a folder"));
    QString why;
    QByteArray said;
    QVERIFY2(runWindowFor(
                 m_prefix + QStringLiteral("/bin/lumo"), cleanEnvironment(home),
                 [] { return false; }, &why, QStringList(), 1500, &said),
             qPrintable(why));
    QVERIFY2(said.contains("cannot create the data folder"), said.constData());
    QVERIFY2(said.contains(QFile::encodeName(m_prefix + QStringLiteral("/share/lumo"))),
             said.constData());
    QCOMPARE(readAll(home), QByteArray("not a folder"));
}

void TestInstall::portableCopyWritesBesideItselfOnlyWhenItCan()
{
    // As root every folder accepts files whatever its mode, so the program
    // runs as nobody; the folders it needs are made reachable for that user.
    QStringList asUser;
    uid_t uid = ::getuid();
    gid_t gid = ::getgid();
    if (uid == 0) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        const passwd *nobody = ::getpwnam("nobody");
        if (setpriv.isEmpty() || !nobody)
            QSKIP("running as root without setpriv or a nobody user: a read-only folder "
                  "cannot be shown to the program");
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        asUser = QStringList({setpriv, QStringLiteral("--reuid=%1").arg(uid),
                              QStringLiteral("--regid=%1").arg(gid),
                              QStringLiteral("--clear-groups")});
    }

    QTemporaryDir base;
    QVERIFY(base.isValid());
    QVERIFY(QFile::setPermissions(base.path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                      | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                      | QFileDevice::ExeOther));
    const QString portable = base.path() + QStringLiteral("/portable");
    const QString home = base.path() + QStringLiteral("/home");
    QVERIFY(QDir().mkpath(home));
    QVERIFY(AppPaths::seedMissing(QStringLiteral(LUMO_RUNTIME_SOURCE), portable));
    QVERIFY(
        QFile::copy(QStringLiteral(LUMO_BINARY_DIR "/lumo"), portable + QStringLiteral("/lumo")));
    const QStringList everything = {portable,
                                    portable + QStringLiteral("/image"),
                                    portable + QStringLiteral("/json"),
                                    portable + QStringLiteral("/bin"),
                                    portable + QStringLiteral("/dpserver"),
                                    home};
    for (const QString &path : everything)
        QVERIFY(::chown(QFile::encodeName(path).constData(), uid, gid) == 0);
    QVERIFY(::chown(QFile::encodeName(portable + QStringLiteral("/auto_analyze.ini")).constData(),
                    uid, gid)
            == 0);

    // Writable: everything stays beside the program, the home is not used.
    QString why;
    QVERIFY2(runWindowFor(
                 portable + QStringLiteral("/lumo"), cleanEnvironment(home), [] { return false; },
                 &why, asUser, 1500),
             qPrintable(why));
    QVERIFY(!QFileInfo::exists(home + QStringLiteral("/.local")));

    // Read-only (a copy on a read-only medium, a shared folder): the same copy
    // now keeps its files in the user's data folder, filled from itself.
    QVERIFY(QFile::setPermissions(portable,
                                  QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                      | QFileDevice::ReadOther | QFileDevice::ExeOther));
    QVERIFY2(runWindowFor(
                 portable + QStringLiteral("/lumo"), cleanEnvironment(home),
                 [&] { return QFileInfo::exists(userSettings(home)); }, &why, asUser),
             qPrintable(why));
    QCOMPARE(readAll(userSettings(home)),
             readAll(QStringLiteral(LUMO_RUNTIME_SOURCE "/auto_analyze.ini")));
    QVERIFY(!QFileInfo::exists(home + QStringLiteral("/.local/share/lumo/lumo")));
    QVERIFY(QFile::setPermissions(
        portable, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
}

void TestInstall::canCreateFiles()
{
    QTemporaryDir dir;
    QVERIFY(AppPaths::canCreateFiles(dir.path()));
    // The probe leaves nothing behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(!AppPaths::canCreateFiles(dir.path() + QStringLiteral("/missing")));
    QVERIFY(writeFile(dir.path() + QStringLiteral("/file"), "x"));
    QVERIFY(!AppPaths::canCreateFiles(dir.path() + QStringLiteral("/file")));
    if (::getuid() != 0) {
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QVERIFY(!AppPaths::canCreateFiles(dir.path()));
        QFile::setPermissions(
            dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

void TestInstall::seedCopiesOnlyWhatIsMissing()
{
    QTemporaryDir from;
    QTemporaryDir to;
    QVERIFY(writeFile(from.filePath(QStringLiteral("auto_analyze.ini")), "shipped settings"));
    QVERIFY(writeFile(from.filePath(QStringLiteral("image/logo.png")), "shipped logo"));
    QVERIFY(writeFile(from.filePath(QStringLiteral("dpserver/a/k.json")), "{}"));
    // Shipped read-only, as files of a package or a read-only medium may be.
    QVERIFY(QFile::setPermissions(from.filePath(QStringLiteral("auto_analyze.ini")),
                                  QFileDevice::ReadOwner | QFileDevice::ReadOther));
    QVERIFY(writeFile(to.filePath(QStringLiteral("image/logo.png")), "the user's logo"));

    QVERIFY(AppPaths::seedMissing(from.path(), to.path()));
    QCOMPARE(readAll(to.filePath(QStringLiteral("auto_analyze.ini"))),
             QByteArray("shipped settings"));
    QCOMPARE(readAll(to.filePath(QStringLiteral("image/logo.png"))), QByteArray("the user's logo"));
    QCOMPARE(readAll(to.filePath(QStringLiteral("dpserver/a/k.json"))), QByteArray("{}"));
    QVERIFY(QFileInfo(to.filePath(QStringLiteral("json"))).isDir());
    QVERIFY(QFileInfo(to.filePath(QStringLiteral("bin"))).isDir());
    // The user's copy takes the user's changes.
    QVERIFY(QFile(to.filePath(QStringLiteral("auto_analyze.ini"))).permissions()
            & QFileDevice::WriteOwner);

    // The next start changes nothing the user changed.
    QVERIFY(writeFile(to.filePath(QStringLiteral("auto_analyze.ini")), "the user's settings"));
    QVERIFY(AppPaths::seedMissing(from.path(), to.path()));
    QCOMPARE(readAll(to.filePath(QStringLiteral("auto_analyze.ini"))),
             QByteArray("the user's settings"));

    // A folder standing where a file belongs is reported, the rest still copied.
    QTemporaryDir blocked;
    QVERIFY(QDir(blocked.path()).mkpath(QStringLiteral("json")));
    QVERIFY(writeFile(blocked.filePath(QStringLiteral("bin")), "a file where a folder belongs"));
    QVERIFY(!AppPaths::seedMissing(from.path(), blocked.path()));
    QCOMPARE(readAll(blocked.filePath(QStringLiteral("image/logo.png"))),
             QByteArray("shipped logo"));
}

void TestInstall::seedLeavesProgramsAndFirmwareBehind()
{
    // A portable copy's folder as the source: only the shipped kinds of file
    // are the user's to keep.
    QTemporaryDir from;
    QTemporaryDir to;
    QVERIFY(writeFile(from.filePath(QStringLiteral("auto_analyze.ini")), "settings"));
    QVERIFY(writeFile(from.filePath(QStringLiteral("lumo")),
                      "\x7f"
                      "ELF"));
    QVERIFY(writeFile(from.filePath(QStringLiteral("bin/mcu.bin")), "firmware"));
    QVERIFY(writeFile(from.filePath(QStringLiteral("json/k.json")), "{\"cached\":1}"));
    QVERIFY(writeFile(from.filePath(QStringLiteral("json/.gitkeep")), ""));

    QVERIFY(AppPaths::seedMissing(from.path(), to.path()));
    QVERIFY(!QFileInfo::exists(to.filePath(QStringLiteral("lumo"))));
    QCOMPARE(QDir(to.filePath(QStringLiteral("bin"))).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(to.filePath(QStringLiteral("json"))).entryList(QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("k.json")}));
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
