// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mcusimulator.h"

#include "datapoint/datapointtext.h"
#include "datapoint/definitionstore.h"
#include "engine/zemanalyze.h"
#include "engine/zemfirmware.h"
#include "engine/zemreply.h"
#include "protocol/frameescape.h"
#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/anyline.h"
#include "serial/zemserialport.h"

#include <QDateTime>
#include <QDebug>
#include <QRegularExpression>
#include <QTimer>

namespace {

const QString TagWifi = QStringLiteral("WIFI:");
const QString TagMcu = QStringLiteral("MCU:");
const QString TagSend = QStringLiteral("SEND:");
constexpr int MaxReportSeconds = 0x7FFFFFFF / 1000;

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

McuSimulator::McuSimulator(ZemTool *settings, QObject *parent)
    : McuSimulator(settings, nullptr, parent)
{ }

McuSimulator::McuSimulator(ZemTool *settings, Line *line, QObject *parent)
    : QObject(parent)
    , m_tool(settings)
    , m_line(line)
{
    if (!m_line) {
        auto *serial = new AnyLine(this);
        m_port = serial->port();
        m_line = serial;
    }
    connect(m_line, &Line::Lost, this, &McuSimulator::onLineLost);

    // One handler per frame decides the order: the control is applied and
    // the request reported before the responder answers it.
    m_framer = new ZemFramer(this);
    connect(m_line, &Line::DataReady, m_framer, &ZemFramer::dataToV4);
    connect(m_framer, &ZemFramer::LineDataReady, this, &McuSimulator::fromFramer);
    m_analyze = new ZemAnalyze(m_tool, this);
    m_analyze->setStatusSource([this] { return statusReport(); });
    connect(m_analyze, &ZemAnalyze::RespondReady, this, &McuSimulator::fromRespond);

    m_definitions = new DefinitionStore(m_tool, this);
    connect(m_definitions, &DefinitionStore::ready, this,
            [this](const QString &key, const DataPointDefinition &definition) {
                // The stored key may have changed while the fetch was under way.
                if (key == productKey())
                    setDefinition(definition,
                                  m_tool->readSetting(SettingKeys::dataPointValuesKey(key)));
                else
                    loadDefinition();
                emit definitionFetched(true, QString());
            });
    connect(m_definitions, &DefinitionStore::failed, this,
            [this](const QString &, const QString &reason, bool) {
                emit definitionFetched(false, reason);
            });

    m_model = new DataPointModel(this);
    m_model->setObjectName(QStringLiteral("dataPointModel"));

    m_reportTimer = new QTimer(this);
    connect(m_reportTimer, &QTimer::timeout, this, &McuSimulator::sendStatusReport);
}

McuSimulator::~McuSimulator() = default;

// --- port --------------------------------------------------------------------

bool McuSimulator::openPort(const QString &path, const LineSettings::Settings &settings)
{
    m_framer->clear();
    m_portPath = path;
    return m_line->openLine(path, settings);
}

QString McuSimulator::openFailureReason() const
{
    return m_line->openFailureReason();
}

bool McuSimulator::isOpen() const
{
    return m_line->isLineOpen();
}

void McuSimulator::closePort()
{
    const bool wasOpen = isOpen();
    stopReports();
    m_line->closeLine();
    resetFraming();
    if (wasOpen)
        reportCutTransfer();
}

void McuSimulator::lineClosed()
{
    resetFraming();
    reportCutTransfer();
}

void McuSimulator::reportCutTransfer()
{
    // The transfer stays under way: a module that resumes after the port
    // comes back completes it.
    const ZemFirmware &firmware = m_analyze->firmware();
    if (firmware.inProgress())
        emit firmwareCut(firmware.pieces(), firmware.bytes(), firmware.imageFile(),
                         firmware.markerFile());
}

void McuSimulator::resetFraming()
{
    // A partial frame of the closed line would otherwise be completed by the
    // first bytes after the next open.
    m_framer->clear();
}

void McuSimulator::onLineLost(const QString &reason)
{
    m_reportTimer->stop();
    resetFraming();
    const QString name = m_portPath.isEmpty() ? m_line->address() : m_portPath;
    emit notice(QStringLiteral("串口 %1 已断开：%2").arg(name, reason));
    reportCutTransfer();
    emit portLost(reason);
}

void McuSimulator::write(const QByteArray &wire)
{
    if (m_line->isLineOpen())
        m_line->send(wire);
}

void McuSimulator::report(const QString &tag, const QByteArray &wire, const QByteArray &frame,
                          bool dropped)
{
    emit transferred({tag, QDateTime::currentMSecsSinceEpoch(), wire, frame, dropped});
}

// --- frames ------------------------------------------------------------------

void McuSimulator::applyControl(const QByteArray &frame)
{
    const QVector<int> rows = m_model->applyControl(frame);
    emit valuesChanged(rows);
}

void McuSimulator::fromFramer(const QByteArray &frame)
{
    // A frame damaged on the line may carry any value in any field (a
    // control that switches the device off): it is shown and dropped, and
    // the module, getting no answer, sends it again.
    if (!ZemAnalyze::checksumOk(frame)) {
        report(TagWifi, frame, frame, true);
        return;
    }
    // A 03 without payload is no control, whatever its checksum byte at
    // offset 8 reads.
    if (Frame::isControlCommand(frame))
        applyControl(frame);
    report(TagWifi, frame, frame);
    const ZemFirmware &firmware = m_analyze->firmware();
    const bool receiving = firmware.inProgress();
    m_analyze->FindRespond(frame);
    // Said after the end's acknowledgement went out.
    if (receiving && !firmware.inProgress())
        emit firmwareReceived(firmware.pieces(), firmware.bytes(), firmware.imageFile());
}

void McuSimulator::fromRespond(const QByteArray &reply)
{
    // The reply is finished (a status answer carries the report already).
    const QByteArray wire = ZemTool::escape(reply);
    write(wire);
    report(TagMcu, wire, reply);

    if (Frame::command(reply) == Frame::Command::FirmwareStartReply) {
        emit firmwareOffered();
        if (m_answerFirmwareStart)
            sendFirmwareReady();
    }
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

bool McuSimulator::sendFirmwareReady()
{
    if (!isOpen())
        return false;
    const QByteArray frame = firmwareReadyFrame(m_tool, m_analyze);
    if (frame.isEmpty()) {
        emit notice(QStringLiteral("无法生成固件接收请求（0x1B）：请检查设置 %1")
                        .arg(SettingKeys::StoredFirmwareReady));
        return false;
    }
    // The field comes from the module and may hold FF: escaped like every
    // frame the MCU builds, or a conforming module would cut it there.
    const QByteArray wire = ZemTool::escape(frame);
    write(wire);
    report(TagMcu, wire, frame);
    return true;
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
    return m_definitions->isCached(productKey());
}

void McuSimulator::loadDefinition()
{
    const QString key = productKey();
    DataPointDefinition definition;
    m_definitions->load(key, &definition);
    setDefinition(definition,
                  key.isEmpty() ? QString()
                                : m_tool->readSetting(SettingKeys::dataPointValuesKey(key)));
}

void McuSimulator::setDefinition(const DataPointDefinition &definition, const QString &savedValues)
{
    DataPointValues values(definition);
    if (!savedValues.isEmpty())
        values.restore(savedValues);
    m_model->setValues(values);
}

void McuSimulator::fetchDefinition()
{
    m_definitions->fetch(productKey());
}

bool McuSimulator::setValue(const QString &name, const QString &text, QString *error)
{
    const DataPointValues &vals = values();
    const DataPointDefinition &def = vals.definition();
    int row = def.indexOf(name);
    for (int i = 0; row < 0 && i < def.records().size(); ++i)
        if (def.records().at(i).name == name)
            row = i;
    if (row < 0) {
        *error = QStringLiteral("no data point named '%1'").arg(name);
        return false;
    }
    const json_struct &record = def.records().at(row);
    switch (vals.kind(row)) {
    case DataPointValues::Kind::Number: {
        qlonglong v = 0;
        if (!parseNumber(text, record.data_type == DataPointText::Bool, &v)) {
            *error = QStringLiteral("'%1' is no number for data point '%2'").arg(text, name);
            return false;
        }
        if (v < vals.minimum(row) || v > vals.maximum(row)) {
            *error = QStringLiteral("%1 is outside %2..%3 for data point '%4'")
                         .arg(text.trimmed())
                         .arg(vals.minimum(row))
                         .arg(vals.maximum(row))
                         .arg(name);
            return false;
        }
        m_model->setData(m_model->index(row, DataPointModel::ValueColumn), int(v));
        return true;
    }
    case DataPointValues::Kind::Choice: {
        const QStringList labels = vals.labels(row);
        int index = labels.indexOf(text.trimmed());
        qlonglong v = -1;
        if (index < 0 && parseNumber(text, false, &v) && v >= 0 && v < labels.size())
            index = int(v);
        if (index < 0) {
            *error = QStringLiteral("'%1' is none of the labels of data point '%2': %3")
                         .arg(text, name, labels.join(QStringLiteral(", ")));
            return false;
        }
        m_model->setData(m_model->index(row, DataPointModel::ValueColumn), index);
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
        if (digits.size() > vals.maxHexDigits(row)) {
            *error = QStringLiteral("'%1' has more than %2 hex digits for data point '%3'")
                         .arg(text)
                         .arg(vals.maxHexDigits(row))
                         .arg(name);
            return false;
        }
        m_model->setData(m_model->index(row, DataPointModel::ValueColumn), digits);
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
    return m_model->values().statusReport();
}

void McuSimulator::sendStatusReport()
{
    if (!isOpen())
        return;
    const QByteArray frame = statusReport();
    const QByteArray wire = ZemTool::escape(frame);
    write(wire);
    report(TagSend, wire, frame);
}

void McuSimulator::sendRaw(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    write(bytes);
    // Sent as given: the module reads it as wire bytes.
    report(TagSend, bytes, Frame::unescape(bytes));
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
