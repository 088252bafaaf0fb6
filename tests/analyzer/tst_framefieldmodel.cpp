// SPDX-License-Identifier: GPL-3.0-or-later
// The detail pane's model: one row per field of a decoded frame, the name
// and value columns, and where each field's bytes lie for the bytes pane.
#include "testsupport.h"

#include "analyzer/framefieldmodel.h"
#include "analyzer/framefields.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QString lookup(const QString &key)
{
    return QLatin1Char('[') + key + QLatin1Char(']');
}

} // namespace

class TestFrameFieldModel : public QObject
{
    Q_OBJECT
private slots:
    void rowsOfOneDecodedFrame();
    void emptyAndOutside();
};

void TestFrameFieldModel::rowsOfOneDecodedFrame()
{
    // A status report with two payload bytes.
    const QByteArray frame = makeFrame(0x05, 0x21, hex("04 50"));
    const QVector<FrameField> fields = frameFields(frame, SegmentKind::Frame4, lookup);
    QVERIFY(fields.size() > 5);

    FrameFieldModel model;
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.setFields(fields);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(model.rowCount(), fields.size());
    QCOMPARE(model.columnCount(), 2);
    QCOMPARE(model.headerData(FrameFieldModel::NameColumn, Qt::Horizontal).toString(),
             QStringLiteral("字段"));
    QCOMPARE(model.headerData(FrameFieldModel::ValueColumn, Qt::Horizontal).toString(),
             QStringLiteral("值"));
    bool someBytes = false;
    for (int row = 0; row < fields.size(); ++row) {
        const FrameField &f = fields.at(row);
        const QModelIndex name = model.index(row, FrameFieldModel::NameColumn);
        const QModelIndex value = model.index(row, FrameFieldModel::ValueColumn);
        QCOMPARE(name.data().toString(), f.name);
        QCOMPARE(value.data().toString(), f.value);
        QCOMPARE(value.data(Qt::ToolTipRole).toString(), f.value);
        for (const QModelIndex &index : {name, value}) {
            QCOMPARE(index.data(FrameFieldModel::OffsetRole).toInt(), f.offset);
            QCOMPARE(index.data(FrameFieldModel::SizeRole).toInt(), f.size);
        }
        QCOMPARE(model.field(row).name, f.name);
        someBytes |= f.offset >= 0 && f.size > 0;
    }
    QVERIFY(someBytes);
    // The command byte is the fifth of the frame, one byte wide.
    const int command = model.rowOfName(fields.at(3).name);
    QCOMPARE(command, 3);
    QCOMPARE(model.field(command).offset, fields.at(3).offset);
}

void TestFrameFieldModel::emptyAndOutside()
{
    FrameFieldModel model;
    model.setFields(frameFields(QByteArray("boot\n"), SegmentKind::Other, lookup));
    QVERIFY(model.rowCount() > 0);
    QVERIFY(!model.index(model.rowCount(), 0).data().isValid());
    QVERIFY(!model.index(0, 2).data().isValid());
    QCOMPARE(model.field(-1).offset, -1);
    QCOMPARE(model.field(model.rowCount()).size, 0);
    QCOMPARE(model.rowOfName(QStringLiteral("no such field")), -1);
    // A tree of one level: no row has children.
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
}

QTEST_MAIN(TestFrameFieldModel)
#include "tst_framefieldmodel.moc"
