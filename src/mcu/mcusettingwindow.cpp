// SPDX-License-Identifier: GPL-3.0-or-later
#include "mcu/mcusettingwindow.h"
#include "ui_mcusettingwindow.h"

#include "engine/zemreply.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

void selectText(QComboBox *combo, const QString &text)
{
    const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        combo->setCurrentIndex(index);
}

// Printable ASCII, at most 8: shorter texts are intermediate while typing.
QValidator *versionValidator(QObject *parent)
{
    return new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[\\x20-\\x7E]{%1}").arg(Frame::VersionWidth)), parent);
}

// What is wrong with one version text, or the empty text.
QString versionProblem(const QString &caption, const QString &text)
{
    if (ZemReply::isVersionText(text))
        return QString();
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() >= 0x7F)
            return caption + QStringLiteral("只能用ASCII字符");
    return caption
        + QStringLiteral("须正好%1个字符，现为%2个").arg(Frame::VersionWidth).arg(text.size());
}

// The width at which a line edit shows its placeholder whole rather than cut
// short with "…": the text, the edit's own text margin on either side (2
// pixels in QLineEdit) and whatever frame and padding the style draws.
int wholePlaceholderWidth(const QLineEdit *edit)
{
    constexpr int LineEditTextMargin = 2;
    constexpr int ProbeWidth = 1000;
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = QRect(0, 0, ProbeWidth, edit->sizeHint().height());
    option.lineWidth = edit->hasFrame()
        ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
        : 0;
    const int contents
        = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width();
    const QMargins text = edit->textMargins();
    return ProbeWidth - contents + text.left() + text.right() + 2 * LineEditTextMargin
        + edit->fontMetrics().horizontalAdvance(edit->placeholderText()) + 1;
}

} // namespace

McuSettingWindow::McuSettingWindow(ZemTool *tool, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::McuSettingWindow)
    , m_tool(tool)
{
    ui->setupUi(this);
    for (QLineEdit *edit : {ui->lineEdit_softver, ui->lineEdit_hardver}) {
        edit->setMaxLength(Frame::VersionWidth);
        edit->setValidator(versionValidator(edit));
        // The placeholder shows the form of a version; the field is wide
        // enough for it at any font size (the dialog grows with it).
        edit->setMinimumWidth(wholePlaceholderWidth(edit));
        connect(edit, &QLineEdit::textChanged, this, &McuSettingWindow::updateVersionHint);
        // Once the user types, the note about the stored text is past.
        connect(edit, &QLineEdit::textEdited, this, [this] { m_loadNote.clear(); });
    }
    updateVersionHint();
}

McuSettingWindow::~McuSettingWindow()
{
    delete ui;
}

void McuSettingWindow::loadSettings()
{
    const QString soft = m_tool->readSetting(SettingKeys::SoftVersion);
    const QString hard = m_tool->readSetting(SettingKeys::HardVersion);
    // A longer stored text is cut by the field; say so, since the user did
    // not type it.
    QStringList cut;
    if (soft.size() > Frame::VersionWidth)
        cut << QStringLiteral("软件版本号");
    if (hard.size() > Frame::VersionWidth)
        cut << QStringLiteral("硬件版本号");
    m_loadNote = cut.isEmpty() ? QString()
                               : QStringLiteral("已将保存的%1截为前%2个字符")
                                     .arg(cut.join(QStringLiteral("和")))
                                     .arg(Frame::VersionWidth);
    ui->lineEdit_softver->setText(soft);
    ui->lineEdit_hardver->setText(hard);
    updateVersionHint();
    ui->spinBox_upload->setValue(m_tool->readSettingNumber(SettingKeys::UploadTime));
    ui->spinBox_ota->setValue(m_tool->readSettingNumber(SettingKeys::OtaPiece));
    selectText(ui->comboBox, m_tool->readSetting(SettingKeys::OtaType));
    ui->spinBox_binding->setValue(m_tool->readSettingNumber(SettingKeys::BindingTime));
    selectText(ui->comboBox_moduletype, m_tool->readSetting(SettingKeys::ModuleType));
    ui->lineEdit_enviroment->setText(m_tool->readSetting(SettingKeys::Environment));
    ui->checkBox_otaautostart->setChecked(m_tool->readSetting(SettingKeys::OtaAutoStart)
                                          == QLatin1String("true"));
}

void McuSettingWindow::updateVersionHint()
{
    QStringList problems;
    for (const QString &p :
         {versionProblem(QStringLiteral("软件版本号"), ui->lineEdit_softver->text()),
          versionProblem(QStringLiteral("硬件版本号"), ui->lineEdit_hardver->text())})
        if (!p.isEmpty())
            problems << p;
    const bool ok = problems.isEmpty();
    if (ok)
        problems << (m_loadNote.isEmpty() ? QStringLiteral("版本号各为8个ASCII字符") : m_loadNote);
    ui->label_versionhint->setText(problems.join(QStringLiteral("；")));
    ui->label_versionhint->setStyleSheet(ok ? QString() : QStringLiteral("color: #c00000;"));
    ui->pushButton_save->setEnabled(ok);
}

void McuSettingWindow::on_pushButton_save_clicked()
{
    // The button is disabled meanwhile; a click that still arrives (a
    // shortcut, a direct call) must not store a version the reply would pad.
    if (!ZemReply::isVersionText(ui->lineEdit_softver->text())
        || !ZemReply::isVersionText(ui->lineEdit_hardver->text()))
        return;
    m_tool->writeSetting(SettingKeys::SoftVersion, ui->lineEdit_softver->text());
    m_tool->writeSetting(SettingKeys::HardVersion, ui->lineEdit_hardver->text());
    m_tool->writeSetting(SettingKeys::UploadTime, ui->spinBox_upload->text());
    m_tool->writeSetting(SettingKeys::OtaPiece, ui->spinBox_ota->text());
    m_tool->writeSetting(SettingKeys::OtaType, ui->comboBox->currentText());
    m_tool->writeSetting(SettingKeys::BindingTime, ui->spinBox_binding->text());
    m_tool->writeSetting(SettingKeys::ModuleType, ui->comboBox_moduletype->currentText());
    m_tool->writeSetting(SettingKeys::Environment, ui->lineEdit_enviroment->text());
    m_tool->writeSetting(SettingKeys::OtaAutoStart,
                         ui->checkBox_otaautostart->isChecked() ? QStringLiteral("true")
                                                                : QStringLiteral("false"));
    hide();
}
