// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/settingsfile.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <map>

namespace {
// The key as QSettings stores it: no leading, trailing or doubled slashes.
QString normalizedKey(const QString &key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/'));
}

void useUtf8(QSettings &settings)
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 reads INI files as Latin-1 unless told; Qt 6 always reads UTF-8.
    settings.setIniCodec("UTF-8");
#else
    Q_UNUSED(settings)
#endif
}

struct FileStamp
{
    qint64 size = -1;
    QDateTime modified;
    bool operator==(const FileStamp &o) const { return size == o.size && modified == o.modified; }
};

FileStamp stampOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified()};
}
} // namespace

// Saves the pending values in the background, one save at a time, with a
// QSettings of its own that lives on its thread.
class SettingsFile::Writer : public QThread
{
public:
    explicit Writer(const QString &path)
        : m_path(path)
    {
        setObjectName(QStringLiteral("settings writer"));
    }

    ~Writer() override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_stopping = true;
            m_wake.wakeAll();
        }
        wait(); // the last pending values are saved before the thread ends
    }

    void put(const QString &key, const QString &value)
    {
        QMutexLocker lock(&m_mutex);
        m_pending[key] = value;
        m_wake.wakeAll();
    }

    void flush()
    {
        QMutexLocker lock(&m_mutex);
        while (!m_pending.empty() || m_saving)
            m_done.wait(&m_mutex);
    }

    // The file as this writer left it, to tell its own saves from others';
    // false while a save is pending or running (the file is being made).
    bool lastSaved(FileStamp *stamp)
    {
        QMutexLocker lock(&m_mutex);
        if (!m_pending.empty() || m_saving)
            return false;
        *stamp = m_saved;
        return true;
    }
    void setLastSaved(const FileStamp &stamp)
    {
        QMutexLocker lock(&m_mutex);
        m_saved = stamp;
    }

protected:
    void run() override
    {
        std::unique_ptr<QSettings> settings;
        for (;;) {
            std::map<QString, QString> batch;
            {
                QMutexLocker lock(&m_mutex);
                while (m_pending.empty() && !m_stopping)
                    m_wake.wait(&m_mutex);
                if (m_pending.empty())
                    return;
                batch.swap(m_pending);
                m_saving = true;
            }
            if (!settings) {
                settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
                useUtf8(*settings);
            }
            for (const auto &[key, value] : batch)
                settings->setValue(key, value);
            settings->sync();
            const FileStamp stamp = stampOf(m_path);
            QMutexLocker lock(&m_mutex);
            m_saved = stamp;
            m_saving = false;
            m_done.wakeAll();
        }
    }

private:
    const QString m_path;
    QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_done;
    std::map<QString, QString> m_pending; // ordered: saved in a stable order
    bool m_saving = false;
    bool m_stopping = false;
    FileStamp m_saved;
};

namespace {
// The open files by absolute path. Users are windows and programs of the
// GUI thread; the registry is guarded anyway, for tools that open settings
// elsewhere.
QMutex registryMutex;
QHash<QString, std::weak_ptr<SettingsFile>> &registry()
{
    static QHash<QString, std::weak_ptr<SettingsFile>> files;
    return files;
}
} // namespace

void SettingsFile::flushAll()
{
    QList<std::shared_ptr<SettingsFile>> files;
    {
        QMutexLocker lock(&registryMutex);
        for (const std::weak_ptr<SettingsFile> &weak : registry())
            if (std::shared_ptr<SettingsFile> file = weak.lock())
                files << file;
    }
    for (const std::shared_ptr<SettingsFile> &file : files)
        file->flush();
}

std::shared_ptr<SettingsFile> SettingsFile::open(const QString &path)
{
    QMutexLocker lock(&registryMutex);
    QHash<QString, std::weak_ptr<SettingsFile>> &registry = ::registry();
    const QString canonical = QFileInfo(path).absoluteFilePath();
    if (std::shared_ptr<SettingsFile> file = registry.value(canonical).lock()) {
        if (file->changedOnDisk())
            file->load();
        return file;
    }
    std::shared_ptr<SettingsFile> file(new SettingsFile(canonical));
    registry.insert(canonical, file);
    return file;
}

SettingsFile::SettingsFile(const QString &path)
    : m_path(path)
    , m_writer(std::make_unique<Writer>(path))
{
    load();
    m_writer->start(QThread::LowPriority);
}

SettingsFile::~SettingsFile() = default; // the writer saves what is pending

void SettingsFile::load()
{
    const FileStamp stamp = stampOf(m_path);
    m_warning.clear();
    if (stamp.size > SaneSizeBytes) {
        m_warning = QStringLiteral("设置文件 %1 有 %2 MB，远超正常大小（几 KB），读写都会很慢；"
                                   "请检查或删除其中多余的内容")
                        .arg(m_path)
                        .arg(stamp.size / (1024 * 1024));
        qWarning("settings file %s is %lld MB, far beyond any sane size", qPrintable(m_path),
                 stamp.size / (1024 * 1024));
    }
    QSettings settings(m_path, QSettings::IniFormat);
    useUtf8(settings);
    QHash<QString, QString> values;
    const QStringList keys = settings.allKeys();
    values.reserve(keys.size());
    for (const QString &key : keys) {
        const QVariant value = settings.value(key);
        // An unquoted INI value with commas comes back as a list; a text is meant.
        values.insert(key,
                      value.userType() == QMetaType::QStringList
                          ? value.toStringList().join(QStringLiteral(", "))
                          : value.toString());
    }
    m_values.swap(values);
    m_writer->setLastSaved(stamp);
}

bool SettingsFile::changedOnDisk()
{
    // Never waits for a save: while one is under way the file is this
    // process's own, and newer in memory than on disk.
    FileStamp saved;
    return m_writer->lastSaved(&saved) && !(stampOf(m_path) == saved);
}

QString SettingsFile::value(const QString &key) const
{
    return m_values.value(normalizedKey(key));
}

void SettingsFile::setValue(const QString &key, const QString &value)
{
    const QString normal = normalizedKey(key);
    const auto it = m_values.constFind(normal);
    if (it != m_values.constEnd() && *it == value && it->isNull() == value.isNull())
        return; // nothing changes: no save
    m_values.insert(normal, value);
    m_writer->put(normal, value);
}

void SettingsFile::flush()
{
    m_writer->flush();
}
