// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mcusimulator.h"

#include "datapoint/datapointtext.h"
#include "datapoint/zemjson.h"
#include "engine/settingkeys.h"
#include "engine/zemanalyze.h"
#include "engine/zemfirmware.h"
#include "engine/zemreply.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QDebug>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTime>
#include <QTimer>

namespace {

const QString TagWifi = QStringLiteral("WIFI:");
const QString TagMcu = QStringLiteral("MCU:");
const QString TagSend = QStringLiteral("SEND:");
const QString TagNotice = QStringLiteral("注意:");
constexpr int MaxReportSeconds = 0x7FFFFFFF / 1000;

QString logTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

// A number as typed on a command line: decimal, "true" and "false" for a
// bool. Values beyond 64 bits are no number at all.
bool parseNumber(const QString &text, bool isBool, qlonglong *value)
{
    const QString t = text.trimmed();
    if (isBool) {
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
            *value = 1;
            return true;
        }
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            *value = 0;
            return true;
        }
    }
    bool ok = false;
    *value = t.toLongLong(&ok, 10);
    return ok;
}

} // namespace

McuSimulator::McuSimulator(QObject *parent)
    : QObject(parent)
{
    m_tool = new ZemTool(this);
    m_port = new ZemSerialPort(this);
    m_port->setAcceptUnlisted(true);
    connect(m_port, &ZemSerialPort::PortLost, this, &McuSimulator::onPortLost);

    // The framer's listeners run in the order connected: the request is
    // logged (and a control applied) before the responder answers it.
    m_framer = new ZemFramer(m_tool, m_port, this);
    connect(m_framer, &ZemFramer::LineDataReady, this, &McuSimulator::onFrame);
    m_analyze = new ZemAnalyze(m_framer, m_tool, this);
    connect(m_analyze, &ZemAnalyze::RespondReady, this, &McuSimulator::onReply);

    m_json = new ZemJson(this);
    connect(m_json, &ZemJson::json_stat, this, [this](bool ok) {
        if (ok)
            loadDefinition();
        emit definitionFetched(ok, ok ? QString() : m_json->lastFetchDetail());
    });
    connect(m_json, &ZemJson::fetchFailed, this,
            [this](const QString &reason) { emit definitionFetched(false, reason); });

    m_reportTimer = new QTimer(this);
    connect(m_reportTimer, &QTimer::timeout, this, &McuSimulator::sendStatusReport);
}

McuSimulator::~McuSimulator() = default;

// --- port --------------------------------------------------------------------

bool McuSimulator::openPort(const QString &path, const LineSettings::Settings &settings)
{
    m_framer->clear();
    m_portPath = path;
    return m_port->Open(path, settings);
}

QString McuSimulator::openFailureReason() const
{
    return m_port->openFailureReason();
}

bool McuSimulator::isOpen() const
{
    return m_port->isOpen();
}

void McuSimulator::closePort()
{
    stopReports();
    m_port->Close();
    // A partial frame of the closed line would otherwise be completed by the
    // first bytes after the next open.
    m_framer->clear();
}

void McuSimulator::onPortLost(const QString &reason)
{
    m_reportTimer->stop();
    m_framer->clear();
    notice(QStringLiteral("串口 %1 已断开：%2").arg(m_portPath, reason));
    emit portLost(reason);
}

void McuSimulator::write(const QByteArray &wire)
{
    if (m_port->isOpen())
        m_port->write(wire);
}

// --- log ---------------------------------------------------------------------

void McuSimulator::logTransfer(const QString &tag, const QByteArray &bytes)
{
    emit logLine(tag + logTime());
    emit logLine(ZemTool::hexText(bytes));
}

void McuSimulator::notice(const QString &text)
{
    emit logLine(TagNotice + logTime() + QLatin1Char(' ') + text);
}

// --- frames ------------------------------------------------------------------

void McuSimulator::onFrame(const QByteArray &frame)
{
    if (Frame::isControlCommand(frame) && !m_values.applyControl(frame).isEmpty())
        emit valuesChanged();
    logTransfer(TagWifi, frame);
}

void McuSimulator::onReply(const QByteArray &reply)
{
    // Only an answer to a status read carries the status: the full report
    // goes out in its place, with the read's sequence number.
    const QByteArray frame
        = Frame::isStatusAnswer(reply) ? ZemReply::statusAnswer(reply, statusReport()) : reply;
    const QByteArray wire = ZemTool::escape(frame);
    write(wire);
    logTransfer(TagMcu, wire);

    if (m_answerFirmwareStart && Frame::command(frame) == Frame::Command::FirmwareStartReply)
        sendFirmwareReady();
}

QByteArray McuSimulator::firmwareReadyFrame(const ZemTool *tool, const ZemAnalyze *analyze)
{
    const QByteArray frame = ZemFirmware::requestFrame(
        tool->readSettingHex(SettingKeys::StoredFirmwareReady), analyze->otaCount(),
        analyze->otaField(), tool->readSettingNumber(SettingKeys::OtaPiece),
        tool->readSetting(SettingKeys::OtaType) == SettingKeys::OtaTypeHex);
    if (frame.isEmpty())
        qDebug() << "no firmware request: stored body too short or fields too long:"
                 << tool->readSetting(SettingKeys::StoredFirmwareReady);
    return frame;
}

void McuSimulator::sendFirmwareReady()
{
    const QByteArray frame = firmwareReadyFrame(m_tool, m_analyze);
    if (frame.isEmpty()) {
        notice(QStringLiteral("无法生成固件接收请求（0x1B）：请检查设置 %1")
                   .arg(SettingKeys::StoredFirmwareReady));
        return;
    }
    // The field comes from the module and may hold FF: escaped like every
    // frame the MCU builds.
    const QByteArray wire = ZemTool::escape(frame);
    write(wire);
    logTransfer(TagMcu, wire);
}

// --- product key and definition ---------------------------------------------

bool McuSimulator::setProductKey(const QString &text)
{
    return m_analyze->checkProductKey(text);
}

QString McuSimulator::productKey() const
{
    return m_tool->readSetting(SettingKeys::ProductKey);
}

bool McuSimulator::hasCachedDefinition() const
{
    return QFileInfo::exists(ZemJson::cachePath(productKey()));
}

void McuSimulator::loadDefinition()
{
    const QString key = productKey();
    m_json->loadJson(key);
    m_values = DataPointValues(m_json->definition());
    if (!key.isEmpty())
        m_values.restore(m_tool->readSetting(SettingKeys::dataPointValuesKey(key)));
}

void McuSimulator::fetchDefinition()
{
    m_json->getJson(productKey());
}

bool McuSimulator::setValue(const QString &name, const QString &text, QString *error)
{
    const DataPointDefinition &def = m_values.definition();
    int row = def.indexOf(name);
    for (int i = 0; row < 0 && i < def.records().size(); ++i)
        if (def.records().at(i).name == name)
            row = i;
    if (row < 0) {
        *error = QStringLiteral("no data point named '%1'").arg(name);
        return false;
    }
    const json_struct &record = def.records().at(row);
    switch (m_values.kind(row)) {
    case DataPointValues::Kind::Number: {
        qlonglong v = 0;
        if (!parseNumber(text, record.data_type == DataPointText::Bool, &v)) {
            *error = QStringLiteral("'%1' is no number for data point '%2'").arg(text, name);
            return false;
        }
        if (v < m_values.minimum(row) || v > m_values.maximum(row)) {
            *error = QStringLiteral("%1 is outside %2..%3 for data point '%4'")
                         .arg(text.trimmed())
                         .arg(m_values.minimum(row))
                         .arg(m_values.maximum(row))
                         .arg(name);
            return false;
        }
        m_values.setNumber(row, int(v));
        return true;
    }
    case DataPointValues::Kind::Choice: {
        const QStringList labels = m_values.labels(row);
        int index = labels.indexOf(text.trimmed());
        qlonglong v = -1;
        if (index < 0 && parseNumber(text, false, &v) && v >= 0 && v < labels.size())
            index = int(v);
        if (index < 0) {
            *error = QStringLiteral("'%1' is none of the labels of data point '%2': %3")
                         .arg(text, name, labels.join(QStringLiteral(", ")));
            return false;
        }
        m_values.setNumber(row, index);
        return true;
    }
    case DataPointValues::Kind::Bytes: {
        QString digits = text;
        digits.remove(QRegularExpression(QStringLiteral("\\s")));
        static const QRegularExpression hexOnly(QStringLiteral("^[0-9a-fA-F]*$"));
        if (!hexOnly.match(digits).hasMatch()) {
            *error = QStringLiteral("'%1' is no hex text for data point '%2'").arg(text, name);
            return false;
        }
        if (digits.size() > m_values.maxHexDigits(row)) {
            *error = QStringLiteral("'%1' has more than %2 hex digits for data point '%3'")
                         .arg(text)
                         .arg(m_values.maxHexDigits(row))
                         .arg(name);
            return false;
        }
        m_values.setHexText(row, digits);
        return true;
    }
    case DataPointValues::Kind::None:
        break;
    }
    *error = QStringLiteral("data point '%1' has data type '%2', which carries no value")
                 .arg(name, record.data_type);
    return false;
}

// --- reports -----------------------------------------------------------------

QByteArray McuSimulator::statusReport() const
{
    return m_values.statusReport();
}

void McuSimulator::sendStatusReport()
{
    if (!m_port->isOpen())
        return;
    const QByteArray wire = ZemTool::escape(statusReport());
    m_port->write(wire);
    logTransfer(TagSend, wire);
}

void McuSimulator::startReports(int seconds)
{
    if (seconds <= 0) {
        stopReports();
        return;
    }
    // QTimer counts milliseconds in an int: about 24 days at most.
    m_reportTimer->start(qMin(seconds, MaxReportSeconds) * 1000);
}

void McuSimulator::stopReports()
{
    m_reportTimer->stop();
}

bool McuSimulator::reporting() const
{
    return m_reportTimer->isActive();
}
