// SPDX-License-Identifier: GPL-3.0-or-later
#include "module/steptext.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

namespace {

struct Form
{
    QRegularExpression english; // the whole text; its groups are the values
    QString chinese;            // %1, %2, ... for those groups, in order
};

// The English forms of conformancerun.cpp and replycheck.cpp, a step name or
// one problem each.
const QVector<Form> &forms()
{
    static const QVector<Form> table = [] {
        const QVector<QPair<const char *, const char *>> pairs = {
            // step names
            {R"(product information \(0x01\))", "产品信息 (0x01)"},
            {R"(heartbeat \(0x07\))", "心跳 (0x07)"},
            {R"(status read \(0x03 action 02\))", "读取状态 (0x03 动作 02)"},
            {R"(MCU restart \(0x0F\))", "MCU重启 (0x0F)"},
            {R"(illegal frame notice \(0x11\))", "非法帧通知 (0x11)"},
            {R"(production test mode \(0x13\))", "产测模式 (0x13)"},
            {R"(binding mode \(0x15\))", "绑定模式 (0x15)"},
            {R"(firmware transfer end \(0x1F\))", "固件传输结束 (0x1F)"},
            {R"(control (.+) \(0x03 action 01, then status read\))",
             "控制 %1（0x03 动作 01，再读状态）"},
            {R"(control commands \(0x03 action 01\))", "控制命令 (0x03 动作 01)"},
            {R"(Wi-Fi status \(0x0D\): mode (\d) idle, connection (.+))",
             "Wi-Fi状态 (0x0D)：模式 %1 空闲，连接 %2"},
            {R"(Wi-Fi status \(0x0D\): mode (\d) station, connection (.+))",
             "Wi-Fi状态 (0x0D)：模式 %1 STA，连接 %2"},
            {R"(Wi-Fi status \(0x0D\): mode (\d \S+), connection (.+))",
             "Wi-Fi状态 (0x0D)：模式 %1，连接 %2"},
            {R"(firmware transfer \(0x19, 0x1B, 0x1D, 0x1F\))",
             "固件传输 (0x19, 0x1B, 0x1D, 0x1F)"},
            {R"(robust: frame split in three with pauses)", "健壮性：一帧分三段发送，中间停顿"},
            {R"(robust: noise between frames)", "健壮性：帧间有噪声"},
            {R"(robust: FF in every field \(0x0D\))", "健壮性：每个字段都含FF (0x0D)"},
            {R"(robust: retransmitted sequence number)", "健壮性：重发的序列号"},
            {R"(robust: wrong checksum, then a good frame)", "健壮性：校验和错误的帧，再发正确帧"},
            // problems
            {R"(frame of (\d+) bytes is shorter than the smallest frame \(9\))",
             "帧只有%1字节，短于最短的帧（9字节）"},
            {R"(reply code (\S+), expected (\S+))", "应答码%1，应为%2"},
            {R"(sequence number (\S+), expected (\S+))", "序列号%1，应为%2"},
            {R"(length field (\S+) does not count the (\d+)-byte frame)",
             "长度字段%1与%2字节的帧不符"},
            {R"(checksum (\S+), expected (\S+))", "校验和%1，应为%2"},
            {R"(not escaped on the wire \(every FF after offset 2 must be followed by 55\))",
             "线上未转义（偏移2之后的每个FF后须跟55）"},
            {R"(length (\S+), a plain acknowledgement has 5 \(no payload\))",
             "长度%1，普通应答应为5（无负载）"},
            {R"(product information of (\d+) bytes, at least (\d+) expected)",
             "产品信息只有%1字节，至少应有%2字节"},
            {R"(length (\S+), expected (\S+) \(or (\S+) with device attributes\))",
             "长度%1，应为%2（带设备属性时为%3）"},
            {R"((.+) is not 8 ASCII characters: (.*))", "%1不是8个ASCII字符：%2"},
            {R"x(product key "(.*)", expected "(.*)")x", "产品标识“%1”，应为“%2”"},
            {R"(action (\S+), a status answer has 0x03)", "动作%1，状态应答的动作应为0x03"},
            {R"(status payload of (\d+) value bytes, the definition has (\d+))",
             "状态负载有%1个值字节，数据点定义为%2个"},
            {R"(status reports (.+) = (.+) after it was set to (.+))", "设为%3后，状态报告%1 = %2"},
            {R"(the control command sets no value the definition knows)",
             "控制命令没有设置数据点定义中的任何值"},
            {R"(no writable data points: .*)",
             "没有可写的数据点：该产品标识没有缓存的数据点定义，或定义中没有可写的数据点"},
            {R"(no firmware file named)", "未指定固件文件"},
            {R"(cannot read firmware file (.+): (.+))", "无法读取固件文件%1：%2"},
            {R"(0x1B is too short for its count and piece size)", "0x1B太短，放不下次数和分片大小"},
            {R"(0x1B does not return the field of 0x19)", "0x1B没有带回0x19的字段"},
            {R"(0x1B asks for pieces of 0 bytes)", "0x1B要求0字节的分片"},
            {R"((\S+) answered after (\d+) ms, limit (\d+) ms)", "%1在%2毫秒后才应答，上限%3毫秒"},
            {R"(no (\S+) from the MCU within (\d+) ms)", "%2毫秒内没有收到MCU的%1"},
            {R"(no answer (\S+) within (\d+) ms)", "%2毫秒内没有应答%1"},
            {R"((\d+) bytes received make no whole frame: (.*))", "收到的%1字节不成完整的帧：%2"},
            {R"(serial port lost: (.*))", "串口丢失：%1"},
            {R"(a control command with a wrong checksum changed (.+) from (.+) to (.+))",
             "校验和错误的控制命令把%1从%2改成了%3"},
            {R"((\S+) answers a frame with a wrong checksum \(sequence (\S+)\), which must be dropped)",
             "%1应答了校验和错误的帧（序列号%2），这样的帧必须丢弃"},
            {R"(port closed by the user)", "用户关闭了串口"},
            {R"(stopped by the user)", "用户停止了测试"},
            {R"(stopped by a signal)", "被信号停止"},
            {R"(window closed)", "窗口已关闭"},
        };
        QVector<Form> out;
        out.reserve(pairs.size());
        for (const auto &p : pairs)
            out.append(
                {QRegularExpression(QStringLiteral("^(?:%1)$").arg(QString::fromUtf8(p.first))),
                 QString::fromUtf8(p.second)});
        return out;
    }();
    return table;
}

// The Wi-Fi connection states as the 0x0D step names them.
QString connection(const QString &english)
{
    static const QVector<QPair<QString, QString>> names = {
        {QStringLiteral(" not connected"), QStringLiteral(" 未连接")},
        {QStringLiteral(" router and cloud"), QStringLiteral(" 已连路由器和云端")},
        {QStringLiteral(" router"), QStringLiteral(" 已连路由器")},
    };
    for (const auto &n : names) {
        if (english.endsWith(n.first))
            return english.left(english.size() - n.first.size()) + n.second;
    }
    return english;
}

QString one(const QString &english)
{
    for (const Form &form : forms()) {
        const QRegularExpressionMatch m = form.english.match(english);
        if (!m.hasMatch())
            continue;
        // %n by hand rather than arg(): a value may hold a % of its own.
        const bool wifi = form.chinese.startsWith(QLatin1String("Wi-Fi"));
        QString text;
        const QString &pattern = form.chinese;
        for (int i = 0; i < pattern.size(); ++i) {
            const int group = i + 1 < pattern.size() && pattern.at(i) == QLatin1Char('%')
                ? pattern.at(i + 1).digitValue()
                : -1;
            if (group < 1 || group > m.lastCapturedIndex()) {
                text += pattern.at(i);
                continue;
            }
            text += wifi && group == 2 ? connection(m.captured(group)) : m.captured(group);
            ++i;
        }
        return text;
    }
    return english;
}

} // namespace

QString StepText::chinese(const QString &english)
{
    const QString separator = QStringLiteral("; ");
    QStringList parts = english.split(separator);
    for (QString &part : parts)
        part = one(part);
    return parts.join(QStringLiteral("；"));
}

QString StepText::framesLeftOut(bool chinese)
{
    return chinese ? QStringLiteral("……其间%1帧未保留……")
                   : QStringLiteral("… %1 frames left out …");
}
