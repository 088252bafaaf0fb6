// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace Ui {
class About;
}

// The "关于" tab: pictures and two lines of text.
class About : public QWidget
{
    Q_OBJECT
public:
    explicit About(QWidget *parent = nullptr);
    ~About() override;

private:
    Ui::About *ui;
};
