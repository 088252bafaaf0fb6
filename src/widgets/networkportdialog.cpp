// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/networkportdialog.h"
#include "ui_networkportdialog.h"

#include "serial/networkaddress.h"

#include <QPushButton>

NetworkPortDialog::NetworkPortDialog(const QStringList &lines, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::NetworkPortDialog)
{
    ui->setupUi(this);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    ui->listWidget_lines->addItems(lines);
    ui->pushButton_remove->setEnabled(false);
    connect(ui->lineEdit_address, &QLineEdit::textChanged, this, &NetworkPortDialog::check);
    connect(ui->listWidget_lines, &QListWidget::currentRowChanged, this,
            [this](int row) { ui->pushButton_remove->setEnabled(row >= 0); });
    connect(ui->pushButton_remove, &QPushButton::clicked, this, &NetworkPortDialog::removeSelected);
    check(QString());
}

NetworkPortDialog::~NetworkPortDialog()
{
    delete ui;
}

void NetworkPortDialog::check(const QString &text)
{
    NetworkAddress parsed;
    QString problem;
    const bool ok = NetworkAddress::parse(text, &parsed, &problem);
    m_address = ok ? parsed.toString() : QString();
    // Nothing typed yet is no mistake: the placeholder shows the form.
    ui->label_problem->setText(text.trimmed().isEmpty() ? QString() : problem);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(ok);
}

void NetworkPortDialog::removeSelected()
{
    QListWidgetItem *item = ui->listWidget_lines->currentItem();
    if (!item)
        return;
    const QString address = item->text();
    delete item;
    emit removeRequested(address);
}
