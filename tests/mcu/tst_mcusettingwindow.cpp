// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's version fields: exactly 8 printable ASCII characters
// each, as the product-information reply carries them.
#include "testsupport.h"

#include "mcu/mcusettingwindow.h"
#include "protocol/settingkeys.h"
#include "protocol/zemtool.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

class TestMcuSettingWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void typedVersions_data();
    void typedVersions();
    void storedVersions_data();
    void storedVersions();

private:
    QLineEdit *edit(const char *name)
    {
        return m_dialog->findChild<QLineEdit *>(QLatin1String(name));
    }
    QPushButton *saveButton()
    {
        return m_dialog->findChild<QPushButton *>(QStringLiteral("pushButton_save"));
    }
    QString hint()
    {
        return m_dialog->findChild<QLabel *>(QStringLiteral("label_versionhint"))->text();
    }

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<ZemTool> m_tool;
    std::unique_ptr<McuSettingWindow> m_dialog;
};

void TestMcuSettingWindow::init()
{
    m_root = std::make_unique<TestRoot>();
    m_tool = std::make_unique<ZemTool>();
    m_tool->writeSetting(SettingKeys::SoftVersion, QStringLiteral("SW000001"));
    m_tool->writeSetting(SettingKeys::HardVersion, QStringLiteral("HW000001"));
    m_dialog = std::make_unique<McuSettingWindow>(m_tool.get());
}

void TestMcuSettingWindow::cleanup()
{
    m_dialog.reset();
    m_tool.reset();
    m_root.reset();
}

void TestMcuSettingWindow::typedVersions_data()
{
    QTest::addColumn<QString>("softKeys");
    QTest::addColumn<QString>("hardKeys");
    QTest::addColumn<QString>("softShown");
    QTest::addColumn<QString>("hardShown");
    QTest::addColumn<QString>("hintPart"); // empty: both complete, saving allowed
    QTest::newRow("both complete") << "1.0.2-rc"
                                   << "V1 rev.A"
                                   << "1.0.2-rc"
                                   << "V1 rev.A"
                                   << "";
    QTest::newRow("short software version") << "1.0.2"
                                            << "00000001"
                                            << "1.0.2"
                                            << "00000001"
                                            << "软件版本号须正好8个字符，现为5个";
    QTest::newRow("short hardware version") << "00000001"
                                            << "V1"
                                            << "00000001"
                                            << "V1"
                                            << "硬件版本号须正好8个字符，现为2个";
    // The ninth character is refused as it is typed, the hint and tooltip
    // having said 8.
    QTest::newRow("hardware version typed too long") << "00000001"
                                                     << "ABCDEFGHIJ"
                                                     << "00000001"
                                                     << "ABCDEFGH"
                                                     << "";
    QTest::newRow("non-ASCII characters refused while typing")
        << QString::fromUtf8("版本0000000\u00e91") << "00000001"
        << "00000001"
        << "00000001"
        << "";
}

void TestMcuSettingWindow::typedVersions()
{
    QFETCH(QString, softKeys);
    QFETCH(QString, hardKeys);
    QFETCH(QString, softShown);
    QFETCH(QString, hardShown);
    QFETCH(QString, hintPart);
    m_dialog->loadSettings();
    m_dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog.get()));
    for (QLineEdit *e : {edit("lineEdit_softver"), edit("lineEdit_hardver")}) {
        QVERIFY(e->placeholderText().contains(QStringLiteral("8个ASCII字符")));
        QVERIFY(e->toolTip().contains(QStringLiteral("须正好输入8个字符")));
        e->clear();
    }
    QVERIFY(!saveButton()->isEnabled());

    const auto type = [](QLineEdit *e, const QString &keys) {
        e->setFocus();
        for (const QChar c : keys)
            QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(c), Qt::NoModifier);
    };
    type(edit("lineEdit_softver"), softKeys);
    type(edit("lineEdit_hardver"), hardKeys);
    QCOMPARE(edit("lineEdit_softver")->text(), softShown);
    QCOMPARE(edit("lineEdit_hardver")->text(), hardShown);

    const QString before = m_root->settingsText();
    QTest::mouseClick(saveButton(), Qt::LeftButton);
    if (!hintPart.isEmpty()) {
        QVERIFY2(hint().contains(hintPart), qPrintable(hint()));
        QVERIFY(!saveButton()->isEnabled());
        // Nothing stored, the dialog stays open for the correction.
        QVERIFY(m_dialog->isVisible());
        QCOMPARE(m_root->settingsText(), before);
        return;
    }
    QVERIFY(m_dialog->isHidden());
    QCOMPARE(m_tool->readSetting(SettingKeys::SoftVersion), softShown);
    QCOMPARE(m_tool->readSetting(SettingKeys::HardVersion), hardShown);
}

void TestMcuSettingWindow::storedVersions_data()
{
    // Texts a hand-edited settings file may hold.
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("saveEnabled");
    QTest::addColumn<QString>("hintPart");
    QTest::newRow("eight characters") << "00000002"
                                      << "00000002" << true << "8个ASCII字符";
    QTest::newRow("shorter") << "1.0.2"
                             << "1.0.2" << false << "软件版本号须正好8个字符，现为5个";
    QTest::newRow("empty") << ""
                           << "" << false << "软件版本号须正好8个字符，现为0个";
    QTest::newRow("longer: cut, and the hint says so")
        << "ABCDEFGHIJKL"
        << "ABCDEFGH" << true << "已将保存的软件版本号截为前8个字符";
    QTest::newRow("non-ASCII") << QString::fromUtf8("版本1.0.00") << QString::fromUtf8("版本1.0.00")
                               << false << "软件版本号只能用ASCII字符";
}

void TestMcuSettingWindow::storedVersions()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(bool, saveEnabled);
    QFETCH(QString, hintPart);
    m_tool->writeSetting(SettingKeys::SoftVersion, stored);
    m_dialog->loadSettings();
    QCOMPARE(edit("lineEdit_softver")->text(), shown);
    QCOMPARE(saveButton()->isEnabled(), saveEnabled);
    QVERIFY2(hint().contains(hintPart), qPrintable(hint()));

    if (saveEnabled) {
        QTest::mouseClick(saveButton(), Qt::LeftButton);
        QCOMPARE(m_tool->readSetting(SettingKeys::SoftVersion), shown);
        return;
    }
    // Completing the text by hand makes it savable.
    edit("lineEdit_softver")->setText(QStringLiteral("12345678"));
    QVERIFY(saveButton()->isEnabled());
    QCOMPARE(hint(), QStringLiteral("版本号各为8个ASCII字符"));
}

QTEST_MAIN(TestMcuSettingWindow)
#include "tst_mcusettingwindow.moc"
