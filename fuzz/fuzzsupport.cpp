#include "fuzzsupport.h"

#include "engine/apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace Fuzz {

namespace {

    void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        if (type == QtDebugMsg || type == QtInfoMsg)
            return;
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }

} // namespace

void init()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "lumo-fuzz";
    static char *argv[] = {name, nullptr};
    // Lives for the whole process; the static pointer keeps it reachable.
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    qInstallMessageHandler(quietHandler);
}

void fail(const char *what, const QByteArray &input, const QByteArray &detail)
{
    std::fprintf(stderr, "invariant broken: %s\ninput (%d bytes): %s\n", what, int(input.size()),
                 input.left(512).toHex(' ').constData());
    if (!detail.isEmpty())
        std::fprintf(stderr, "detail: %s\n", detail.left(512).toHex(' ').constData());
    std::fflush(stderr);
    std::abort();
}

Random::Random(const QByteArray &seedFrom)
    : m_state(2166136261u)
{
    // FNV-1a over the input; never 0, which xorshift cannot leave.
    for (const char c : seedFrom)
        m_state = (m_state ^ static_cast<unsigned char>(c)) * 16777619u;
    if (m_state == 0)
        m_state = 1;
}

quint32 Random::next()
{
    // xorshift32
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    return m_state;
}

int Random::chunk(int max)
{
    if (max <= 1)
        return 1;
    const quint32 r = next();
    int n;
    switch (r % 4) {
    case 0:
        n = 1;
        break;
    case 1:
        n = 2 + int((r >> 2) % 3);
        break;
    case 2:
        n = 1 + int((r >> 2) % 16);
        break;
    default:
        n = 1 + int((r >> 2) % quint32(max));
        break;
    }
    return qMin(n, max);
}

QString programFolder(int variant, bool *fresh)
{
    static QMap<int, QTemporaryDir *> *folders = nullptr;
    if (!folders) {
        folders = new QMap<int, QTemporaryDir *>;
        // Removed at exit, also after a libFuzzer run that ends normally.
        std::atexit([] {
            qDeleteAll(*folders);
            delete folders;
            folders = nullptr;
        });
    }
    if (fresh)
        *fresh = false;
    QTemporaryDir *dir = folders->value(variant);
    if (!dir) {
        dir = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/lumo-fuzz-XXXXXX"));
        if (!dir->isValid()) {
            std::fprintf(stderr, "cannot create a temporary program folder\n");
            std::abort();
        }
        folders->insert(variant, dir);
        // The shipped settings file gives the responder its reply templates.
        const QString settings = dir->path() + QStringLiteral("/auto_analyze.ini");
        QFile::copy(QStringLiteral(LUMO_RUNTIME_SOURCE "/auto_analyze.ini"), settings);
        QFile(settings).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QDir(dir->path()).mkpath(QStringLiteral("bin"));
        QDir(dir->path()).mkpath(QStringLiteral("json"));
        if (fresh)
            *fresh = true;
    }
    AppPaths::setRoot(dir->path());
    return dir->path();
}

} // namespace Fuzz
