// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/exportfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

void ExportFile::choose(QWidget *parent, const QString &title, const QString &folder,
                        const QString &prefix, const QString &suffix, const QString &filter,
                        const Writer &write)
{
    const QString name
        = QStringLiteral("%1-%2.%3")
              .arg(prefix, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")),
                   suffix);
    const QString path
        = QFileDialog::getSaveFileName(parent, title, QDir(folder).filePath(name), filter);
    if (path.isEmpty())
        return;
    QString error;
    if (!write(path, &error))
        QMessageBox::about(parent, QStringLiteral("错误"), QStringLiteral("导出失败：") + error);
}
