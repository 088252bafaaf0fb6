// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/linerecording.h"

#include "capture/linemonitor.h"
#include "capture/sessionrecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

LineRecording::LineRecording(QObject *parent)
    : QObject(parent)
    , m_monitor(new LineMonitor(this))
    , m_recorder(new SessionRecorder(this))
{
    connect(m_recorder, &SessionRecorder::failed, this, [this](const QString &) {
        emit failed(QStringLiteral("writing %1 failed; recording stopped")
                        .arg(QDir::toNativeSeparators(m_path)));
    });
}

LineRecording::~LineRecording()
{
    stop();
}

bool LineRecording::start(Line *line, LineDirection readDirection, const QString &path,
                          QString *error)
{
    // The writer's own reasons are the window's words; the system's reason
    // comes in English from a first open of the file here.
    QFile probe(path);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2")
                         .arg(QDir::toNativeSeparators(path), probe.errorString());
        return false;
    }
    probe.close();
    m_path = QFileInfo(path).absoluteFilePath();
    m_monitor->attach(line, readDirection, true);
    const QSignalBlocker quiet(m_recorder); // the reason goes out through *error here
    if (!m_recorder->startFile(m_monitor, m_path)) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

void LineRecording::stop()
{
    m_recorder->stop();
}

bool LineRecording::isRecording() const
{
    return m_recorder->isRecording();
}

qint64 LineRecording::packetCount() const
{
    return m_recorder->packetCount();
}
