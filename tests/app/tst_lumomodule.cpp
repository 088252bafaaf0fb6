// SPDX-License-Identifier: GPL-3.0-or-later
// lumo-module as a script sees it: options, exit statuses, messages on
// standard error, and a port that goes away during a run.
#include "testsupport.h"

#include "dpservice/datapointserver.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// Whether this build runs under AddressSanitizer (gcc and clang spell it
// differently).
constexpr bool underAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

Result runModule(const QStringList &args, int timeoutMs = 30000)
{
    QProcess p;
    p.start(QStringLiteral(LUMO_MODULE_PATH), args);
    Result r;
    if (!p.waitForStarted(10000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestLumoModule : public QObject
{
    Q_OBJECT

private slots:
    void helpAndVersion()
    {
        const Result help = runModule({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        for (const char *option :
             {"-p, --port", "-b, --baud", "--root", "--product-key", "--firmware", "--reply-limit",
              "--robust", "--junit", "--verbose"})
            QVERIFY2(help.out.contains(QLatin1String(option)), option);
        const Result version = runModule({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out.trimmed(), QStringLiteral("lumo-module " LUMO_PROJECT_VERSION));
    }

    void badCommandLines_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString pty = QStringLiteral("/dev/null");
        QTest::newRow("no port") << QStringList{} << QStringLiteral("--port PATH is required");
        QTest::newRow("stray argument")
            << QStringList{QStringLiteral("--port"), pty, QStringLiteral("extra")}
            << QStringLiteral("unexpected argument: extra");
        QTest::newRow("baud") << QStringList{QStringLiteral("--port"), pty,
                                             QStringLiteral("--baud"), QStringLiteral("x")}
                              << QStringLiteral("not a baud rate: x");
        QTest::newRow("parity") << QStringList{QStringLiteral("--port"), pty,
                                               QStringLiteral("--parity"), QStringLiteral("mark")}
                                << QStringLiteral("parity must be");
        QTest::newRow("reply limit")
            << QStringList{QStringLiteral("--port"), pty, QStringLiteral("--reply-limit"),
                           QStringLiteral("0")}
            << QStringLiteral("not a reply limit");
        QTest::newRow("firmware") << QStringList{QStringLiteral("--port"), pty,
                                                 QStringLiteral("--firmware"),
                                                 QStringLiteral("/nonexistent/image.bin")}
                                  << QStringLiteral(
                                         "cannot read firmware file /nonexistent/image.bin");
        QTest::newRow("root") << QStringList{QStringLiteral("--port"), pty,
                                             QStringLiteral("--root"),
                                             QStringLiteral("/dev/null/root")}
                              << QStringLiteral("cannot create the program folder /dev/null/root");
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("--speed")} << QStringLiteral("Unknown option");
        // -p is the serial port in every program.
        QTest::newRow("short options")
            << QStringList{QStringLiteral("-p"), pty, QStringLiteral("-b"), QStringLiteral("x")}
            << QStringLiteral("not a baud rate: x");
    }
    void badCommandLines()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = runModule(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!r.out.contains(QStringLiteral("PASS")));
    }

    void portThatCannotBeOpened()
    {
        TestRoot root;
        const Result r = runModule({QStringLiteral("--port"), QStringLiteral("/dev/lumo-absent"),
                                    QStringLiteral("--root"), root.path()});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.startsWith(QStringLiteral("lumo-module: cannot open /dev/lumo-absent")),
                 qPrintable(r.err));
        // A --root that does not exist yet is made and given the shipped files.
        const QString fresh = root.file(QStringLiteral("fresh/root"));
        const Result made = runModule({QStringLiteral("--port"), QStringLiteral("/dev/lumo-absent"),
                                       QStringLiteral("--root"), fresh});
        QVERIFY2(made.err.startsWith(QStringLiteral("lumo-module: cannot open")),
                 qPrintable(made.err));
        QVERIFY(QFile::exists(fresh + QStringLiteral("/auto_analyze.ini")));
    }

    void lostPortEndsTheRunWithItsReport()
    {
        // A pseudo-terminal nobody answers on, then taken away: the run ends when the port goes,
        // with status 1 (the run failed), the failed step and its report.
        PtyPair pty;
        QVERIFY(pty.isValid());
        // The program must not inherit the master: the line only goes down
        // when the last holder of the master closes it.
        ::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC);
        TestRoot root;
        const QString junit = root.file(QStringLiteral("r.xml"));
        QProcess p;
        p.start(QStringLiteral(LUMO_MODULE_PATH),
                {QStringLiteral("--port"), pty.slavePath(), QStringLiteral("--root"), root.path(),
                 QStringLiteral("--reply-limit"), QStringLiteral("1"), QStringLiteral("--junit"),
                 junit, QStringLiteral("--verbose")});
        QVERIFY(p.waitForStarted(10000));
        // Read what it sends: the first request is product information.
        const QByteArray first = pty.read(9, 10000);
        QCOMPARE(first, hex("FF FF 00 05 01 01 00 00 07"));
        pty.closeMaster();
        QVERIFY(waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("lumo-module: lost ")), qPrintable(err));
        QVERIFY2(out.contains(QStringLiteral("FAIL  product information (0x01): serial port lost")),
                 qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("  > FF FF 00 05 01 01 00 00 07")));
        QVERIFY(out.contains(QStringLiteral("1 step: 0 passed, 1 failed")));
        QVERIFY(QFile::exists(junit));
    }

    void floodKeepsMemoryBoundedAndTheReport()
    {
        // Random bytes as fast as the pseudo-terminal takes them: every step
        // sees frames it waits for in vain. Kept whole, 4 s of them grew the
        // program past 100 MB; bounded, it stays small, and a stop in the
        // middle still fails the run with a report.
        PtyPair pty;
        QVERIFY(pty.isValid());
        ::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC);
        TestRoot root;
        const QString junit = root.file(QStringLiteral("flood.xml"));
        QProcess p;
        p.start(QStringLiteral(LUMO_MODULE_PATH),
                {QStringLiteral("--port"), pty.slavePath(), QStringLiteral("--root"), root.path(),
                 QStringLiteral("--reply-limit"), QStringLiteral("100"), QStringLiteral("--junit"),
                 junit});
        QVERIFY(p.waitForStarted(10000));
        QCOMPARE(pty.read(9, 10000), hex("FF FF 00 05 01 01 00 00 07"));
        QByteArray noise(1 << 20, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(noise.data()),
                                              noise.size() / 4);
        QElapsedTimer clock;
        clock.start();
        qint64 sent = 0;
        char drain[4096];
        while (clock.elapsed() < 4000 && p.state() == QProcess::Running) {
            const qsizetype at = qsizetype(sent % noise.size());
            const ssize_t n
                = ::write(pty.masterFd(), noise.constData() + at, size_t(noise.size() - at));
            sent += n > 0 ? n : 0;
            while (::read(pty.masterFd(), drain, sizeof drain) > 0) { }
        }
        QFile status(QStringLiteral("/proc/%1/status").arg(p.processId()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const QString peak = QString::fromLatin1(status.readAll())
                                 .section(QStringLiteral("VmHWM:"), 1)
                                 .section(QLatin1Char('\n'), 0, 0);
        const qint64 peakKb = peak.trimmed().section(QLatin1Char(' '), 0, 0).toLongLong();
        QVERIFY2(peakKb > 0, qPrintable(peak));
        // AddressSanitizer's shadow memory and its quarantine of freed blocks
        // (256 MB by default) say nothing about what the program keeps; the
        // bound is checked in the plain builds.
        if (!underAddressSanitizer())
            QVERIFY2(peakKb < 100 * 1024,
                     qPrintable(QStringLiteral("%1 kB after %2 MB").arg(peakKb).arg(sent >> 20)));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QFile report(junit);
        QVERIFY(report.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&report);
        int failures = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement
                && xml.name() == QLatin1String("failure"))
                ++failures;
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(failures >= 1);
    }

    void answerThatNeverCompletesTimesOut()
    {
        // The MCU starts its answer and stops: after the reply limit plus the
        // grace time the step fails and names the bytes that did arrive.
        PtyPair pty;
        QVERIFY(pty.isValid());
        ::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC);
        TestRoot root;
        QProcess p;
        p.start(QStringLiteral(LUMO_MODULE_PATH),
                {QStringLiteral("--port"), pty.slavePath(), QStringLiteral("--root"), root.path(),
                 QStringLiteral("--reply-limit"), QStringLiteral("100")});
        QVERIFY(p.waitForStarted(10000));
        QCOMPARE(pty.read(9, 10000), hex("FF FF 00 05 01 01 00 00 07"));
        QVERIFY(pty.write(hex("FF FF 00 47 02 01")));
        QString out;
        QVERIFY(waitUntil(
            [&] {
                out += QString::fromUtf8(p.readAllStandardOutput());
                return out.contains(QStringLiteral("FAIL"));
            },
            20000));
        pty.closeMaster();
        QVERIFY(waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000));
        QVERIFY2(out.contains(QStringLiteral("FAIL  product information (0x01): no answer 0x02 "
                                             "within 2100 ms; 6 bytes received make no whole "
                                             "frame: FF FF 00 47 02 01\n")),
                 qPrintable(out));
    }

    void definitionComesFromTheService()
    {
        // No cached definition: it is fetched from the service the settings
        // name (a real one on 127.0.0.1), cached, and used; a key the
        // service does not know ends the program before any port is opened.
        const QString key = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
        QTemporaryDir folder;
        QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"),
                            folder.filePath(key + QStringLiteral(".json"))));
        DataPointServer server(folder.path());
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        TestRoot root;
        ZemTool(nullptr).writeSetting(SettingKeys::Environment,
                                      QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        QFile::remove(root.file(QStringLiteral("json/%1.json").arg(key)));

        PtyPair pty;
        QVERIFY(pty.isValid());
        ::fcntl(pty.masterFd(), F_SETFD, FD_CLOEXEC);
        QProcess p;
        p.start(QStringLiteral(LUMO_MODULE_PATH),
                {QStringLiteral("--port"), pty.slavePath(), QStringLiteral("--root"), root.path(),
                 QStringLiteral("--product-key"), key});
        QString out;
        QVERIFY(waitUntil(
            [&] {
                out += QString::fromUtf8(p.readAllStandardOutput());
                return out.contains(QLatin1Char('\n'));
            },
            20000));
        pty.closeMaster();
        QVERIFY(waitUntil([&] { return p.state() == QProcess::NotRunning; }, 30000));
        QVERIFY2(out.startsWith(QStringLiteral("lumo-module: %1 at 9600 baud, product key %2, 14 "
                                               "data points")
                                    .arg(pty.slavePath(), key)),
                 qPrintable(out));
        QVERIFY(QFile::exists(root.file(QStringLiteral("json/%1.json").arg(key))));

        QProcess refused;
        refused.start(QStringLiteral(LUMO_MODULE_PATH),
                      {QStringLiteral("--port"), QStringLiteral("/dev/lumo-absent"),
                       QStringLiteral("--root"), root.path(), QStringLiteral("--product-key"),
                       QString(32, QLatin1Char('0'))});
        QVERIFY(waitUntil([&] { return refused.state() == QProcess::NotRunning; }, 30000));
        QCOMPARE(refused.exitCode(), 2);
        const QString err = QString::fromUtf8(refused.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("the data-point service refused product key")),
                 qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestLumoModule)
#include "tst_lumomodule.moc"
