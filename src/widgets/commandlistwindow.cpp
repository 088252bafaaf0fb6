// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/commandlistwindow.h"

#include "widgets/hexinputhint.h"
#include "widgets/sendcontrols.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {
constexpr int ShortcutCount = 9;
const QString FileFilter = QStringLiteral("指令列表 (*.json);;所有文件 (*)");

QPushButton *button(const QString &text, const char *name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}
} // namespace

CommandListWindow::CommandListWindow(ZemTool *settings, const QString &key,
                                     const QList<Target> &targets, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_settings(settings)
    , m_key(key)
    , m_targets(targets)
    , m_current(targets.isEmpty() ? nullptr : targets.first().box)
    , m_view(new QListWidget(this))
    , m_name(new QLineEdit(this))
    , m_hex(new QLineEdit(this))
{
    setObjectName(QStringLiteral("CommandListWindow"));
    setWindowTitle(QStringLiteral("指令列表"));
    m_view->setObjectName(QStringLiteral("listWidget_commands"));
    m_name->setObjectName(QStringLiteral("lineEdit_commandName"));
    m_hex->setObjectName(QStringLiteral("lineEdit_commandHex"));
    m_name->setPlaceholderText(QStringLiteral("名称"));
    m_hex->setPlaceholderText(QStringLiteral("帧（十六进制，长度可写 ??）"));
    HexInputHint::attach(m_hex);

    auto *add = button(QStringLiteral("添加"), "pushButton_commandAdd", this);
    auto *edit = button(QStringLiteral("保存修改"), "pushButton_commandSave", this);
    auto *remove = button(QStringLiteral("删除"), "pushButton_commandRemove", this);
    auto *up = button(QStringLiteral("上移"), "pushButton_commandUp", this);
    auto *down = button(QStringLiteral("下移"), "pushButton_commandDown", this);
    auto *fromBox = button(QStringLiteral("取发送框"), "pushButton_commandFromBox", this);
    auto *importButton = button(QStringLiteral("导入…"), "pushButton_commandImport", this);
    auto *exportButton = button(QStringLiteral("导出…"), "pushButton_commandExport", this);

    auto *fields = new QGridLayout;
    fields->addWidget(new QLabel(QStringLiteral("名称："), this), 0, 0);
    fields->addWidget(m_name, 0, 1);
    fields->addWidget(fromBox, 0, 2);
    fields->addWidget(new QLabel(QStringLiteral("帧："), this), 1, 0);
    fields->addWidget(m_hex, 1, 1, 1, 2);
    auto *editRow = new QHBoxLayout;
    for (QPushButton *b : {add, edit, remove, up, down})
        editRow->addWidget(b);
    auto *sendButtons = new QHBoxLayout;
    for (int i = 0; i < m_targets.size(); ++i) {
        auto *send = new QPushButton(m_targets.at(i).caption, this);
        send->setObjectName(QStringLiteral("pushButton_commandSend%1").arg(i + 1));
        SendControls *box = m_targets.at(i).box;
        connect(send, &QPushButton::clicked, this, [this, box] {
            const int row = currentRow();
            if (row >= 0)
                box->sendText(m_list.at(row).hex);
        });
        sendButtons->addWidget(send);
    }
    sendButtons->addStretch();
    sendButtons->addWidget(importButton);
    sendButtons->addWidget(exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view, 1);
    layout->addLayout(fields);
    layout->addLayout(editRow);
    layout->addLayout(sendButtons);
    layout->addWidget(
        new QLabel(QStringLiteral("双击或 Ctrl+1…Ctrl+9 发送到打开本窗口的发送框"), this));
    resize(460, 360);

    connect(m_view, &QListWidget::currentRowChanged, this, &CommandListWindow::onRowChanged);
    connect(m_view, &QListWidget::itemActivated, this,
            [this](QListWidgetItem *item) { sendRow(m_view->row(item)); });
    connect(add, &QPushButton::clicked, this, &CommandListWindow::addCommand);
    connect(edit, &QPushButton::clicked, this, &CommandListWindow::saveEdit);
    connect(remove, &QPushButton::clicked, this, &CommandListWindow::removeCommand);
    connect(up, &QPushButton::clicked, this, [this] { moveCommand(-1); });
    connect(down, &QPushButton::clicked, this, [this] { moveCommand(1); });
    connect(fromBox, &QPushButton::clicked, this, &CommandListWindow::fromBox);
    connect(importButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("导入指令列表"),
                                                          QString(), FileFilter);
        if (!path.isEmpty())
            importFile(path);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("导出指令列表"), QStringLiteral("commands.json"), FileFilter);
        if (!path.isEmpty())
            exportFile(path);
    });
    addShortcutsTo(this);

    m_list.load(m_settings, m_key);
    refill(m_list.isEmpty() ? -1 : 0);
}

void CommandListWindow::addShortcutsTo(QWidget *widget)
{
    for (int n = 1; n <= ShortcutCount; ++n) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_0 + n)), widget);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, n] { sendRow(n - 1); });
    }
}

void CommandListWindow::showFor(SendControls *box)
{
    if (box)
        m_current = box;
    show();
    raise();
    activateWindow();
}

bool CommandListWindow::sendRow(int row)
{
    if (row < 0 || row >= m_list.size() || !m_current)
        return false;
    return m_current->sendText(m_list.at(row).hex);
}

int CommandListWindow::currentRow() const
{
    const int row = m_view->currentRow();
    return row >= 0 && row < m_list.size() ? row : -1;
}

void CommandListWindow::refill(int current)
{
    const QSignalBlocker block(m_view);
    m_view->clear();
    for (int i = 0; i < m_list.size(); ++i) {
        const CommandList::Command &c = m_list.at(i);
        const QString shortcut = i < ShortcutCount ? QStringLiteral("Ctrl+%1  ").arg(i + 1)
                                                   : QStringLiteral("        ");
        auto *item = new QListWidgetItem(shortcut + c.name, m_view);
        item->setToolTip(c.hex);
    }
    m_view->setCurrentRow(current);
    onRowChanged(currentRow());
}

void CommandListWindow::onRowChanged(int row)
{
    if (row < 0 || row >= m_list.size())
        return;
    m_name->setText(m_list.at(row).name);
    m_hex->setText(m_list.at(row).hex);
    m_hex->setCursorPosition(0);
}

void CommandListWindow::save()
{
    m_list.save(m_settings, m_key);
}

void CommandListWindow::addCommand()
{
    QString name = m_name->text().trimmed();
    if (name.isEmpty())
        name = QStringLiteral("指令 %1").arg(m_list.size() + 1);
    m_list.add({name, m_hex->text()});
    save();
    refill(m_list.size() - 1);
}

void CommandListWindow::saveEdit()
{
    const int row = currentRow();
    if (row < 0)
        return;
    m_list.replace(row, {m_name->text().trimmed(), m_hex->text()});
    save();
    refill(row);
}

void CommandListWindow::removeCommand()
{
    const int row = currentRow();
    if (!m_list.remove(row))
        return;
    save();
    refill(qMin(row, m_list.size() - 1));
}

void CommandListWindow::moveCommand(int by)
{
    const int row = currentRow();
    if (!m_list.move(row, row + by))
        return;
    save();
    refill(row + by);
}

void CommandListWindow::fromBox()
{
    if (!m_current)
        return;
    m_hex->setText(m_current->box()->toPlainText().simplified());
    m_hex->setCursorPosition(0);
}

bool CommandListWindow::exportFile(const QString &path)
{
    QString error;
    if (m_list.exportTo(path, &error))
        return true;
    QMessageBox::about(this, QStringLiteral("错误"), QStringLiteral("导出失败：") + error);
    return false;
}

bool CommandListWindow::importFile(const QString &path)
{
    QString error;
    if (!m_list.importFrom(path, &error)) {
        QMessageBox::about(this, QStringLiteral("错误"), QStringLiteral("导入失败：") + error);
        return false;
    }
    save();
    refill(m_list.isEmpty() ? -1 : 0);
    return true;
}
