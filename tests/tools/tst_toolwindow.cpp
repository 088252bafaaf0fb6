// SPDX-License-Identifier: GPL-3.0-or-later
// The checksum calculator and the about page.
#include "testsupport.h"

#include "base/apppaths.h"
#include "tools/about.h"
#include "tools/toolwindow.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

class TestToolWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void calculatorForm();
    void checksum_data();
    void checksum();
    void aboutPageShowsBothPictures();
    void missingPictureLeavesLabelEmpty();

private:
    std::unique_ptr<TestRoot> m_root;
};

void TestToolWindow::init()
{
    m_root = std::make_unique<TestRoot>();
}

void TestToolWindow::cleanup()
{
    m_root.reset();
}

void TestToolWindow::calculatorForm()
{
    ToolWindow w;
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("输入："));
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("label_checksum"))->text(),
             QStringLiteral("校验和："));
    QCOMPARE(w.findChild<QPushButton *>(QStringLiteral("pushButton_run"))->text(),
             QStringLiteral("计算"));
    QVERIFY(w.findChild<QTextEdit *>(QStringLiteral("textEdit_checksum")));
    QVERIFY(w.findChild<QLabel *>(QStringLiteral("label_result")));
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("label_background"))->styleSheet(),
             QStringLiteral("border-image:url(") + m_root->path()
                 + QStringLiteral("/image/background.png)"));
}

void TestToolWindow::checksum_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("frame"); // the frame's own checksum line, for text starting FF FF
    const QString withoutChecksum = QStringLiteral("帧校验和（自第3字节起到末尾，去转义）：");
    QTest::newRow("frame body 08 seq 07")
        << QStringLiteral("00 05 08 07 00 00") << QStringLiteral("14") << QString();
    QTest::newRow("empty") << QString() << QStringLiteral("00") << QString();
    QTest::newRow("header summed like any byte")
        << QStringLiteral("FF FF") << QStringLiteral("FE")
        << QStringLiteral("帧校验和（自第3字节起到末尾，去转义；长度字段与字节数不符，"
                          "末字节是否为校验和无从判断）：00");
    QTest::newRow("lower case, run together")
        << QStringLiteral("ffff000508070000") << QStringLiteral("12")
        << withoutChecksum + QLatin1String("14");
    QTest::newRow("pasted frame without its checksum")
        << QStringLiteral("FF FF 00 05 07 90 00 00") << QStringLiteral("9A")
        << withoutChecksum + QLatin1String("9C");
    // On the wire the payload's FF is followed by 55; the last byte is the
    // checksum, which the length field counts.
    QTest::newRow("escaped frame with its checksum")
        << QStringLiteral("FF FF 00 06 03 01 00 00 FF 55 09") << QStringLiteral("65")
        << QStringLiteral(
               "帧校验和（自第3字节起，去转义，不含末尾的校验和字节）：09（帧中为 09，正确）");
    QTest::newRow("stray characters skipped")
        << QStringLiteral("00,05;08-07\nzz 00\t00 !") << QStringLiteral("14") << QString();
    QTest::newRow("only non-hex text")
        << QStringLiteral("zzz xyz") << QStringLiteral("00") << QString();
    QTest::newRow("wraps to zero") << QStringLiteral("80 80") << QStringLiteral("00") << QString();
    QTest::newRow("single digit") << QStringLiteral("A") << QStringLiteral("0A") << QString();
    QTest::newRow("v4 product reply body") << QStringLiteral(
        "00 47 02 01 00 00 30 30 30 30 30 30 30 34 30 30 30 30 30 30 30 34 30 30 30 30 "
        "30 30 30 31 30 30 30 30 30 30 30 31 35 64 31 63 37 61 39 30 65 34 62 33 66 32 "
        "30 36 38 61 39 63 31 65 37 64 33 62 35 66 30 61 32 34 00 00")
                                           << QStringLiteral("3B") << QString();
}

void TestToolWindow::checksum()
{
    QFETCH(QString, input);
    QFETCH(QString, result);
    QFETCH(QString, frame);
    ToolWindow w;
    auto *in = w.findChild<QTextEdit *>(QStringLiteral("textEdit_checksum"));
    auto *out = w.findChild<QLabel *>(QStringLiteral("label_result"));
    out->setText(QStringLiteral("--"));
    in->setPlainText(input);
    QTest::mouseClick(w.findChild<QPushButton *>(QStringLiteral("pushButton_run")), Qt::LeftButton);
    QCOMPARE(out->text(), result);
    QCOMPARE(w.findChild<QLabel *>(QStringLiteral("label_frameChecksum"))->text(), frame);
}

namespace {
// The colours the label draws over its area, as a set of distinct values.
int distinctColours(QWidget *page, const char *labelName)
{
    page->resize(600, 570);
    page->show();
    if (!QTest::qWaitForWindowExposed(page))
        return -1;
    auto *label = page->findChild<QLabel *>(QLatin1String(labelName));
    const QImage image = label->grab().toImage();
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size();
}
} // namespace

void TestToolWindow::aboutPageShowsBothPictures()
{
    About page;
    auto *background = page.findChild<QLabel *>(QStringLiteral("label_background"));
    auto *logo = page.findChild<QLabel *>(QStringLiteral("label_logo"));
    QVERIFY(background && logo);
    QCOMPARE(background->styleSheet(),
             AppPaths::borderImageStyle(QStringLiteral("background.png")));
    QCOMPARE(logo->styleSheet(),
             QStringLiteral("border-image:url(") + m_root->path()
                 + QStringLiteral("/image/logo.png)"));
    QVERIFY(!page.findChild<QLabel *>(QStringLiteral("label"))->text().isEmpty());
    QVERIFY(!page.findChild<QLabel *>(QStringLiteral("label_2"))->text().isEmpty());
    // The pictures are really drawn: more than a flat colour.
    QVERIFY(distinctColours(&page, "label_logo") > 4);
    QVERIFY(distinctColours(&page, "label_background") > 4);
}

void TestToolWindow::missingPictureLeavesLabelEmpty()
{
    QVERIFY(QFile::remove(m_root->file(QStringLiteral("image/logo.png"))));
    QVERIFY(QFile::remove(m_root->file(QStringLiteral("image/background.png"))));
    About page;
    // Nothing but the plain window colour.
    QCOMPARE(distinctColours(&page, "label_logo"), 1);
}

QTEST_MAIN(TestToolWindow)
#include "tst_toolwindow.moc"
