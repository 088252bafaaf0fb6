// The dual tab's display rule (hex, timestamped lines, held bytes) and the
// bounded history of its receive boxes.
#include "testsupport.h"

#include "dual/dualdisplay.h"
#include "dual/receivebox.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QtTest>

namespace {

const QString Stamp = QStringLiteral("12:34:56.789");

// The rule as a user would describe it, one byte at a time: append the
// chunk; while more than three bytes wait, open a timestamped line if a
// header starts the buffer, then print and drop the first byte.
struct ByteByByte
{
    QByteArray buffer;
    QString text;
    bool v3 = false;

    void chunk(const QByteArray &data)
    {
        buffer.append(data);
        while (buffer.size() > 3) {
            const bool ffff = quint8(buffer.at(0)) == 0xFF && quint8(buffer.at(1)) == 0xFF;
            const bool v3Header = buffer.startsWith(QByteArray("\x00\x00\x00\x03", 4));
            if (ffff || (v3 && v3Header))
                text += QLatin1Char('\n') + Stamp + QLatin1Char(':');
            text += QString::asprintf("%02X ", unsigned(quint8(buffer.at(0))));
            buffer.remove(0, 1);
        }
    }
    void flush()
    {
        for (char c : qAsConst(buffer))
            text += QString::asprintf("%02X ", unsigned(quint8(c)));
        buffer.clear();
    }
};

} // namespace

class TestDualDisplay : public QObject
{
    Q_OBJECT
private slots:
    void rule_data();
    void rule();
    void matchesByteByByteOnRandomChunking();

    void boxKeepsAtMostMaxLines();
    void endlessLineKeepsItsNewestBytes();
    void totalCharactersStayBounded();
    void limitsSurviveClear();
};

void TestDualDisplay::rule_data()
{
    // Chunks separated by '|'; "F" in the list stands for a timer flush.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("v3");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("heldAtEnd");

    const QString s = QLatin1Char('\n') + Stamp + QLatin1Char(':');
    QTest::newRow("three bytes wait for the flush")
        << QStringList{"010203"} << false << QString() << hex("010203");
    QTest::newRow("then the flush prints them")
        << QStringList{"010203", "F"} << false << QStringLiteral("01 02 03 ") << QByteArray();
    QTest::newRow("a frame starts a timestamped line")
        << QStringList{"FFFF000508070000 14", "F"} << false
        << s + QStringLiteral("FF FF 00 05 08 07 00 00 14 ") << QByteArray();
    QTest::newRow("v3 header unticked stays on the running line")
        << QStringList{"AA", "0000000300020 30b", "F"} << false
        << QStringLiteral("AA 00 00 00 03 00 02 03 0B ") << QByteArray();
    QTest::newRow("v3 header ticked breaks the line")
        << QStringList{"AA", "000000030002030b", "F"} << true
        << QStringLiteral("AA ") + s + QStringLiteral("00 00 00 03 00 02 03 0B ") << QByteArray();
    QTest::newRow("ticked v3 still breaks at FF FF")
        << QStringList{"01FFFF02"} << true << QStringLiteral("01 ") << hex("FFFF02");
    QTest::newRow("header split across a flush stays on the running line")
        << QStringList{"12FF", "F", "FF000508070000 14", "F"} << false
        << QStringLiteral("12 FF FF 00 05 08 07 00 00 14 ") << QByteArray();
    QTest::newRow("header split across chunks without a flush still breaks")
        << QStringList{"1234FF", "FF000508070000 14"} << false
        << QStringLiteral("12 34 ") + s + QStringLiteral("FF FF 00 05 08 07 ") << hex("000014");
    QTest::newRow("two frames in one chunk")
        << QStringList{"FFFF000508070000 14 FFFF0005010000 0006", "F"} << false
        << s + QStringLiteral("FF FF 00 05 08 07 00 00 14 ") + s + QStringLiteral("FF FF 00 05 01 00 00 00 06 ")
        << QByteArray();
    QTest::newRow("every FF FF pair opens a line")
        << QStringList{"FFFFFFFF01"} << false << s + QStringLiteral("FF ") + s + QStringLiteral("FF ")
        << hex("FFFF01");
    QTest::newRow("v3 header right before the held bytes")
        << QStringList{"0100000003"} << true << QStringLiteral("01 ") + s + QStringLiteral("00 ")
        << hex("000003");
    QTest::newRow("single bytes accumulate")
        << QStringList{"FF", "FF", "00", "05", "08"} << false << s + QStringLiteral("FF FF ")
        << hex("000508");
    QTest::newRow("lower case of every value")
        << QStringList{"00 0a ab f0 7f 80", "F"} << false << QStringLiteral("00 0A AB F0 7F 80 ")
        << QByteArray();
}

void TestDualDisplay::rule()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, v3);
    QFETCH(QString, expected);
    QFETCH(QByteArray, heldAtEnd);

    QByteArray held;
    QString text;
    for (const QString &step : steps) {
        if (step == QLatin1String("F"))
            text += DualDisplay::flush(held);
        else
            text += DualDisplay::takeChunk(held, QByteArray::fromHex(step.toLatin1()), v3, Stamp);
        QVERIFY(held.size() <= DualDisplay::HeldBytes);
    }
    QCOMPARE(text, expected);
    QCOMPARE(held, heldAtEnd);
}

void TestDualDisplay::matchesByteByByteOnRandomChunking()
{
    // Few distinct values, so that both kinds of header turn up often, also
    // overlapping and split across chunks and flushes.
    const char alphabet[] = {'\x00', '\x03', '\xFF', '\x55', '\x12'};
    QRandomGenerator rng(20240601);
    for (int round = 0; round < 200; ++round) {
        const bool v3 = round % 2;
        ByteByByte reference;
        reference.v3 = v3;
        QByteArray held;
        QString text;
        const int steps = int(rng.bounded(1, 60));
        for (int i = 0; i < steps; ++i) {
            if (rng.bounded(6) == 0) {
                reference.flush();
                text += DualDisplay::flush(held);
                continue;
            }
            QByteArray chunk(int(rng.bounded(1, 40)), '\0');
            for (char &c : chunk)
                c = alphabet[rng.bounded(int(sizeof alphabet))];
            reference.chunk(chunk);
            text += DualDisplay::takeChunk(held, chunk, v3, Stamp);
        }
        QCOMPARE(held, reference.buffer);
        QCOMPARE(text, reference.text);
    }
}

namespace {
QString frameLine(int i)
{
    return QLatin1Char('\n') + Stamp + QStringLiteral(":FF FF 00 05 08 %1 00 00 14 ")
        .arg(i % 256, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

void TestDualDisplay::boxKeepsAtMostMaxLines()
{
    QTextEdit box;
    ReceiveBox::prepare(&box);
    QString batch;
    for (int i = 0; i < ReceiveBox::MaxLines + 1500; ++i) {
        batch += frameLine(i);
        if (i % 100 == 99) {
            ReceiveBox::append(&box, batch);
            batch.clear();
        }
    }
    ReceiveBox::append(&box, batch);
    QTextDocument *doc = box.document();
    QVERIFY2(doc->blockCount() <= ReceiveBox::MaxLines, qPrintable(QString::number(doc->blockCount())));
    QVERIFY(doc->blockCount() > ReceiveBox::MaxLines / 2);
    // The newest line is whole.
    QCOMPARE(doc->lastBlock().text(), frameLine(ReceiveBox::MaxLines + 1499).mid(1));
    QVERIFY(!doc->isUndoAvailable());
}

void TestDualDisplay::endlessLineKeepsItsNewestBytes()
{
    QTextEdit box;
    ReceiveBox::prepare(&box);
    // A header at first, then 200 KB without any.
    QByteArray held;
    ReceiveBox::append(&box, DualDisplay::takeChunk(held, hex("FFFF0005"), false, Stamp));
    QByteArray last;
    for (int i = 0; i < 200; ++i) {
        QByteArray chunk(1024, '\0');
        for (int j = 0; j < chunk.size(); ++j)
            chunk[j] = char((i * 7 + j) % 251); // never 0xFF
        ReceiveBox::append(&box, DualDisplay::takeChunk(held, chunk, false, Stamp));
        QVERIFY(box.document()->lastBlock().length() - 1 <= ReceiveBox::MaxLineChars);
        last = chunk;
    }
    ReceiveBox::append(&box, DualDisplay::flush(held));
    const QString line = box.document()->lastBlock().text();
    QVERIFY(line.size() >= ReceiveBox::KeptLineChars);
    QVERIFY(line.size() <= ReceiveBox::MaxLineChars);
    // Cut between two bytes, and the newest bytes are all there.
    static const QRegularExpression pairs(QStringLiteral("^([0-9A-F]{2} )+$"));
    QVERIFY(pairs.match(line).hasMatch());
    QVERIFY(line.endsWith(QString::fromLatin1(last.toHex(' ').toUpper()) + QLatin1Char(' ')));
}

void TestDualDisplay::totalCharactersStayBounded()
{
    QTextEdit box;
    ReceiveBox::prepare(&box);
    // Long frame lines (2000 bytes each): far fewer than MaxLines, far more
    // than MaxChars.
    QByteArray frame = hex("FFFF07CD");
    frame.append(QByteArray(1996, '\x11'));
    QByteArray held;
    for (int i = 0; i < 1000; ++i) {
        ReceiveBox::append(&box, DualDisplay::takeChunk(held, frame, false, Stamp));
        QVERIFY(box.document()->characterCount() <= ReceiveBox::MaxChars + 1);
    }
    QTextDocument *doc = box.document();
    QVERIFY(doc->characterCount() > ReceiveBox::MaxChars / 2);
    // Whole lines went: the first line left is a timestamped frame line.
    QVERIFY(doc->firstBlock().text().startsWith(Stamp + QStringLiteral(":FF FF 07 CD 11 ")));
    QVERIFY(doc->lastBlock().text().startsWith(Stamp + QStringLiteral(":FF FF 07 CD 11 ")));
}

void TestDualDisplay::limitsSurviveClear()
{
    QTextEdit box;
    ReceiveBox::prepare(&box);
    ReceiveBox::append(&box, QStringLiteral("01 02 "));
    box.clear(); // F5
    QString batch;
    for (int i = 0; i < ReceiveBox::MaxLines * 2; ++i)
        batch += frameLine(i);
    ReceiveBox::append(&box, batch);
    QVERIFY(box.document()->blockCount() <= ReceiveBox::MaxLines);
    QVERIFY(!box.document()->isUndoAvailable());
}

QTEST_MAIN(TestDualDisplay)
#include "tst_dualdisplay.moc"
