// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

namespace Ui {
class McuSettingWindow;
}

class ZemTool;

// The "参数界面" dialog: the simulated device's parameters (versions, report
// interval, firmware piece size and form, binding time, module type, the
// data-point service's host and whether a firmware offer is taken up at
// once), loaded from and saved to the settings file.
//
// Both versions travel in fixed 8-byte ASCII fields of the product-information
// reply, so the dialog takes exactly 8 printable ASCII characters for each:
// the fields refuse other characters and a ninth, a hint under them says what
// is missing, and "保存" stays disabled until both are complete. A version
// stored by hand with another length is shown as it is (cut to 8 when longer,
// and the hint says so); the reply pads or cuts it the same way.
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
    void updateVersionHint();

    Ui::McuSettingWindow *ui;
    ZemTool *m_tool;
    QString m_loadNote; // what loading had to change in a stored version
};
