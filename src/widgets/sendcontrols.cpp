// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/sendcontrols.h"

#include "protocol/hexinput.h"
#include "protocol/zemtool.h"
#include "send/periodicsender.h"
#include "widgets/hexinputhint.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextEdit>

namespace {
const QString TrueText = QStringLiteral("true");
const QString FalseText = QStringLiteral("false");
const QString StartCaption = QStringLiteral("定时发送");
const QString StopCaption = QStringLiteral("停止定时");
constexpr int DefaultIntervalMs = 1000;
// A day; the spin box needs a top.
constexpr int MaxIntervalMs = 24 * 3600 * 1000;
constexpr int MaxCount = 1000000;
} // namespace

SendControls::SendControls(QTextEdit *box, const QString &suffix, ZemTool *settings,
                           const QString &group, int columns, QWidget *parent)
    : QWidget(parent)
    , m_box(box)
    , m_settings(settings)
    , m_group(group)
    , m_hint(HexInputHint::attach(box))
    , m_complete(new QCheckBox(QStringLiteral("自动补全帧"), this))
    , m_sequence(new QCheckBox(QStringLiteral("序号自增"), this))
    , m_interval(new QSpinBox(this))
    , m_count(new QSpinBox(this))
    , m_periodicButton(new QPushButton(StartCaption, this))
    , m_commands(new QPushButton(QStringLiteral("指令列表"), this))
    , m_periodic(new PeriodicSender(this))
{
    setObjectName(QStringLiteral("sendControls") + suffix);
    m_complete->setObjectName(QStringLiteral("checkBox_complete") + suffix);
    m_sequence->setObjectName(QStringLiteral("checkBox_sequence") + suffix);
    m_interval->setObjectName(QStringLiteral("spinBox_interval") + suffix);
    m_count->setObjectName(QStringLiteral("spinBox_count") + suffix);
    m_periodicButton->setObjectName(QStringLiteral("pushButton_periodic") + suffix);
    m_commands->setObjectName(QStringLiteral("pushButton_commands") + suffix);
    m_periodic->setObjectName(QStringLiteral("periodicSender") + suffix);

    m_complete->setToolTip(QStringLiteral(
        "补上帧头 FF FF、长度（写成 ?? 或不写）、校验和，并转义偏移 3 起的每个 FF；\n"
        "不勾选时按输入原样发送"));
    m_sequence->setToolTip(QStringLiteral("每次发送把序号（偏移 5）加一，并重算校验和"));
    m_interval->setRange(PeriodicSender::MinIntervalMs, MaxIntervalMs);
    m_interval->setSuffix(QStringLiteral(" ms"));
    m_interval->setToolTip(QStringLiteral("定时发送的间隔（毫秒）"));
    m_count->setRange(0, MaxCount);
    m_count->setSpecialValueText(QStringLiteral("无限次"));
    m_count->setSuffix(QStringLiteral(" 次"));
    m_count->setToolTip(QStringLiteral("定时发送的次数，0 为一直发送到停止"));

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(2);
    // In reading order, `columns` a row (the box may be a third of a narrow
    // tab wide).
    QWidget *const order[]
        = {m_complete, m_sequence, m_interval, m_count, m_periodicButton, m_commands};
    int at = 0;
    for (QWidget *w : order) {
        layout->addWidget(w, at / columns, at % columns);
        ++at;
    }
    // The numbers are short; the spin boxes' own hint is as wide as their
    // largest value.
    for (QSpinBox *spin : {m_interval, m_count}) {
        spin->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        spin->setMinimumWidth(spin->fontMetrics().horizontalAdvance(QStringLiteral("0000 ms"))
                              + 24);
    }

    // Restored before the slots below store anything.
    m_complete->setChecked(m_settings->readSetting(key("autocomplete")).trimmed() != FalseText);
    m_sequence->setChecked(m_settings->readSetting(key("sequence")).trimmed() == TrueText);
    const int interval = m_settings->readSettingNumber(key("interval"));
    m_interval->setValue(interval > 0 ? interval : DefaultIntervalMs);
    m_count->setValue(m_settings->readSettingNumber(key("count")));
    m_history.load(m_settings, key("history"));

    m_hint->setPreview([this](const QString &text) {
        return m_complete->isChecked() ? FrameCompletion::hint(text) : QString();
    });
    connect(m_complete, &QCheckBox::toggled, this, [this](bool on) {
        store("autocomplete", on ? TrueText : FalseText);
        m_hint->recheck();
    });
    connect(m_sequence, &QCheckBox::toggled, this, [this](bool on) {
        store("sequence", on ? TrueText : FalseText);
        m_nextSequence = -1;
    });
    connect(m_interval, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int ms) { store("interval", QString::number(ms)); });
    connect(m_count, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int n) { store("count", QString::number(n)); });
    connect(m_periodicButton, &QPushButton::clicked, this, &SendControls::togglePeriodic);
    connect(m_commands, &QPushButton::clicked, this, &SendControls::commandsRequested);
    connect(m_box, &QTextEdit::textChanged, this, [this] {
        // A new text starts from its own sequence number; a run under way
        // sends the text it started with, and keeps counting.
        if (!m_periodic->isRunning())
            m_nextSequence = -1;
        if (!m_recalling)
            m_history.resetBrowsing();
    });
    m_periodic->setSend([this] { return writeOnce(m_periodicText); });
    connect(m_periodic, &PeriodicSender::started, this, [this] { showRunning(true); });
    connect(m_periodic, &PeriodicSender::stopped, this, [this] { showRunning(false); });
    m_box->installEventFilter(this);
}

QString SendControls::key(const char *name) const
{
    return m_group + QLatin1Char('/') + QLatin1String(name);
}

void SendControls::store(const char *name, const QString &value)
{
    m_settings->writeSetting(key(name), value);
}

void SendControls::watch(Line *line)
{
    m_periodic->watch(line);
}

FrameCompletion::Result SendControls::prepare(const QString &text) const
{
    if (m_complete->isChecked())
        return FrameCompletion::complete(text);
    FrameCompletion::Result typed;
    typed.wire = HexInput::toBytes(text);
    return typed;
}

bool SendControls::writeOnce(const QString &text)
{
    const FrameCompletion::Result r = prepare(text);
    // Text that cannot be completed sends nothing; the hint says why.
    if (!r.ok() || !m_write)
        return false;
    QByteArray bytes = r.wire;
    if (m_sequence->isChecked()) {
        const int sequence
            = m_nextSequence >= 0 ? m_nextSequence : FrameCompletion::sequenceOf(bytes);
        bool changed = false;
        if (sequence >= 0)
            bytes = FrameCompletion::withSequence(bytes, sequence, &changed);
        if (changed)
            m_nextSequence = (sequence + 1) & 0xFF;
    }
    return m_write(bytes);
}

void SendControls::remember(const QString &text)
{
    const QStringList before = m_history.entries();
    m_history.add(text);
    if (m_history.entries() != before)
        m_history.save(m_settings, key("history"));
}

bool SendControls::sendBoxText()
{
    const QString text = m_box->toPlainText();
    if (!writeOnce(text))
        return false;
    remember(text);
    return true;
}

bool SendControls::sendText(const QString &text)
{
    return writeOnce(text);
}

void SendControls::togglePeriodic()
{
    if (m_periodic->isRunning()) {
        m_periodic->stop();
        return;
    }
    m_periodicText = m_box->toPlainText();
    if (m_periodic->start(m_interval->value(), m_count->value()))
        remember(m_periodicText);
}

void SendControls::stopPeriodic()
{
    m_periodic->stop();
}

void SendControls::showRunning(bool running)
{
    m_periodicButton->setText(running ? StopCaption : StartCaption);
    m_interval->setEnabled(!running);
    m_count->setEnabled(!running);
}

bool SendControls::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_box || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() != Qt::NoModifier
        || (key->key() != Qt::Key_Up && key->key() != Qt::Key_Down))
        return false;
    // Up on the first line and Down on the last walk the history; elsewhere
    // they move the cursor as in any text box.
    const QTextCursor cursor = m_box->textCursor();
    QString text;
    bool recalled = false;
    if (key->key() == Qt::Key_Up && cursor.blockNumber() == 0)
        recalled = m_history.older(m_box->toPlainText(), &text);
    else if (key->key() == Qt::Key_Down
             && cursor.blockNumber() == m_box->document()->blockCount() - 1)
        recalled = m_history.newer(&text);
    if (!recalled)
        return false;
    m_recalling = true;
    m_box->setPlainText(text);
    m_box->moveCursor(QTextCursor::End);
    m_recalling = false;
    return true;
}
