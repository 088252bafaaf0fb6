#include "engine/apppaths.h"

#include <QCoreApplication>

namespace {
QString &overrideRoot()
{
    static QString dir;
    return dir;
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
    return root() + QStringLiteral("/auto_analyze.ini");
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

} // namespace AppPaths
