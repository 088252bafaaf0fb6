// SPDX-License-Identifier: GPL-3.0-or-later
// The dual tab's bridge without its window: two local lines on
// pseudo-terminals, bytes forwarded both ways while on, held back while off,
// and a lost side switching the bridge off.
#include "bridge/linebridge.h"
#include "serial/serialline.h"
#include "serial/zemserialport.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

class TestLineBridge : public QObject
{
    Q_OBJECT
private slots:
    void forwardsWhileOnAndLosesASide();
};

void TestLineBridge::forwardsWhileOnAndLosesASide()
{
    PtyPair mcu;
    PtyPair module;
    QVERIFY(mcu.isValid() && module.isValid());
    SerialLine side1;
    SerialLine side2;
    side1.port()->setAcceptUnlisted(true);
    side2.port()->setAcceptUnlisted(true);
    QVERIFY(side1.openLine(mcu.slavePath(), LineSettings::Settings()));
    QVERIFY(side2.openLine(module.slavePath(), LineSettings::Settings()));

    LineBridge bridge(&side1, &side2);
    QSignalSpy received(&bridge, &LineBridge::received);
    QSignalSpy lost(&bridge, &LineBridge::lineLost);

    // Every byte value, FF FF headers included, crosses unchanged both ways.
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all.append(char(i));
    QVERIFY(mcu.write(all));
    QCOMPARE(module.read(all.size()), all);
    QVERIFY(module.write(all + all));
    QCOMPARE(mcu.read(2 * all.size()), all + all);
    QVERIFY(received.count() >= 2);

    // Off: still seen, no longer forwarded.
    bridge.setOn(false);
    QVERIFY(mcu.write(QByteArray::fromHex("ffff0005080700000c")));
    QTRY_COMPARE(received.last().at(0).toInt(), 1);
    QCOMPARE(module.readFor(200), QByteArray());

    // A side that vanishes switches a bridge that is on off, and says so.
    bridge.setOn(true);
    mcu.closeMaster();
    QTRY_COMPARE(lost.count(), 1);
    QCOMPARE(lost.at(0).at(0).toInt(), 1);
    QCOMPARE(lost.at(0).at(1).toString(), mcu.slavePath());
    QCOMPARE(lost.at(0).at(3).toBool(), true);
    QVERIFY(!bridge.isOn());
    QVERIFY(!bridge.sendByHand(1, QByteArray("x")));
    QVERIFY(bridge.sendByHand(2, QByteArray("x")));
    QCOMPARE(module.read(1), QByteArray("x"));
}

QTEST_GUILESS_MAIN(TestLineBridge)
#include "tst_linebridge.moc"
