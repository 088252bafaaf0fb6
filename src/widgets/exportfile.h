// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

class QWidget;

// The one way the windows save an export: a save dialog that offers
// "<prefix>-<date>-<time>.<suffix>" in `folder` (so exports made one after
// another do not overwrite each other), the file written by `write`, and a
// box naming the reason when that fails.
class ExportFile
{
public:
    using Writer = std::function<bool(const QString &path, QString *error)>;

    static void choose(QWidget *parent, const QString &title, const QString &folder,
                       const QString &prefix, const QString &suffix, const QString &filter,
                       const Writer &write);
};
