// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzzsupport.h"

#include "base/apppaths.h"

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

const DataPointDefinition &sampleDefinition()
{
    static const DataPointDefinition *def = [] {
        const auto record = [](const char *name, const char *dataType, const char *unit, int len,
                               int byteOffset, int bitOffset, const char *type, int max) {
            json_struct r;
            r.display_name = QString::fromUtf8(name);
            r.name = r.display_name;
            r.data_type = QString::fromLatin1(dataType);
            r.unit = QString::fromLatin1(unit);
            r.len = len;
            r.byte_offset = byteOffset;
            r.bit_offset = bitOffset;
            r.type = QString::fromLatin1(type);
            r.max = max;
            return r;
        };
        QList<json_struct> records;
        records << record("开关", "bool", "bit", 1, 0, 0, "status_writable", 1);
        json_struct mode = record("模式", "enum", "bit", 2, 0, 1, "status_writable", 3);
        mode.enum_list = QStringList{QStringLiteral("阅读"), QStringLiteral("护眼"),
                                     QStringLiteral("睡眠"), QStringLiteral("自动")};
        records << mode;
        records << record("亮度", "uint8", "byte", 1, 1, 0, "status_writable", 100);
        records << record("色温", "uint16", "byte", 2, 2, 0, "status_writable", 6500);
        records << record("场景数据", "binary", "byte", 4, 4, 0, "status_writable", 0);
        records << record("人体感应", "bool", "bit", 1, 8, 0, "status_readonly", 1);
        records << record("温度", "uint8", "byte", 1, 9, 0, "status_readonly", 120);
        records << record("过热", "bool", "bit", 1, 10, 0, "alert", 1);
        records << record("灯珠故障", "bool", "bit", 1, 11, 0, "fault", 1);
        for (int i = 0; i < records.size(); ++i)
            records[i].id = i;
        // Lives for the whole process, like the application object.
        return new DataPointDefinition(records);
    }();
    return *def;
}

} // namespace Fuzz
