// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/toolwindow.h"
#include "ui_toolwindow.h"

#include "base/apppaths.h"
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

void ToolWindow::on_pushButton_run_clicked()
{
    ui->label_result->setText(checksumText(ui->textEdit_checksum->toPlainText()));
}
