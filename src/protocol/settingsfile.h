// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <memory>

// One INI settings file of the process, shared by every ZemTool opened on
// it, so that a value written through one is read through all at once.
//
// The file is read once, when the first user opens it, into memory; reads
// never touch the disk. A write changes the memory at once and reaches the
// file from a writer thread of its own: an INI file is rewritten whole on
// every save, and a window must not wait for that, however large the file
// has grown. Writes that come while one save runs are saved together in the
// next one, the latest value of each key winning. The last user's going
// waits for the writer, so nothing written is lost at exit.
//
// A file changed by someone else is read again when the next user opens
// it, as QSettings does.
class SettingsFile
{
public:
    // Files above this size hold something else than this program's
    // settings (a few kilobytes); reading one gets a warning.
    static constexpr qint64 SaneSizeBytes = 4 * 1024 * 1024;

    // The file at `path`, shared while any user holds it.
    static std::shared_ptr<SettingsFile> open(const QString &path);
    ~SettingsFile();
    SettingsFile(const SettingsFile &) = delete;
    SettingsFile &operator=(const SettingsFile &) = delete;

    // The value of `key` ("group/key") as text; the empty text when absent.
    QString value(const QString &key) const;
    void setValue(const QString &key, const QString &value);
    // Waits until everything written so far is in the file.
    void flush();
    // The same for every settings file the process has open.
    static void flushAll();
    // Why the file is suspicious ("far beyond any sane size"), in the
    // window's words; empty when it is not.
    QString warning() const { return m_warning; }

private:
    class Writer;
    explicit SettingsFile(const QString &path);
    void load();
    bool changedOnDisk();

    const QString m_path;
    QHash<QString, QString> m_values; // the file's contents, as the program sees them
    QString m_warning;
    std::unique_ptr<Writer> m_writer;
};
