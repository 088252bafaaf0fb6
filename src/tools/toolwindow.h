#pragma once

#include <QWidget>

namespace Ui {
class ToolWindow;
}

// The "小工具" tab: the checksum calculator.
class ToolWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ToolWindow(QWidget *parent = nullptr);
    ~ToolWindow() override;

private:
    Ui::ToolWindow *ui;
};
