// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/conformancerun.h"

#include "datapoint/datapointcodec.h"
#include "module/modulerequests.h"
#include "module/moduleresponder.h"
#include "module/replycheck.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"
#include "serial/line.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <memory>

namespace {

using Frame::Command;

int codeOf(Command c)
{
    return Frame::code(c);
}

// The raw bytes kept per exchange: enough for any frame and the noise
// around it, so that a babbling line cannot grow the buffer without end.
constexpr int MaxWireKept = 4 * 0x10000;

// Bytes that hold no FF, so none of them can look like a header.
const QByteArray &noise()
{
    static const QByteArray bytes("\x00\x12\x34\x56\xAA\x55\x01", 7);
    return bytes;
}

const char *wifiModeName(int mode)
{
    static const char *names[] = {"idle", "station", "SoftAP", "AirLink"};
    return mode >= 0 && mode < 4 ? names[mode] : "?";
}

const char *connectionName(int state)
{
    static const char *names[] = {"not connected", "router", "router and cloud"};
    return state >= 0 && state < 3 ? names[state] : "?";
}

} // namespace

ConformanceRun::ConformanceRun(Line *line, const ConformanceOptions &options, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_options(options)
    , m_framer(new ZemFramer(this))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &ConformanceRun::onTimeout);
    connect(m_framer, &ZemFramer::LineDataReady, this, &ConformanceRun::onFrame);
    if (m_line)
        connect(m_line, &Line::DataReady, this, &ConformanceRun::onData);
}

ConformanceRun::~ConformanceRun() = default;

void ConformanceRun::start()
{
    if (m_running)
        return;
    m_report.clear();
    m_report.setStarted(QDateTime::currentDateTime());
    m_framer->clear();
    m_steps.clear();
    m_sequence = 0;
    planSteps();
    m_running = true;
    m_stepIndex = -1;
    // Queued, so that a caller connecting to the signals after start() still
    // sees the first step.
    QTimer::singleShot(0, this, [this] {
        if (m_running && m_stepIndex < 0) {
            m_stepIndex = 0;
            startStep();
        }
    });
}

void ConformanceRun::abort(const QString &reason)
{
    if (!m_running)
        return;
    if (m_stepIndex >= 0 && m_stepIndex < m_steps.size()) {
        m_steps = m_steps.mid(0, m_stepIndex + 1);
        finishStep(StepResult::Outcome::Failed, reason);
    } else {
        m_running = false;
        emit finished(false);
    }
}

int ConformanceRun::nextSequence()
{
    // 01..FE for the ordinary steps; FF is the robust step's own.
    m_sequence = m_sequence % 0xFE + 1;
    return m_sequence;
}

// --- planning ---------------------------------------------------------------

void ConformanceRun::planSteps()
{
    m_steps.append({QStringLiteral("product information (0x01)"), [this] {
                        const int sn = nextSequence();
                        send(ModuleRequests::frame(codeOf(Command::ProductInfo), sn));
                        const QString key = m_options.expectedProductKey;
                        expect(codeOf(Command::ProductInfoReply), sn, [key](const QByteArray &f) {
                            return ReplyCheck::productInfo(f, key);
                        });
                    }});
    addPlainStep(QStringLiteral("heartbeat (0x07)"), codeOf(Command::Heartbeat));
    m_steps.append({QStringLiteral("status read (0x03 action 02)"), [this] {
                        const int sn = nextSequence();
                        send(ModuleRequests::frame(
                            codeOf(Command::Status), sn,
                            QByteArray(1, char(Frame::code(Frame::StatusAction::Read)))));
                        const DataPointDefinition def = m_options.definition;
                        expect(codeOf(Command::StatusReply), sn, [def](const QByteArray &f) {
                            return ReplyCheck::statusAnswer(f, def);
                        });
                    }});
    addControlSteps();
    addWifiSteps();
    addPlainStep(QStringLiteral("MCU restart (0x0F)"), codeOf(Command::McuRestart));
    // The notice names what was wrong: 01 checksum, 02 command, 03 other.
    addPlainStep(QStringLiteral("illegal frame notice (0x11)"), codeOf(Command::IllegalFrame),
                 QByteArray(1, '\x01'));
    addPlainStep(QStringLiteral("production test mode (0x13)"), codeOf(Command::TestMode));
    addPlainStep(QStringLiteral("binding mode (0x15)"), codeOf(Command::BindingMode));
    addPlainStep(QStringLiteral("firmware transfer end (0x1F)"), codeOf(Command::FirmwareEnd));
    addFirmwareStep();
    if (m_options.robust)
        addRobustSteps();
}

void ConformanceRun::addPlainStep(const QString &name, int command, const QByteArray &payload)
{
    m_steps.append({name, [this, command, payload] {
                        exchangePlain(ModuleRequests::frame(command, nextSequence(), payload));
                    }});
}

void ConformanceRun::addControlSteps()
{
    const DataPointDefinition &def = m_options.definition;
    bool any = false;
    for (int record = 0; record < def.records().size(); ++record) {
        const QList<ModuleRequests::ControlValue> values = ModuleRequests::testValues(def, record);
        for (const ModuleRequests::ControlValue &value : values) {
            any = true;
            const QString name = QStringLiteral("control %1 (0x03 action 01, then status read)")
                                     .arg(ModuleRequests::describe(def, value));
            m_steps.append(
                {name, [this, value] {
                     const DataPointDefinition &d = m_options.definition;
                     const QByteArray control
                         = ModuleRequests::controlFrame(d, nextSequence(), value);
                     const QMap<QString, QString> set = DataPointCodec::decodeControl(d, control);
                     exchangePlain(control);
                     const int sn = nextSequence();
                     send(ModuleRequests::frame(
                         codeOf(Command::Status), sn,
                         QByteArray(1, char(Frame::code(Frame::StatusAction::Read)))));
                     expect(codeOf(Command::StatusReply), sn, [d, set](const QByteArray &f) {
                         QStringList problems = ReplyCheck::statusAnswer(f, d);
                         if (problems.isEmpty())
                             problems = ReplyCheck::reportsValues(f, d, set);
                         return problems;
                     });
                 }});
        }
    }
    if (!any)
        m_steps.append({QStringLiteral("control commands (0x03 action 01)"), nullptr,
                        QStringLiteral("no writable data points: the product key has no cached "
                                       "definition, or it has none writable")});
}

void ConformanceRun::addWifiSteps()
{
    constexpr int Modes = 4;       // idle, station, SoftAP, AirLink
    constexpr int Connections = 3; // none, router, router and cloud
    for (int mode = 0; mode < Modes; ++mode) {
        for (int connection = 0; connection < Connections; ++connection) {
            const QString name = QStringLiteral("Wi-Fi status (0x0D): mode %1 %2, connection %3 %4")
                                     .arg(mode)
                                     .arg(QLatin1String(wifiModeName(mode)))
                                     .arg(connection)
                                     .arg(QLatin1String(connectionName(connection)));
            m_steps.append({name, [this, mode, connection] {
                                // Signal strength and the app flag vary too, so
                                // every bit of the word is exercised.
                                const int signal = (mode * Connections + connection) % 8;
                                exchangePlain(ModuleRequests::wifiStatus(
                                    nextSequence(), mode, connection, signal, connection == 2));
                            }});
        }
    }
}

void ConformanceRun::addFirmwareStep()
{
    const QString name = QStringLiteral("firmware transfer (0x19, 0x1B, 0x1D, 0x1F)");
    if (m_options.firmwarePath.isEmpty()) {
        m_steps.append({name, nullptr, QStringLiteral("no firmware file named")});
        return;
    }
    m_steps.append(
        {name, [this] {
             QFile file(m_options.firmwarePath);
             if (!file.open(QIODevice::ReadOnly)) {
                 finishStep(StepResult::Outcome::Failed,
                            QStringLiteral("cannot read firmware file %1: %2")
                                .arg(m_options.firmwarePath, file.errorString()));
                 return;
             }
             const auto image = std::make_shared<QByteArray>(file.readAll());
             const QByteArray md5 = QCryptographicHash::hash(*image, QCryptographicHash::Md5);
             const int sn = nextSequence();
             exchangePlain(ModuleRequests::firmwareStart(sn, quint32(image->size()), md5));
             awaitRequest(codeOf(Command::FirmwareReady), [this, image, md5](const QByteArray &f) {
                 ModuleRequests::FirmwareReady ready;
                 if (!ModuleRequests::readFirmwareReady(f, &ready))
                     return QStringList{
                         QStringLiteral("0x1B is too short for its count and piece size")};
                 QStringList problems;
                 if (ready.field != md5)
                     problems << QStringLiteral("0x1B does not return the field of 0x19");
                 if (ready.pieceSize <= 0)
                     problems << QStringLiteral("0x1B asks for pieces of 0 bytes");
                 if (!problems.isEmpty())
                     return problems;
                 const int count = int((image->size() + ready.pieceSize - 1) / ready.pieceSize);
                 for (int i = 0; i < count; ++i) {
                     // Pieces are numbered from 1.
                     exchangePlain(ModuleRequests::firmwarePiece(
                         nextSequence(), i + 1, count,
                         image->mid(i * ready.pieceSize, ready.pieceSize)));
                 }
                 exchangePlain(ModuleRequests::frame(codeOf(Command::FirmwareEnd), nextSequence()));
                 return QStringList();
             });
         }});
}

void ConformanceRun::addRobustSteps()
{
    auto heartbeat = [](int sn) { return ModuleRequests::frame(codeOf(Command::Heartbeat), sn); };

    m_steps.append({QStringLiteral("robust: frame split in three with pauses"), [this, heartbeat] {
                        const QByteArray wire = ZemTool::escape(heartbeat(nextSequence()));
                        const int sn = m_sequence;
                        sendWire(wire.left(2));
                        pause(m_options.splitPauseMs);
                        sendWire(wire.mid(2, 3));
                        pause(m_options.splitPauseMs);
                        sendWire(wire.mid(5));
                        expect(codeOf(Command::HeartbeatReply), sn, ReplyCheck::plainAck);
                    }});
    m_steps.append({QStringLiteral("robust: noise between frames"), [this, heartbeat] {
                        const int first = nextSequence();
                        sendWire(noise() + ZemTool::escape(heartbeat(first)) + noise());
                        expect(codeOf(Command::HeartbeatReply), first, ReplyCheck::plainAck);
                        const int second = nextSequence();
                        sendWire(noise() + ZemTool::escape(heartbeat(second)));
                        expect(codeOf(Command::HeartbeatReply), second, ReplyCheck::plainAck);
                    }});
    m_steps.append({QStringLiteral("robust: FF in every field (0x0D)"), [this, heartbeat] {
                        // Sequence number, both flag bytes and the status word
                        // all FF: each goes on the wire as FF 55.
                        const QByteArray all = ModuleRequests::frame(
                            codeOf(Command::WifiStatus), 0xFF, QByteArray(2, '\xFF'), 0xFFFF);
                        exchangePlain(all);
                        // The checksum field too: 05 + 07 + F3 makes a heartbeat
                        // whose checksum is FF.
                        exchangePlain(heartbeat(0xF3));
                    }});
    m_steps.append({QStringLiteral("robust: retransmitted sequence number"), [this, heartbeat] {
                        const QByteArray frame = heartbeat(nextSequence());
                        exchangePlain(frame);
                        exchangePlain(frame);
                    }});
    m_steps.append(
        {QStringLiteral("robust: wrong checksum, then a good frame"), [this, heartbeat] {
             // A frame damaged on the line must be dropped: neither answered
             // nor acted on. A control command shows both: the status is
             // read, a damaged control that would change a value is sent,
             // and the status read after it must report the value as it was.
             auto corrupt = [](QByteArray frame) {
                 frame[frame.size() - 1] = char(quint8(frame.at(frame.size() - 1)) + 1);
                 return frame;
             };
             auto refuse = [this](const QByteArray &bad) {
                 m_refusedAnswers.insert((Frame::commandCode(bad) + 1) << 8 | Frame::sequence(bad));
                 send(bad);
                 pause(qMax(300, m_options.replyLimitMs));
             };
             const DataPointDefinition &d = m_options.definition;
             bool controllable = false;
             for (int r = 0; r < d.records().size() && !controllable; ++r)
                 controllable = ModuleRequests::isControllable(d, r);
             if (!controllable) {
                 // Nothing to set: a damaged heartbeat must go unanswered.
                 refuse(corrupt(heartbeat(nextSequence())));
                 exchangePlain(heartbeat(nextSequence()));
                 return;
             }
             const QByteArray read(1, char(Frame::code(Frame::StatusAction::Read)));
             const int first = nextSequence();
             send(ModuleRequests::frame(codeOf(Command::Status), first, read));
             expect(codeOf(Command::StatusReply), first, [=](const QByteArray &f) {
                 QStringList problems = ReplyCheck::statusAnswer(f, d);
                 if (!problems.isEmpty())
                     return problems;
                 // The first test value that differs from the one reported.
                 const QMap<QString, QString> before = ModuleRequests::statusValues(d, f);
                 QMap<QString, QString> kept;
                 ModuleRequests::ControlValue change;
                 for (int r = 0; r < d.records().size() && kept.isEmpty(); ++r) {
                     for (const ModuleRequests::ControlValue &v :
                          ModuleRequests::testValues(d, r)) {
                         const QMap<QString, QString> set = DataPointCodec::decodeControl(
                             d, ModuleRequests::controlFrame(d, 0, v));
                         for (auto it = set.cbegin(); it != set.cend(); ++it)
                             if (before.value(it.key()) != it.value())
                                 kept.insert(it.key(), before.value(it.key()));
                         if (!kept.isEmpty()) {
                             change = v;
                             break;
                         }
                     }
                 }
                 if (kept.isEmpty())
                     return QStringList{
                         QStringLiteral("no control value differs from the status reported")};
                 refuse(corrupt(ModuleRequests::controlFrame(d, nextSequence(), change)));
                 const int after = nextSequence();
                 send(ModuleRequests::frame(codeOf(Command::Status), after, read));
                 expect(codeOf(Command::StatusReply), after, [d, kept](const QByteArray &a) {
                     QStringList found = ReplyCheck::statusAnswer(a, d);
                     const QMap<QString, QString> now = ModuleRequests::statusValues(d, a);
                     for (auto it = kept.cbegin(); found.isEmpty() && it != kept.cend(); ++it)
                         if (now.value(it.key()) != it.value())
                             found << QStringLiteral("a control command with a wrong checksum "
                                                     "changed %1 from %2 to %3")
                                          .arg(it.key(), it.value(), now.value(it.key()));
                     return found;
                 });
                 return QStringList();
             });
         }});
}

// --- actions ----------------------------------------------------------------

void ConformanceRun::send(const QByteArray &frame)
{
    sendWire(ZemTool::escape(frame));
}

void ConformanceRun::sendWire(const QByteArray &wire)
{
    Action a;
    a.kind = Action::Kind::Send;
    a.wire = wire;
    m_actions.append(a);
}

void ConformanceRun::pause(int ms)
{
    Action a;
    a.kind = Action::Kind::Pause;
    a.ms = ms;
    m_actions.append(a);
}

void ConformanceRun::expect(int code, int sequence,
                            std::function<QStringList(const QByteArray &)> check)
{
    Action a;
    a.kind = Action::Kind::Expect;
    a.code = code;
    a.sequence = sequence;
    a.check = std::move(check);
    m_actions.append(a);
}

void ConformanceRun::awaitRequest(int code, std::function<QStringList(const QByteArray &)> check)
{
    Action a;
    a.kind = Action::Kind::AwaitRequest;
    a.code = code;
    a.check = std::move(check);
    m_actions.append(a);
}

void ConformanceRun::exchangePlain(const QByteArray &frame)
{
    send(frame);
    expect(Frame::commandCode(frame) + 1, Frame::sequence(frame), ReplyCheck::plainAck);
}

// --- running ----------------------------------------------------------------

void ConformanceRun::startStep()
{
    if (m_stepIndex >= m_steps.size()) {
        m_running = false;
        emit finished(m_report.allPassed());
        return;
    }
    const Step &step = m_steps.at(m_stepIndex);
    m_current = StepResult();
    m_current.name = step.name;
    m_actions.clear();
    m_waiting = false;
    m_refusedAnswers.clear();
    m_stepClock.start();
    emit stepStarted(step.name);
    if (!step.plan) {
        finishStep(StepResult::Outcome::Skipped, step.skipReason);
        return;
    }
    const int index = m_stepIndex;
    step.plan();
    if (m_running && m_stepIndex == index)
        advance();
}

void ConformanceRun::advance()
{
    while (m_running && !m_waiting) {
        if (m_actions.isEmpty()) {
            finishStep(StepResult::Outcome::Passed, QString());
            return;
        }
        Action &a = m_actions.first();
        switch (a.kind) {
        case Action::Kind::Send:
            m_wire.clear();
            m_current.addFrame("> ", a.wire);
            if (m_line)
                m_line->send(a.wire);
            m_sentClock.start();
            emit bytesSent(a.wire);
            m_actions.removeFirst();
            break;
        case Action::Kind::Pause:
            m_waiting = true;
            m_timer->start(a.ms);
            return;
        case Action::Kind::Expect:
        case Action::Kind::AwaitRequest:
            m_waiting = true;
            m_timer->start(m_options.effectiveAnswerTimeout());
            return;
        }
    }
}

void ConformanceRun::finishStep(StepResult::Outcome outcome, const QString &reason)
{
    m_timer->stop();
    m_actions.clear();
    m_waiting = false;
    m_current.outcome = outcome;
    m_current.reason = reason;
    m_current.durationMs = m_stepClock.isValid() ? m_stepClock.elapsed() : 0;
    m_report.add(m_current);
    emit stepFinished(m_current);
    ++m_stepIndex;
    if (!m_running)
        return;
    // The next step starts from the event loop, so that a long run never
    // nests one step inside the signal handling of the previous one.
    QTimer::singleShot(0, this, [this] {
        if (m_running)
            startStep();
    });
}

void ConformanceRun::onData(const QByteArray &chunk)
{
    if (!m_running)
        return;
    m_wire.append(chunk);
    if (m_wire.size() > MaxWireKept)
        m_wire.remove(0, m_wire.size() - MaxWireKept);
    m_framer->dataToV4(chunk);
}

void ConformanceRun::onFrame(const QByteArray &frame)
{
    if (!m_running)
        return;
    emit frameReceived(frame);
    m_current.addFrame("< ", frame);
    const QByteArray answer = ModuleResponder::reply(frame);
    if (!answer.isEmpty() && m_line) {
        const QByteArray wire = ZemTool::escape(answer);
        m_line->send(wire);
        m_current.addFrame("> ", wire);
        emit bytesSent(wire);
    }
    const int code = Frame::commandCode(frame);
    if (code >= 0 && m_refusedAnswers.contains(code << 8 | Frame::sequence(frame))) {
        finishStep(
            StepResult::Outcome::Failed,
            QStringLiteral("%1 answers a frame with a wrong checksum (sequence %2), "
                           "which must be dropped")
                .arg(ReplyCheck::hexCode(code), ReplyCheck::hexCode(Frame::sequence(frame))));
        return;
    }
    if (!m_waiting || m_actions.isEmpty())
        return;
    const Action &front = m_actions.first();
    if (front.kind == Action::Kind::Pause)
        return;
    if (code != front.code)
        return; // another frame of the MCU's: logged, not judged
    const Action action = front;
    m_actions.removeFirst();
    m_timer->stop();
    m_waiting = false;
    judge(action, frame);
}

void ConformanceRun::judge(const Action &action, const QByteArray &frame)
{
    const qint64 ms = m_sentClock.isValid() ? m_sentClock.elapsed() : 0;
    const int sequence
        = action.kind == Action::Kind::AwaitRequest ? Frame::sequence(frame) : action.sequence;
    QStringList problems = ReplyCheck::frame(frame, m_wire, action.code, sequence);
    if (action.kind == Action::Kind::Expect && ms > m_options.replyLimitMs)
        problems << QStringLiteral("%1 answered after %2 ms, limit %3 ms")
                        .arg(ReplyCheck::hexCode(action.code))
                        .arg(ms)
                        .arg(m_options.replyLimitMs);
    if (problems.isEmpty() && action.check)
        problems = action.check(frame);
    if (!problems.isEmpty()) {
        finishStep(StepResult::Outcome::Failed, problems.join(QStringLiteral("; ")));
        return;
    }
    advance();
}

void ConformanceRun::onTimeout()
{
    if (!m_running || m_actions.isEmpty())
        return;
    const Action action = m_actions.first();
    if (action.kind == Action::Kind::Pause) {
        m_actions.removeFirst();
        m_waiting = false;
        advance();
        return;
    }
    const QString what = action.kind == Action::Kind::AwaitRequest
        ? QStringLiteral("no %1 from the MCU within %2 ms")
        : QStringLiteral("no answer %1 within %2 ms");
    QString reason
        = what.arg(ReplyCheck::hexCode(action.code)).arg(m_options.effectiveAnswerTimeout());
    // Bytes that made no whole frame: an unescaped FF FF inside a frame
    // reads as a new header and cuts it, a wrong length never completes.
    if (!m_framer->buffer().isEmpty()) {
        constexpr int Shown = 48;
        const QByteArray partial = m_framer->buffer();
        reason += QStringLiteral("; %1 bytes received make no whole frame: %2%3")
                      .arg(partial.size())
                      .arg(ZemTool::hexText(partial.left(Shown)).trimmed(),
                           partial.size() > Shown ? QStringLiteral(" …") : QString());
    }
    finishStep(StepResult::Outcome::Failed, reason);
}
