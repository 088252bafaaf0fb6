#include "mcu/mcusettingwindow.h"
#include "ui_mcusettingwindow.h"

#include "engine/settingkeys.h"
#include "protocol/zemtool.h"

namespace {

void selectText(QComboBox *combo, const QString &text)
{
    const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        combo->setCurrentIndex(index);
}

} // namespace

McuSettingWindow::McuSettingWindow(ZemTool *tool, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::McuSettingWindow)
    , m_tool(tool)
{
    ui->setupUi(this);
}

McuSettingWindow::~McuSettingWindow()
{
    delete ui;
}

void McuSettingWindow::loadSettings()
{
    ui->lineEdit_softver->setText(m_tool->readSetting(SettingKeys::SoftVersion));
    ui->lineEdit_hardver->setText(m_tool->readSetting(SettingKeys::HardVersion));
    ui->spinBox_upload->setValue(m_tool->readSettingNumber(SettingKeys::UploadTime));
    ui->spinBox_ota->setValue(m_tool->readSettingNumber(SettingKeys::OtaPiece));
    selectText(ui->comboBox, m_tool->readSetting(SettingKeys::OtaType));
    ui->spinBox_binding->setValue(m_tool->readSettingNumber(SettingKeys::BindingTime));
    selectText(ui->comboBox_moduletype, m_tool->readSetting(SettingKeys::ModuleType));
    ui->lineEdit_enviroment->setText(m_tool->readSetting(SettingKeys::Environment));
}

void McuSettingWindow::on_pushButton_save_clicked()
{
    m_tool->writeSetting(SettingKeys::SoftVersion, ui->lineEdit_softver->text());
    m_tool->writeSetting(SettingKeys::HardVersion, ui->lineEdit_hardver->text());
    m_tool->writeSetting(SettingKeys::UploadTime, ui->spinBox_upload->text());
    m_tool->writeSetting(SettingKeys::OtaPiece, ui->spinBox_ota->text());
    m_tool->writeSetting(SettingKeys::OtaType, ui->comboBox->currentText());
    m_tool->writeSetting(SettingKeys::BindingTime, ui->spinBox_binding->text());
    m_tool->writeSetting(SettingKeys::ModuleType, ui->comboBox_moduletype->currentText());
    m_tool->writeSetting(SettingKeys::Environment, ui->lineEdit_enviroment->text());
    hide();
}
