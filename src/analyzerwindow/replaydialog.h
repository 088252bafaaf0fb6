// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/linesegment.h"

#include <QDialog>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class ReplayDialog;
}

class FrameAnalyzer;
class Line;
class ReplayPlayer;
class ReplayRegression;
struct ReplayStep;

// Where a tab plays a recording: for each direction (indexed by
// LineDirection) the line its bytes go out on, toward the device that
// received them in the recording, and what the user calls that line. The
// dual tab plays what the module sent onto the side wired to the MCU and
// what the MCU sent onto the other; the simulated-MCU tab has one port for
// both.
struct ReplayTargets
{
    Line *lines[2] = {nullptr, nullptr};
    QString names[2];
    // Told of every write, for the tab's taps (may be empty).
    std::function<void(LineDirection, const QByteArray &)> sent;
};

// "回放": plays an opened capture onto the line of the tab the analyzer
// belongs to, either plainly (one direction or both, with the recorded
// timing scaled, or as fast as the line takes it) or "按录制应答", as the
// module's responder against a live MCU, with one result row per request.
//
// The dialog reads the file again into an analyzer of its own, so the
// analyzer window may open another file or go back to the live line while
// a replay runs.
class ReplayDialog : public QDialog
{
    Q_OBJECT
public:
    // `targets` is asked each time a run starts (the user may open a port
    // meanwhile). `selectedRow` is the analyzer row selected in the list,
    // -1 none.
    ReplayDialog(const QString &capturePath, qint64 replyLimitUs, qint64 selectedRow,
                 std::function<ReplayTargets()> targets, QWidget *parent = nullptr);
    ~ReplayDialog() override;

    bool isRunning() const;
    // False, with the reason in error(), when the file could not be read.
    bool isLoaded() const { return m_rows != nullptr; }
    QString error() const { return m_error; }

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_pushButton_start_clicked();
    void on_pushButton_pause_clicked();
    void on_pushButton_stop_clicked();
    void updateControls();

private:
    void startPlain(const ReplayTargets &targets, qint64 from);
    void startRegression(const ReplayTargets &targets, qint64 from);
    void addStep(const ReplayStep &step);
    void ended(const QString &text);
    void setStatus(const QString &text);

    Ui::ReplayDialog *ui;
    std::unique_ptr<FrameAnalyzer> m_rows;
    QString m_error;
    qint64 m_selectedRow;
    std::function<ReplayTargets()> m_targets;
    QPointer<ReplayPlayer> m_player;
    QPointer<ReplayRegression> m_regression;
};
