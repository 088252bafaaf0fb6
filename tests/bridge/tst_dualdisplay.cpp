// SPDX-License-Identifier: GPL-3.0-or-later
// The dual tab's display rule (hex, timestamped lines, held bytes).
#include "testsupport.h"

#include "bridge/dualdisplay.h"

#include <QRandomGenerator>
#include <QRegularExpression>
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
        << s + QStringLiteral("FF FF 00 05 08 07 00 00 14 ") + s
            + QStringLiteral("FF FF 00 05 01 00 00 00 06 ")
        << QByteArray();
    QTest::newRow("every FF FF pair opens a line")
        << QStringList{"FFFFFFFF01"} << false
        << s + QStringLiteral("FF ") + s + QStringLiteral("FF ") << hex("FFFF01");
    QTest::newRow("v3 header right before the held bytes")
        << QStringList{"0100000003"} << true << QStringLiteral("01 ") + s + QStringLiteral("00 ")
        << hex("000003");
    QTest::newRow("single bytes accumulate") << QStringList{"FF", "FF", "00", "05", "08"} << false
                                             << s + QStringLiteral("FF FF ") << hex("000508");
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

QTEST_GUILESS_MAIN(TestDualDisplay)
#include "tst_dualdisplay.moc"
