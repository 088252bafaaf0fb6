#pragma once

#include <QWidget>

namespace Ui {
class McuSettingWindow;
}

class ZemTool;

// The "参数界面" dialog: the simulated device's parameters (versions, report
// interval, firmware piece size and form, binding time, module type and the
// data-point service's host), loaded from and saved to the settings file.
class McuSettingWindow : public QWidget
{
    Q_OBJECT
public:
    explicit McuSettingWindow(ZemTool *tool, QWidget *parent = nullptr);
    ~McuSettingWindow() override;

    // Puts the stored values into the fields; numbers are clamped by their
    // spin boxes, unknown combo values leave the selection as it was.
    void loadSettings();

private slots:
    void on_pushButton_save_clicked();

private:
    Ui::McuSettingWindow *ui;
    ZemTool *m_tool;
};
