// SPDX-License-Identifier: GPL-3.0-or-later
// The checks of an MCU's answers during a conformance run.
//
// The input is what the MCU sent back: its wire bytes (the frames a framer
// finds in them) and, as they stand, one unescaped frame. For every request
// the simulated module builds (plain commands, status read, a control
// command for each test value of a data-point definition, Wi-Fi status,
// firmware start and piece), the answer goes through every check that
// request's step makes. Checked:
// - the whole-frame check passes exactly when the frame is sound: code and
//   sequence number of the reply, a length field counting the frame, the
//   checksum, the escaped frame on the wire (recomputed here on its own);
// - every problem is a sentence, never an empty text;
// - reading a firmware-ready frame gives a field inside the frame.
// Then the sound answer to each request, built from the request, must pass
// all of its step's checks.
#include "fuzzsupport.h"

#include "datapoint/datapointcodec.h"
#include "module/modulerequests.h"
#include "module/replycheck.h"
#include "protocol/frameformat.h"
#include "protocol/zemframer.h"
#include "protocol/zemtool.h"

#include <QList>

namespace {

using Command = Frame::Command;

struct Request
{
    QByteArray frame;
    // On the status read after a control command: what the command set.
    QMap<QString, QString> sets;
    ModuleRequests::ControlValue value;
};

QList<Request> requests(int sequence)
{
    const DataPointDefinition &def = Fuzz::sampleDefinition();
    QList<Request> out;
    // The status read first: a control command's step repeats it.
    out.append({ModuleRequests::frame(Frame::code(Command::Status), sequence,
                                      QByteArray(1, char(Frame::code(Frame::StatusAction::Read)))),
                {},
                {}});
    for (int code = Frame::FirstCommand; code < Frame::LastCommand; code += 2)
        out.append({ModuleRequests::frame(code, sequence), {}, {}});
    for (int record = 0; record < def.records().size(); ++record) {
        for (const ModuleRequests::ControlValue &v : ModuleRequests::testValues(def, record)) {
            const QByteArray control = ModuleRequests::controlFrame(def, sequence, v);
            out.append({control, {}, {}});
            out.append({out.at(0).frame, DataPointCodec::decodeControl(def, control), v});
        }
    }
    out.append({ModuleRequests::wifiStatus(sequence, sequence % 4, sequence % 3, sequence % 8,
                                           sequence & 1),
                {},
                {}});
    const QByteArray field = QByteArray::fromHex("00ff55aa0102030405060708090a0b0c");
    out.append({ModuleRequests::firmwareStart(sequence, 0x12345, field), {}, {}});
    out.append({ModuleRequests::firmwarePiece(sequence, 1, 3, field + field), {}, {}});
    return out;
}

quint8 sum(const QByteArray &frame)
{
    quint32 s = 0;
    for (int i = Frame::ChecksumStart; i < frame.size() - 1; ++i)
        s += quint8(frame.at(i));
    return quint8(s);
}

bool isSound(const QByteArray &frame, const QByteArray &wire, int code, int sequence)
{
    if (frame.size() < Frame::MinFrameSize)
        return false;
    const int length = (quint8(frame.at(2)) << 8) | quint8(frame.at(3));
    return quint8(frame.at(4)) == code && quint8(frame.at(5)) == (sequence & 0xFF)
        && length == frame.size() - 4 && length >= Frame::MinLength
        && sum(frame) == quint8(frame.at(frame.size() - 1))
        && wire.contains(ZemTool::escape(frame));
}

void checkSentences(const QStringList &problems, const QByteArray &input, const char *check)
{
    for (const QString &p : problems) {
        if (p.trimmed().isEmpty())
            Fuzz::fail(check, input, p.toUtf8());
    }
}

bool isStatusRequest(const QByteArray &request)
{
    return Frame::commandCode(request) == Frame::code(Command::Status);
}

// Every check the step of `request` makes on an answer.
QStringList allChecks(const Request &request, const QByteArray &answer, const QByteArray &wire,
                      const QByteArray &input)
{
    const DataPointDefinition &def = Fuzz::sampleDefinition();
    const int code = Frame::commandCode(request.frame) + 1;
    const int sequence = Frame::sequence(request.frame);
    QStringList problems = ReplyCheck::frame(answer, wire, code, sequence);
    if (problems.isEmpty() != isSound(answer, wire, code, sequence))
        Fuzz::fail("the frame check disagrees on a sound frame", input, answer);
    checkSentences(problems, input, "empty problem from the frame check");
    QStringList step;
    if (code == Frame::code(Command::ProductInfoReply)) {
        step = ReplyCheck::productInfo(answer, QStringLiteral("0123456789abcdef0123456789abcdef"));
        checkSentences(ReplyCheck::productInfo(answer, QString()), input, "productInfo");
    } else if (isStatusRequest(request.frame)
               && Frame::action(request.frame) == Frame::code(Frame::StatusAction::Read)) {
        step = ReplyCheck::statusAnswer(answer, def);
        checkSentences(ReplyCheck::statusAnswer(answer, DataPointDefinition()), input,
                       "statusAnswer");
        if (step.isEmpty() && !request.sets.isEmpty())
            step = ReplyCheck::reportsValues(answer, def, request.sets);
    } else {
        step = ReplyCheck::plainAck(answer);
    }
    checkSentences(step, input, "empty problem from a step's check");
    return problems + step;
}

void checkFirmwareReady(const QByteArray &frame, const QByteArray &input)
{
    ModuleRequests::FirmwareReady ready;
    if (!ModuleRequests::readFirmwareReady(frame, &ready))
        return;
    if (ready.field.size() + Frame::PayloadOffset + 2 + 2 + Frame::ChecksumTail > frame.size()
        || ready.pieceSize < 0 || ready.pieceSize > 0xFFFF)
        Fuzz::fail("firmware-ready field outside the frame", input, frame);
}

// The answer a conforming MCU gives.
QByteArray soundAnswer(const Request &request)
{
    const DataPointDefinition &def = Fuzz::sampleDefinition();
    const int code = Frame::commandCode(request.frame) + 1;
    const int sequence = Frame::sequence(request.frame);
    if (code == Frame::code(Command::ProductInfoReply)) {
        QByteArray payload(Frame::BindingTimeOffset + 2 - Frame::PayloadOffset, '\0');
        const QByteArray text = QByteArrayLiteral("00000004000000020000000100000001"
                                                  "0123456789abcdef0123456789abcdef");
        payload.replace(0, text.size(), text);
        return ModuleRequests::frame(code, sequence, payload);
    }
    if (isStatusRequest(request.frame)
        && Frame::action(request.frame) == Frame::code(Frame::StatusAction::Read)) {
        QByteArray answer = DataPointCodec::makeReportFrame(def);
        answer[Frame::CommandOffset] = char(code);
        answer[Frame::SequenceOffset] = char(sequence);
        answer[Frame::ActionOffset] = char(Frame::code(Frame::StatusAction::Answer));
        if (!request.sets.isEmpty()) {
            const QString name = def.records().at(request.value.record).display_name;
            if (request.value.bytes.isEmpty())
                DataPointCodec::setValue(def, answer, name, int(request.value.number));
            else
                DataPointCodec::setBytes(def, answer, name, request.value.bytes);
        }
        ZemTool::setFrameChecksum(answer);
        return answer;
    }
    return ModuleRequests::frame(code, sequence);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    Fuzz::Random random(input);

    ZemFramer framer;
    QList<QByteArray> answers{input};
    QObject::connect(&framer, &ZemFramer::LineDataReady,
                     [&](const QByteArray &frame) { answers.append(frame); });
    framer.dataToV4(input);

    // The sequence number the requests carry: the first answer's, when it
    // has one, so that matching answers are common.
    const int sequence
        = answers.size() > 1 ? Frame::sequence(answers.at(1)) : int(random.next() % 256);
    for (const Request &request : requests(sequence)) {
        for (const QByteArray &answer : answers)
            allChecks(request, answer, input, input);
        const QByteArray sound = soundAnswer(request);
        const QStringList problems = allChecks(request, sound, ZemTool::escape(sound), input);
        if (!problems.isEmpty())
            Fuzz::fail("the sound answer to a request fails its checks", request.frame,
                       problems.join(QLatin1Char('\n')).toUtf8());
    }
    for (const QByteArray &answer : answers) {
        checkFirmwareReady(answer, input);
        ModuleRequests::statusValues(Fuzz::sampleDefinition(), answer);
    }
    return 0;
}
