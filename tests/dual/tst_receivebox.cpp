// SPDX-License-Identifier: GPL-3.0-or-later
// A receive box of the dual tab: text drawn a little later in one edit, the
// notice lines, and the bounded history. Clearing with text not drawn yet is
// tested through the window (tst_doublewindow).
#include "testsupport.h"

#include "bridge/dualdisplay.h"
#include "dual/receivebox.h"

#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

namespace {

const QString Stamp = QStringLiteral("12:34:56.789");

QString frameLine(int i)
{
    return QLatin1Char('\n') + Stamp
        + QStringLiteral(":FF FF 00 05 08 %1 00 00 14 ")
              .arg(i % 256, 2, 16, QLatin1Char('0'))
              .toUpper();
}

} // namespace

class TestReceiveBox : public QObject
{
    Q_OBJECT
private slots:
    void textIsDrawnLaterInOneEdit();
    void noticeLines();

    void boxKeepsAtMostMaxLines();
    void endlessLineKeepsItsNewestBytes();
    void totalCharactersStayBounded();
    void limitsSurviveClear();
};

void TestReceiveBox::textIsDrawnLaterInOneEdit()
{
    ReceiveBox box;
    QVERIFY(box.isReadOnly());
    QSignalSpy changes(box.document(), &QTextDocument::contentsChange);
    box.addText(QStringLiteral("01 02 "));
    box.addText(frameLine(1));
    QVERIFY(box.toPlainText().isEmpty());
    QVERIFY(waitUntil([&] { return !box.toPlainText().isEmpty(); }, 1000));
    QCOMPARE(box.toPlainText(), QStringLiteral("01 02 ") + frameLine(1));
    QCOMPARE(changes.count(), 1);
    QCOMPARE(box.textCursor().position(), box.document()->characterCount() - 1);
    // Nothing queued: drawing only puts the cursor back at the end.
    box.moveCursor(QTextCursor::Start);
    box.drawNow();
    QCOMPARE(changes.count(), 1);
    QCOMPARE(box.textCursor().position(), box.document()->characterCount() - 1);
}

void TestReceiveBox::noticeLines()
{
    ReceiveBox box;
    box.addText(QStringLiteral("AA "));
    box.addNotice(QStringLiteral("lost"));
    // Drawn at once, after what was queued before.
    QCOMPARE(box.toPlainText(), QStringLiteral("AA \nlost"));
    box.addText(QStringLiteral("BB ")); // no header: still a line of its own
    box.addText(QStringLiteral("CC ")); // then the running line goes on
    box.addText(frameLine(2));
    box.drawNow();
    QCOMPARE(box.toPlainText(), QStringLiteral("AA \nlost\nBB CC ") + frameLine(2));
    box.addNotice(QStringLiteral("again"));
    box.addText(frameLine(3)); // a frame line is not doubled by the break
    box.drawNow();
    QVERIFY(box.toPlainText().endsWith(QStringLiteral("\nagain") + frameLine(3)));
}

void TestReceiveBox::boxKeepsAtMostMaxLines()
{
    ReceiveBox box;
    QString batch;
    for (int i = 0; i < ReceiveBox::MaxLines + 1500; ++i) {
        batch += frameLine(i);
        if (i % 100 == 99) {
            box.addText(batch);
            box.drawNow();
            batch.clear();
        }
    }
    box.addText(batch);
    box.drawNow();
    QTextDocument *doc = box.document();
    QVERIFY2(doc->blockCount() <= ReceiveBox::MaxLines,
             qPrintable(QString::number(doc->blockCount())));
    QVERIFY(doc->blockCount() > ReceiveBox::MaxLines / 2);
    // The newest line is whole.
    QCOMPARE(doc->lastBlock().text(), frameLine(ReceiveBox::MaxLines + 1499).mid(1));
    QVERIFY(!doc->isUndoAvailable());
}

void TestReceiveBox::endlessLineKeepsItsNewestBytes()
{
    ReceiveBox box;
    // A header at first, then 200 KB without any.
    QByteArray held;
    box.addText(DualDisplay::takeChunk(held, hex("FFFF0005"), false, Stamp));
    QByteArray last;
    for (int i = 0; i < 200; ++i) {
        QByteArray chunk(1024, '\0');
        for (int j = 0; j < chunk.size(); ++j)
            chunk[j] = char((i * 7 + j) % 251); // never 0xFF
        box.addText(DualDisplay::takeChunk(held, chunk, false, Stamp));
        box.drawNow();
        QVERIFY(box.document()->lastBlock().length() - 1 <= ReceiveBox::MaxLineChars);
        last = chunk;
    }
    box.addText(DualDisplay::flush(held));
    box.drawNow();
    const QString line = box.document()->lastBlock().text();
    QVERIFY(line.size() >= ReceiveBox::KeptLineChars);
    QVERIFY(line.size() <= ReceiveBox::MaxLineChars);
    // Cut between two bytes, and the newest bytes are all there.
    static const QRegularExpression pairs(QStringLiteral("^([0-9A-F]{2} )+$"));
    QVERIFY(pairs.match(line).hasMatch());
    QVERIFY(line.endsWith(QString::fromLatin1(last.toHex(' ').toUpper()) + QLatin1Char(' ')));
}

void TestReceiveBox::totalCharactersStayBounded()
{
    ReceiveBox box;
    // Long frame lines (2000 bytes each): far fewer than MaxLines, far more
    // than MaxChars.
    QByteArray frame = hex("FFFF07CD");
    frame.append(QByteArray(1996, '\x11'));
    QByteArray held;
    for (int i = 0; i < 1000; ++i) {
        box.addText(DualDisplay::takeChunk(held, frame, false, Stamp));
        box.drawNow();
        QVERIFY(box.document()->characterCount() <= ReceiveBox::MaxChars + 1);
    }
    QTextDocument *doc = box.document();
    QVERIFY(doc->characterCount() > ReceiveBox::MaxChars / 2);
    // Whole lines went: the first line left is a timestamped frame line.
    QVERIFY(doc->firstBlock().text().startsWith(Stamp + QStringLiteral(":FF FF 07 CD 11 ")));
    QVERIFY(doc->lastBlock().text().startsWith(Stamp + QStringLiteral(":FF FF 07 CD 11 ")));
}

void TestReceiveBox::limitsSurviveClear()
{
    ReceiveBox box;
    box.addText(QStringLiteral("01 02 "));
    box.drawNow();
    box.clearAll(); // F5
    QString batch;
    for (int i = 0; i < ReceiveBox::MaxLines * 2; ++i)
        batch += frameLine(i);
    box.addText(batch);
    box.drawNow();
    QVERIFY(box.document()->blockCount() <= ReceiveBox::MaxLines);
    QVERIFY(!box.document()->isUndoAvailable());
}

QTEST_MAIN(TestReceiveBox)
#include "tst_receivebox.moc"
