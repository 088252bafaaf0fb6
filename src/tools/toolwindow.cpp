#include "tools/toolwindow.h"
#include "ui_toolwindow.h"

#include "app/apppaths.h"
#include "protocol/zemtool.h"

ToolWindow::ToolWindow(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ToolWindow)
{
    ui->setupUi(this);
    ui->label_background->setStyleSheet(AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background->lower();
}

ToolWindow::~ToolWindow()
{
    delete ui;
}

QString ToolWindow::checksumText(const QString &hexText)
{
    const QByteArray bytes = QByteArray::fromHex(hexText.toLatin1());
    const quint8 sum = ZemTool::checksum(bytes, 0, 0);
    return QString::asprintf("%02X", unsigned(sum));
}

void ToolWindow::on_pushButton_run_clicked()
{
    ui->label_result->setText(checksumText(ui->textEdit_checksum->toPlainText()));
}
