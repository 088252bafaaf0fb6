// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {
QString &overrideRoot()
{
    static QString dir;
    return dir;
}

const QString &settingsFileName()
{
    static const QString name = QStringLiteral("auto_analyze.ini");
    return name;
}

bool holdsSettings(const QString &dir)
{
    return QFileInfo(dir + QLatin1Char('/') + settingsFileName()).isFile();
}
} // namespace

namespace AppPaths {

QString root()
{
    if (!overrideRoot().isEmpty())
        return overrideRoot();
    return QCoreApplication::applicationDirPath();
}

void setRoot(const QString &dir)
{
    overrideRoot() = dir;
}

QString settingsFile()
{
    return root() + QLatin1Char('/') + settingsFileName();
}

QString imageFile(const QString &name)
{
    return root() + QStringLiteral("/image/") + name;
}

QString jsonDir()
{
    return root() + QStringLiteral("/json");
}

QString binDir()
{
    return root() + QStringLiteral("/bin");
}

QString borderImageStyle(const QString &imageName)
{
    return QStringLiteral("border-image:url(") + imageFile(imageName) + QStringLiteral(")");
}

QString installedRuntimeDir()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath()
                           + QStringLiteral("/../share/lumo"));
}

QString userDataDir()
{
    // The generic location is $XDG_DATA_HOME or ~/.local/share whatever the
    // running program is called, so lumo and lumo-dpserver share one folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/lumo");
}

bool canCreateFiles(const QString &dir)
{
    if (!QFileInfo(dir).isDir())
        return false;
    QTemporaryFile probe(dir + QStringLiteral("/.lumo-write-test-XXXXXX"));
    return probe.open(); // removed again when probe goes
}

bool seedMissing(const QString &from, const QString &to)
{
    bool ok = true;
    const QDir target(to);
    for (const QString &sub : {QStringLiteral("json"), QStringLiteral("bin")}) {
        if (!target.mkpath(sub)) {
            qWarning("lumo: cannot create folder %s", qPrintable(to + QLatin1Char('/') + sub));
            ok = false;
        }
    }
    // Only the shipped kinds of file: a portable copy's folder also holds the
    // executables and its own received firmware, which are not the user's.
    const QDir source(from);
    QStringList files;
    if (QFileInfo(source.filePath(settingsFileName())).isFile())
        files << source.filePath(settingsFileName());
    for (const QString &sub :
         {QStringLiteral("image"), QStringLiteral("dpserver"), QStringLiteral("json")}) {
        QDirIterator it(source.filePath(sub), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    for (const QString &file : files) {
        const QString relative = source.relativeFilePath(file);
        if (relative.endsWith(QLatin1String(".gitkeep")))
            continue;
        const QString copy = to + QLatin1Char('/') + relative;
        // exists() is false for a dangling link, which copying would not fix
        // either; anything present is the user's and stays as it is.
        if (QFileInfo::exists(copy) || QFileInfo(copy).isSymLink())
            continue;
        if (!target.mkpath(QFileInfo(relative).path()) || !QFile::copy(file, copy)) {
            qWarning("lumo: cannot copy %s to %s", qPrintable(file), qPrintable(copy));
            ok = false;
            continue;
        }
        // The shipped files may be read-only (a package, a read-only medium);
        // the user's copy of the settings must take the user's changes.
        QFile(copy).setPermissions(QFile(copy).permissions() | QFileDevice::WriteOwner
                                   | QFileDevice::ReadOwner);
    }
    return ok;
}

QString chooseRoot()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString installed = installedRuntimeDir();

    // The build folder and a portable copy carry their settings beside the
    // executable; as long as they may write there, nothing moves.
    // An installed program has no settings beside it (bin/ holds programs
    // only) even when it could write there, as root can to /usr/bin.
    const bool portable = holdsSettings(programDir) || !QFileInfo(installed).isDir();
    if (portable && canCreateFiles(programDir)) {
        setRoot(programDir);
        return programDir;
    }

    const QString shipped = holdsSettings(programDir) ? programDir : installed;
    const QString data = userDataDir();
    if (!QDir().mkpath(data) && QFileInfo(shipped).isDir()) {
        // No home to write to (a locked-down account): the shipped files can
        // still be read, so the windows start with their settings and
        // pictures; only saving fails.
        qWarning("lumo: cannot create the data folder %s; using %s read-only", qPrintable(data),
                 qPrintable(shipped));
        setRoot(shipped);
        return shipped;
    }
    if (QFileInfo(shipped).isDir())
        seedMissing(shipped, data);
    setRoot(data);
    return data;
}

} // namespace AppPaths
