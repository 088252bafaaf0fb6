// SPDX-License-Identifier: GPL-3.0-or-later
// The forms at the window's fixed sizes: every caption, combo item and
// placeholder shows whole, decoded frame fields show their whole text, the
// data-point table is headed, with the default and with the CJK font.
#include "testsupport.h"

#include "app/mainwindow.h"
#include "protocol/zemtool.h"
#include "serial/zemserialport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

const QString SampleKey = QStringLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");
const QString CjkFamily = QStringLiteral("WenQuanYi Micro Hei");

// Whether `widget` lies inside each of its ancestors up to `window`: a layout
// whose minimum does not fit its space pushes widgets past the edge.
bool insideWindow(const QWidget *widget, const QWidget *window)
{
    for (const QWidget *p = widget->parentWidget(); p; p = p->parentWidget()) {
        const QRect r(widget->mapTo(p, QPoint(0, 0)), widget->size());
        if (!p->rect().contains(r))
            return false;
        if (p == window)
            break;
    }
    return true;
}

// A plain label draws its text into its contents rect with its alignment,
// wrapped at word (and CJK character) boundaries when word wrap is on.
bool labelShowsWhole(const QLabel *label)
{
    const QRect area = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                      -label->margin(), -label->margin());
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect needed = label->fontMetrics().boundingRect(area, flags, label->text());
    return needed.width() <= area.width() && needed.height() <= area.height();
}

// The text area of a line edit as QLineEdit paints into it (2 pixels inside
// the style's contents rect on either side).
int lineEditTextWidth(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame()
        ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
        : 0;
    const QMargins text = edit->textMargins();
    return edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit).width()
        - text.left() - text.right() - 4;
}

int comboTextWidth(const QComboBox *combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    return combo->style()
        ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
        .width();
}

// Every visible text of the form that does not show whole, as
// "objectName: text" (empty when all fit).
QStringList cutTexts(QWidget *window)
{
    QStringList cut;
    auto check = [&](QWidget *w, bool fits, const QString &text) {
        if (!fits || !insideWindow(w, window))
            cut << w->objectName() + QStringLiteral(": ") + text;
    };
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->isVisibleTo(window))
            continue;
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (!label->text().isEmpty())
                check(label, labelShowsWhole(label), label->text());
        } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
            const QSize hint = button->sizeHint();
            check(button, hint.width() <= button->width() && hint.height() <= button->height(),
                  button->text());
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            if (!edit->placeholderText().isEmpty())
                check(edit,
                      edit->fontMetrics().horizontalAdvance(edit->placeholderText())
                          <= lineEditTextWidth(edit),
                      edit->placeholderText());
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            // Port names come from the host; the fixed items must all show.
            if (combo->objectName().startsWith(QLatin1String("com_")))
                continue;
            for (int i = 0; i < combo->count(); ++i)
                check(combo,
                      combo->fontMetrics().horizontalAdvance(combo->itemText(i))
                          <= comboTextWidth(combo),
                      combo->itemText(i));
        }
    }
    return cut;
}

QWidget *topLevel(const char *name)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name))
            return w;
    return nullptr;
}

} // namespace

class TestForms : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void textsFit_data();
    void textsFit();
    void decodedFieldsShowWholeTexts();
    void dataPointTableIsHeaded_data();
    void dataPointTableIsHeaded();

private:
    // Shows the main window on `tab`, waiting for it to be drawn.
    void showTab(int tab);
    template <typename T> T *find(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void click(const char *button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }
    void clickLogLine(const QString &text);
    void openMcuPort();

    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<MainWindow> m_window;
    QFont m_appFont;
};

void TestForms::init()
{
    m_appFont = QApplication::font();
    m_root = std::make_unique<TestRoot>();
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->isValid());
    setExtraPorts({m_pty->slavePath()});
    // A stored key: no first-use hint box on the simulated-MCU tab.
    ZemTool tool;
    tool.writeSetting(QStringLiteral("product_key/key"), SampleKey);
}

void TestForms::cleanup()
{
    m_window.reset();
    m_pty.reset();
    m_root.reset();
    qunsetenv("LUMO_EXTRA_PORTS");
    QApplication::setFont(m_appFont);
}

void TestForms::showTab(int tab)
{
    if (!m_window) {
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    find<QTabWidget>("tabWidget")->setCurrentIndex(tab);
    QTest::qWait(50); // layouts settle
}

void TestForms::textsFit_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QSize>("windowSize");

    const QSize narrow(600, 600);
    const QSize wide(950, 600);
    for (const QString &family : {QString(), CjkFamily}) {
        const QByteArray font = family.isEmpty() ? "default font" : "CJK font";
        QTest::newRow(font + ", 双串口") << family << 0 << QString() << narrow;
        QTest::newRow(font + ", 模拟V4MCU") << family << 1 << QString() << wide;
        QTest::newRow(font + ", 小工具") << family << 2 << QString() << narrow;
        QTest::newRow(font + ", 关于") << family << 3 << QString() << narrow;
        QTest::newRow(font + ", 指令界面") << family << 1 << QStringLiteral("McuCmdWindow") << wide;
        QTest::newRow(font + ", 参数界面")
            << family << 1 << QStringLiteral("McuSettingWindow") << wide;
    }
}

void TestForms::textsFit()
{
    QFETCH(QString, family);
    QFETCH(int, tab);
    QFETCH(QString, dialog);
    QFETCH(QSize, windowSize);

    if (!family.isEmpty()) {
        if (!QFontDatabase().families().contains(family))
            QSKIP("the CJK font is not installed");
        QFont font(family);
        font.setPointSizeF(m_appFont.pointSizeF());
        QApplication::setFont(font);
    }
    showTab(tab);
    QCOMPARE(m_window->size(), windowSize);

    // The tab's own widget fills its page, and its layout fits in it.
    QWidget *page = find<QTabWidget>("tabWidget")->currentWidget();
    QWidget *form = nullptr;
    for (QObject *child : page->children())
        if (auto *w = qobject_cast<QWidget *>(child))
            form = w;
    QVERIFY(form);
    QCOMPARE(form->geometry(), page->rect());
    const QSize needed = form->minimumSizeHint();
    QVERIFY2(needed.width() <= page->width() && needed.height() <= page->height(),
             qPrintable(QStringLiteral("%1 needs %2×%3, the page has %4×%5")
                            .arg(form->objectName())
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(page->width())
                            .arg(page->height())));

    QWidget *window = m_window.get();
    if (dialog == QLatin1String("McuCmdWindow")) {
        click("pushButton_showcmd");
        window = topLevel("McuCmdWindow");
    } else if (dialog == QLatin1String("McuSettingWindow")) {
        click("pushButton_setting");
        window = topLevel("McuSettingWindow");
        QVERIFY(window);
        // Both versions wrong: the longest hint the dialog gives.
        window->findChild<QLineEdit *>(QStringLiteral("lineEdit_softver"))->setText("abc");
        window->findChild<QLineEdit *>(QStringLiteral("lineEdit_hardver"))->clear();
        const QString hint = window->findChild<QLabel *>("label_versionhint")->text();
        QCOMPARE(hint.count(QStringLiteral("个字符")), 2);
    }
    QVERIFY(window && window->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(50);
    const QStringList cut = cutTexts(window);
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(" | "))));
    if (window != m_window.get())
        window->close();
}

void TestForms::openMcuPort()
{
    auto *com = find<QComboBox>("com_3");
    find<ZemSerialPort>("mcuPort")->getComList();
    QVERIFY(waitUntil([&] { return com->findText(m_pty->slavePath()) >= 0; }));
    com->setCurrentIndex(com->findText(m_pty->slavePath()));
    click("pushButton_open3");
    QVERIFY(find<ZemSerialPort>("mcuPort")->isOpen());
}

void TestForms::clickLogLine(const QString &text)
{
    auto *log = find<QAbstractItemView>("listWidget");
    QAbstractItemModel *model = log->model();
    QModelIndex line;
    QVERIFY(waitUntil([&] {
        line
            = model->match(model->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly).value(0);
        return line.isValid();
    }));
    log->scrollTo(line);
    const QPoint point(4, log->visualRect(line).center().y());
    QTest::mouseClick(log->viewport(), Qt::LeftButton, Qt::NoModifier, point);
}

void TestForms::decodedFieldsShowWholeTexts()
{
    showTab(1);
    openMcuPort();

    // The product-information reply: the longest description of all, and
    // the product key, one word that cannot wrap.
    const QByteArray versions = QByteArray(16, '0') + QByteArray(16, '1');
    const QByteArray info = makeFrame(0x02, 0x01, versions + SampleKey.toLatin1() + hex("0000"));
    const QList<QByteArray> frames{
        makeFrame(0x0D, 0x02, hex("0B21")), // connected to router and cloud
        info,
        makeFrame(0x09, 0x03, hex("01")),             // SoftAP configuration mode
        makeFrame(0x18, 0x04, hex("07EA0C08173B3B")), // network time
        makeFrame(0x0D, 0x05, hex("07A3")),           // reserved states
        hex("FFFF0005 07 06 0000 99"),                // wrong checksum, in bold
    };
    const char *fields[]
        = {"label_analyze",    "label_length",  "label_cmd",        "label_sn",
           "label_checksum_2", "label_setmode", "label_connect",    "label_wifistate",
           "label_productkey", "label_signal",  "label_hasconnect", "label_time"};
    int wrapped = 0;
    for (const QByteArray &frame : frames) {
        QVERIFY(m_pty->write(frame));
        clickLogLine(ZemTool::hexText(frame));
        const QString sequence = QString::asprintf("%02x", unsigned(ZemTool::byteValue(frame, 5)));
        QTRY_COMPARE(find<QLabel>("label_sn")->text(), sequence);
        QTest::qWait(20); // the labels' new heights are laid out
        for (const char *name : fields) {
            auto *label = find<QLabel>(name);
            QVERIFY(label);
            if (label->text().isEmpty())
                continue;
            const bool whole = labelShowsWhole(label) && insideWindow(label, m_window.get());
            QVERIFY2(whole || label->toolTip() == label->text(),
                     qPrintable(QLatin1String(name) + QStringLiteral(" cut: ") + label->text()));
            if (label->fontMetrics().horizontalAdvance(label->text()) > label->width())
                ++wrapped;
        }
    }
    // The case that was cut before, word for word.
    clickLogLine(ZemTool::hexText(frames.at(0)));
    QTRY_COMPARE(find<QLabel>("label_connect")->text(),
                 QStringLiteral("已连接路由器和云端，设备在线"));
    // At least one text was longer than its line, so wrapping was exercised.
    QVERIFY(wrapped > 0);
}

void TestForms::dataPointTableIsHeaded_data()
{
    QTest::addColumn<bool>("cached");
    QTest::newRow("no definition yet") << false;
    QTest::newRow("definition loaded") << true;
}

void TestForms::dataPointTableIsHeaded()
{
    QFETCH(bool, cached);
    const QString cache = m_root->file(QStringLiteral("json/%1.json").arg(SampleKey));
    QFile::remove(cache);
    if (cached)
        QVERIFY(QFile::copy(QStringLiteral(LUMO_TEST_DATA "/smart-lamp.json"), cache));
    showTab(1);
    auto *table = find<QTableWidget>("datapoint_table");
    QCOMPARE(table->rowCount() > 0, cached);
    QCOMPARE(table->columnCount(), 2);
    QVERIFY(table->horizontalHeader()->isVisible());
    QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("名称"));
    QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("值"));
    // The value column takes the rest of the width; no editor is squeezed.
    QVERIFY(table->columnWidth(0) + table->columnWidth(1) >= table->viewport()->width());
    for (int row = 0; row < table->rowCount(); ++row)
        if (QWidget *editor = table->cellWidget(row, 1))
            QVERIFY2(editor->width() >= editor->minimumSizeHint().width(),
                     qPrintable(table->item(row, 0)->text()));
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
