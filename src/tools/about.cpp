// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/about.h"
#include "ui_about.h"

#include "base/apppaths.h"

About::About(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::About)
{
    ui->setupUi(this);
    // Both pictures are files beside the program; a missing file leaves its
    // label empty. The background fills the layout cell that also holds the
    // text, and is lowered so that it is drawn behind it.
    ui->label_background->setStyleSheet(
        AppPaths::borderImageStyle(QStringLiteral("background.png")));
    ui->label_background->lower();
    ui->label_logo->setStyleSheet(AppPaths::borderImageStyle(QStringLiteral("logo.png")));
}

About::~About()
{
    delete ui;
}
