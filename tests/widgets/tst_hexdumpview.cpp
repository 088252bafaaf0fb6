// SPDX-License-Identifier: GPL-3.0-or-later
// The bytes pane of the analyzer: the dump's rows and columns, and a field
// marked in the hex and the text column of every row it touches.
#include "testsupport.h"

#include "widgets/hexdumpview.h"

#include <QTextBlock>
#include <QtTest>

namespace {

// '0' .. 'W': every byte printable, so the text column shows each one.
QByteArray fortyBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 40; ++i)
        bytes.append(char(0x30 + i));
    return bytes;
}

} // namespace

class TestHexDumpView : public QObject
{
    Q_OBJECT
private slots:
    void dumpRows_data();
    void dumpRows();
    void markField_data();
    void markField();
    void marksStayOnTheMainDump();
};

void TestHexDumpView::dumpRows_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("nothing") << QByteArray() << QStringList();
    QTest::newRow("one byte, not printable")
        << hex("FF")
        << QStringList{QStringLiteral("0000  FF") + QString(47, QLatin1Char(' ')) + "."};
    QTest::newRow("a whole row and one more")
        << QByteArray("0123456789ABCDEF\x7F", 17)
        << QStringList{
               QStringLiteral(
                   "0000  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  0123456789ABCDEF"),
               QStringLiteral("0010  7F") + QString(47, QLatin1Char(' ')) + "."};
}

void TestHexDumpView::dumpRows()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    HexDumpView view;
    view.setBytes(bytes);
    QCOMPARE(view.toPlainText(), rows.join(QLatin1Char('\n')));
    QCOMPARE(HexDumpView::dumpText(bytes), rows.join(QLatin1Char('\n')));
}

void TestHexDumpView::markField_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    // Per row touched: the marked hex, then the marked text.
    QTest::addColumn<QStringList>("marks");
    QTest::newRow("first byte") << 0 << 1 << QStringList{"30", "0"};
    QTest::newRow("two bytes") << 3 << 2 << QStringList{"33 34", "34"};
    QTest::newRow("last of a row") << 15 << 1 << QStringList{"3F", "?"};
    QTest::newRow("across two rows") << 14 << 4 << QStringList{"3E 3F", ">?", "40 41", "@A"};
    QTest::newRow("the short last row whole")
        << 32 << 8 << QStringList{"50 51 52 53 54 55 56 57", "PQRSTUVW"};
    QTest::newRow("three rows") << 12 << 24
                                << QStringList{"3C 3D 3E 3F",
                                               "<=>?",
                                               "40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F",
                                               "@ABCDEFGHIJKLMNO",
                                               "50 51 52 53",
                                               "PQRS"};
    QTest::newRow("last byte") << 39 << 1 << QStringList{"57", "W"};
    QTest::newRow("past the end") << 38 << 3 << QStringList();
    QTest::newRow("starts past the end") << 40 << 1 << QStringList();
    QTest::newRow("no bytes of its own") << -1 << 0 << QStringList();
    QTest::newRow("no size") << 5 << 0 << QStringList();
}

void TestHexDumpView::markField()
{
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(QStringList, marks);
    HexDumpView view;
    view.setBytes(fortyBytes());
    view.markField(2, 1); // an earlier mark, replaced or cleared
    view.markField(offset, size);
    QStringList marked;
    for (const QTextEdit::ExtraSelection &mark : view.extraSelections())
        marked.append(mark.cursor.selectedText());
    QCOMPARE(marked, marks);
    QCOMPARE(view.markedOffset(), marks.isEmpty() ? -1 : offset);
    QCOMPARE(view.markedSize(), marks.isEmpty() ? 0 : size);
}

void TestHexDumpView::marksStayOnTheMainDump()
{
    HexDumpView view;
    view.setBytes(hex("FF FF 00 05 55"));
    view.addSection(QStringLiteral("线上字节："), hex("FF FF 00 05 FF 55"));
    QVERIFY(view.toPlainText().endsWith(QStringLiteral("\n\n线上字节：\n0000  FF FF 00 05 FF 55")
                                        + QString(32, QLatin1Char(' '))
                                        + QStringLiteral(".....U")));
    view.markField(4, 1);
    QStringList marked;
    for (const QTextEdit::ExtraSelection &mark : view.extraSelections()) {
        marked.append(mark.cursor.selectedText());
        QCOMPARE(mark.cursor.block().blockNumber(), 0);
    }
    QCOMPARE(marked, QStringList({"55", "U"}));
    // New bytes: the mark goes with the old ones.
    view.setBytes(hex("01"));
    QVERIFY(view.extraSelections().isEmpty());
    QCOMPARE(view.markedOffset(), -1);
}

QTEST_MAIN(TestHexDumpView)
#include "tst_hexdumpview.moc"
