// SPDX-License-Identifier: GPL-3.0-or-later
// The automatic responder on any frame the assembler can deliver.
//
// Runs in a temporary program folder holding a copy of the shipped settings
// file, so replies come from the real templates and firmware pieces land in
// its bin/. Input:
//   byte 0: device settings: bit 0 module type "central", bit 1 transfer
//           type "hex", bits 2-3 pick the version texts (8 characters, short,
//           long, non-ASCII), bit 7: the first record is a reply template;
//   then records, each one length byte and that many bytes: the template
//   (when bit 7 is set) and the frames, handed to FindRespond one by one.
// Checked for every reply: it repeats the request's sequence number, carries
// the reply code, and its checksum is right (the status answer, which the
// tab completes, excepted). After every input: nothing outside bin/ was
// created, and bin/ holds only the two firmware files, no larger than the
// piece data received.
#include "fuzzsupport.h"

#include "engine/zemanalyze.h"
#include "engine/zemreply.h"
#include "protocol/frameformat.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QList>

namespace {

const char *const versionTexts[4][2] = {
    {"04000001", "00000002"},
    {"1.0.2", "V1"},
    {"1.0.2-beta.7", "HW-REV-000042"},
    {"软件版本号", "V\xF0\x9F\x92\xA1"},
};

void clearBin(const QString &root)
{
    QDir bin(root + QStringLiteral("/bin"));
    for (const QString &name : bin.entryList(QDir::Files | QDir::Hidden))
        bin.remove(name);
}

void checkFiles(const QString &root, qint64 pieceBytes, const QByteArray &input)
{
    const QString bin = root + QStringLiteral("/bin/");
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path == root + QStringLiteral("/auto_analyze.ini"))
            continue;
        // The marker of an incomplete image holds a fixed text.
        if (path == bin + QStringLiteral("mcu.incomplete"))
            continue;
        if (path != bin + QStringLiteral("mcu.bin") && path != bin + QStringLiteral("mcu.hex"))
            Fuzz::fail("a file was written outside bin/ or under another name", input,
                       path.toUtf8());
        if (QFileInfo(path).size() > pieceBytes)
            Fuzz::fail("a firmware file holds more than the pieces received", input, path.toUtf8());
    }
    QDirIterator dirs(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                      QDirIterator::Subdirectories);
    while (dirs.hasNext()) {
        const QString path = dirs.next();
        if (path != root + QStringLiteral("/bin") && path != root + QStringLiteral("/json"))
            Fuzz::fail("a folder was created in the program folder", input, path.toUtf8());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::init();
    const QByteArray input = Fuzz::bytes(data, size);
    if (input.isEmpty())
        return 0;
    const int options = static_cast<unsigned char>(input.at(0));
    // One program folder per combination of device settings: writing the
    // settings file for every input would cost a disk sync each time.
    bool fresh = false;
    const QString root = Fuzz::programFolder(options & 0x0F, &fresh);

    QList<QByteArray> records;
    for (int pos = 1; pos < input.size();) {
        const int n = static_cast<unsigned char>(input.at(pos));
        records.append(input.mid(pos + 1, n));
        pos += 1 + n;
    }

    clearBin(root);
    ZemTool tool;
    if (fresh) {
        tool.writeSetting(SettingKeys::ModuleType,
                          options & 0x01 ? QStringLiteral("central") : QStringLiteral("normal"));
        tool.writeSetting(SettingKeys::OtaType,
                          options & 0x02 ? QStringLiteral("hex") : QStringLiteral("bin"));
        const auto versions = versionTexts[(options >> 2) & 0x03];
        tool.writeSetting(SettingKeys::SoftVersion, QString::fromUtf8(versions[0]));
        tool.writeSetting(SettingKeys::HardVersion, QString::fromUtf8(versions[1]));
    }

    // A hand-edited template: any bytes under the reply key of the first
    // frame's command; the shipped text is put back afterwards.
    QString templateKey;
    QString shippedTemplate;
    if ((options & 0x80) && records.size() >= 2) {
        const QByteArray stored = records.takeFirst();
        const auto request = Frame::command(records.first());
        const auto reply = request ? ZemReply::replyTo(*request) : std::nullopt;
        if (reply) {
            templateKey = SettingKeys::respondKey(*reply);
            shippedTemplate = tool.readSetting(templateKey);
            tool.writeSettingHex(templateKey, stored);
        }
    }

    ZemAnalyze analyze(nullptr, &tool);
    QList<QByteArray> replies;
    QObject::connect(&analyze, &ZemAnalyze::RespondReady,
                     [&replies](const QByteArray &reply) { replies.append(reply); });
    qint64 pieceBytes = 0;
    for (const QByteArray &frame : records) {
        replies.clear();
        analyze.FindRespond(frame);
        const auto request = Frame::command(frame);
        const auto replyCommand = request ? ZemReply::replyTo(*request) : std::nullopt;
        if (Frame::isCommand(frame, Frame::Command::FirmwarePiece))
            pieceBytes += qMax(0, frame.size() - Frame::PieceDataOffset - 1);
        if (replies.size() > 1)
            Fuzz::fail("more than one reply to one frame", input, frame);
        if (replies.isEmpty())
            continue;
        const QByteArray &reply = replies.first();
        if (!replyCommand)
            Fuzz::fail("a reply to a command that gets none", input, frame);
        if (reply.size() < Frame::MinFrameSize)
            Fuzz::fail("a reply shorter than a frame", input, reply);
        if (reply.at(Frame::SequenceOffset) != frame.at(Frame::SequenceOffset))
            Fuzz::fail("the reply does not repeat the sequence number", input, reply);
        if (templateKey.isEmpty() && replyCommand && !Frame::isCommand(reply, *replyCommand))
            Fuzz::fail("the shipped template carries another reply code", input, reply);
        const bool statusAnswer = Frame::isStatusRead(frame);
        if (!statusAnswer
            && ZemTool::byteValue(reply, reply.size() - 1) != ZemTool::frameChecksum(reply))
            Fuzz::fail("the reply's checksum is wrong", input, reply);
    }

    if (!templateKey.isEmpty())
        tool.writeSetting(templateKey, shippedTemplate);
    tool.flushSettings(); // the settings are saved in the background
    checkFiles(root, pieceBytes, input);
    return 0;
}
