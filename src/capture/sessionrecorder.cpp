// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/sessionrecorder.h"

#include "base/apppaths.h"
#include "capture/linemonitor.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

SessionRecorder::SessionRecorder(QObject *parent)
    : SessionRecorder(nullptr, parent)
{ }

SessionRecorder::SessionRecorder(ZemTool *settings, QObject *parent)
    : QObject(parent)
    , m_flushTimer(new QTimer(this))
    , m_settings(settings)
{
    m_flushTimer->setInterval(FlushIntervalMs);
    connect(m_flushTimer, &QTimer::timeout, this, &SessionRecorder::onFlushTick);
}

SessionRecorder::~SessionRecorder()
{
    // Closing the writer flushes the tail; no signal goes out from here.
    m_writer.close();
}

QString SessionRecorder::captureDir()
{
    return AppPaths::root() + QStringLiteral("/captures");
}

QString SessionRecorder::fileNameFor(const QDateTime &localTime)
{
    return QStringLiteral("lumo-") + localTime.toString(QStringLiteral("yyyyMMdd-HHmmss"))
        + QStringLiteral(".pcap");
}

bool SessionRecorder::autoStartEnabled(ZemTool *settings)
{
    if (!settings) {
        ZemTool own;
        return autoStartEnabled(&own);
    }
    return settings->readSetting(SettingKeys::AnalyzerAutoRecord) == QLatin1String("true");
}

void SessionRecorder::setAutoStartEnabled(bool on, ZemTool *settings)
{
    if (!settings) {
        ZemTool own;
        setAutoStartEnabled(on, &own);
        return;
    }
    settings->writeSetting(SettingKeys::AnalyzerAutoRecord,
                           on ? QStringLiteral("true") : QStringLiteral("false"));
}

bool SessionRecorder::start(LineMonitor *monitor, QString *error)
{
    if (isRecording())
        return true;
    if (!monitor)
        return refuse(QStringLiteral("没有可录制的串口"), error);

    const QString dir = captureDir();
    if (!QDir().mkpath(dir))
        return refuse(QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir)),
                      error);
    // Two recordings started within one second get "-2", "-3", ... rather
    // than one replacing the other.
    const QString base = fileNameFor(QDateTime::currentDateTime());
    QString path = dir + QLatin1Char('/') + base;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = dir + QLatin1Char('/') + base.chopped(5) + QStringLiteral("-%1.pcap").arg(n);
    return startFile(monitor, path, error);
}

bool SessionRecorder::startFile(LineMonitor *monitor, const QString &path, QString *error)
{
    if (isRecording())
        return true;
    if (!monitor)
        return refuse(QStringLiteral("没有可录制的串口"), error);
    QString why;
    if (!m_writer.open(path, &why))
        return refuse(why, error);
    m_path = path;
    m_lastError.clear();
    m_monitor = monitor;
    connect(monitor, &LineMonitor::segments, this, &SessionRecorder::onSegments);
    m_flushTimer->start();
    emit recordingChanged(true, m_path);
    return true;
}

bool SessionRecorder::refuse(const QString &why, QString *error)
{
    if (error)
        *error = why;
    emit failed(why);
    return false;
}

void SessionRecorder::stop()
{
    if (!isRecording())
        return;
    // What the monitor still holds (a frame half received, a line of text
    // without its newline) belongs to this recording.
    if (m_monitor)
        m_monitor->flush();
    if (m_monitor)
        disconnect(m_monitor, &LineMonitor::segments, this, &SessionRecorder::onSegments);
    m_monitor.clear();
    m_flushTimer->stop();
    m_writer.close();
    const QString error = m_writer.errorString();
    m_lastError = error;
    emit recordingChanged(false, m_path);
    if (!error.isEmpty())
        emit failed(error);
}

void SessionRecorder::onSegments(const QVector<LineSegment> &batch, const QStringList &portNames)
{
    if (!isRecording())
        return;
    for (qsizetype i = 0; i < batch.size(); ++i)
        m_writer.write(batch.at(i), i < portNames.size() ? portNames.at(i) : QString());
    // A write the disk refused closed the writer: the rest is not recorded.
    if (!m_writer.isOpen())
        stopAfterError();
}

void SessionRecorder::onFlushTick()
{
    if (!m_writer.flush())
        stopAfterError();
}

void SessionRecorder::stopAfterError()
{
    if (m_monitor)
        disconnect(m_monitor, &LineMonitor::segments, this, &SessionRecorder::onSegments);
    m_monitor.clear();
    m_flushTimer->stop();
    m_writer.close();
    m_lastError = m_writer.errorString();
    emit recordingChanged(false, m_path);
    emit failed(m_lastError);
}

void SessionRecorder::watch(LineMonitor *monitor)
{
    if (m_watched)
        disconnect(m_watched, &LineMonitor::portOpened, this, &SessionRecorder::onPortOpened);
    m_watched = monitor;
    if (monitor)
        connect(monitor, &LineMonitor::portOpened, this, &SessionRecorder::onPortOpened);
}

void SessionRecorder::onPortOpened()
{
    if (!isRecording() && m_watched && autoStartEnabled(m_settings))
        start(m_watched);
}
