// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/toolwindow.h"
#include "ui_toolwindow.h"

#include "base/apppaths.h"
#include "protocol/frameescape.h"
#include "protocol/hexinput.h"
#include "protocol/zemtool.h"
#include "widgets/hexinputhint.h"

ToolWindow::ToolWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ToolWindow)
{
    ui->setupUi(this);
    // The background fills the layout cell that also holds the calculator,
    // and is lowered so that it is drawn behind it.
    ui->label_background->setStyleSheet(
        AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background->lower();
    HexInputHint::attach(ui->textEdit_checksum);
}

ToolWindow::~ToolWindow()
{
    delete ui;
}

QString ToolWindow::checksumText(const QString &hexText)
{
    const QByteArray bytes = HexInput::toBytes(hexText);
    const quint8 sum = ZemTool::checksum(bytes, 0, 0);
    return QString::asprintf("%02X", unsigned(sum));
}

QString ToolWindow::frameChecksumText(const QString &hexText)
{
    const QByteArray bytes = HexInput::toBytes(hexText);
    if (Frame::byteAt(bytes, 0) != Frame::HeaderByte
        || Frame::byteAt(bytes, 1) != Frame::HeaderByte)
        return QString();
    const QByteArray frame = Frame::unescape(bytes);
    const auto hex2 = [](int value) { return QString::asprintf("%02X", unsigned(value)); };
    // A frame pasted with its checksum is as long as its length field says; one
    // pasted to have its checksum worked out is one byte shorter.
    if (Frame::isWhole(frame)) {
        const int sum = ZemTool::checksum(frame, Frame::ChecksumStart, Frame::ChecksumTail);
        const int stored = Frame::byteAt(frame, frame.size() - 1);
        return QStringLiteral(
                   "帧校验和（自第3字节起，去转义，不含末尾的校验和字节）：%1（帧中为 %2，%3）")
            .arg(hex2(sum), hex2(stored),
                 sum == stored ? QStringLiteral("正确") : QStringLiteral("错误"));
    }
    const int sum = ZemTool::checksum(frame, Frame::ChecksumStart, 0);
    if (frame.size() + 1 >= Frame::MinFrameSize
        && Frame::lengthField(frame) + Frame::LengthFieldOverhead == frame.size() + 1)
        return QStringLiteral("帧校验和（自第3字节起到末尾，去转义）：%1").arg(hex2(sum));
    return QStringLiteral("帧校验和（自第3字节起到末尾，去转义；长度字段与字节数不符，"
                          "末字节是否为校验和无从判断）：%1")
        .arg(hex2(sum));
}

void ToolWindow::on_pushButton_run_clicked()
{
    const QString text = ui->textEdit_checksum->toPlainText();
    ui->label_result->setText(checksumText(text));
    ui->label_frameChecksum->setText(frameChecksumText(text));
}
