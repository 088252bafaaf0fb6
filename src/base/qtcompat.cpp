// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/qtcompat.h"

#include <QLibraryInfo>

QString QtCompat::translationsPath()
{
    // Qt 6 replaced location() by path(); the folder is the same one.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}
