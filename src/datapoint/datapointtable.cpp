#include "datapoint/datapointtable.h"

#include "datapoint/zemjson.h"
#include "protocol/frameformat.h"
#include "protocol/zemtool.h"

#include <QComboBox>
#include <QDebug>
#include <QHash>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QTableWidget>

#include <limits>

namespace DataPointTable {

namespace {

// QLineEdit's own ceiling on maxLength is 32767, an odd number: a binary
// editor stops one digit short of it so that its text always holds whole
// bytes (an odd digit count would shift every byte by a nibble). A value
// longer than 16383 bytes keeps the rest of its field zero in the report.
constexpr int MaxEditorLength = 32766;

bool isGreyClass(const QString &type)
{
    return type == QLatin1String("status_readonly") || type == QLatin1String("alert")
           || type == QLatin1String("fault");
}

QWidget *makeEditor(const json_struct &r, QWidget *parent)
{
    const QString &type = r.data_type;
    if (type == QLatin1String("bool")) {
        auto *spin = new QSpinBox(parent);
        spin->setMinimum(0);
        spin->setMaximum(1);
        return spin;
    }
    if (type == QLatin1String("enum")) {
        auto *combo = new QComboBox(parent);
        combo->addItems(r.enum_list);
        return combo;
    }
    if (type == QLatin1String("uint8") || type == QLatin1String("uint16")
        || type == QLatin1String("uint32")) {
        auto *spin = new QSpinBox(parent);
        // Maximum first: with min > max the range collapses onto min.
        spin->setMaximum(r.max);
        spin->setMinimum(r.min);
        return spin;
    }
    if (type == QLatin1String("binary")) {
        auto *edit = new QLineEdit(parent);
        edit->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("[a-fA-F0-9]+$")), edit));
        // Two hex digits a byte.
        edit->setMaxLength(int(qBound<qint64>(0, 2 * qint64(r.len), MaxEditorLength)));
        return edit;
    }
    return nullptr;
}

int decimalClamped(const QString &text)
{
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok)
        return 0;
    return int(qBound<qlonglong>(std::numeric_limits<int>::min(), v,
                                 std::numeric_limits<int>::max()));
}

} // namespace

void rebuild(QTableWidget *table, const QList<json_struct> &records, QWidget *editorParent)
{
    table->clear();
    table->setRowCount(0); // drops the old editors with their rows
    table->setRowCount(records.size());
    table->setColumnCount(2);
    // clear() drops the header items as well.
    table->setHorizontalHeaderLabels({QStringLiteral("名称"), QStringLiteral("值")});
    table->setColumnWidth(0, NameColumnWidth);

    for (int row = 0; row < records.size(); ++row) {
        const json_struct &r = records.at(row);
        auto *name = new QTableWidgetItem(r.display_name);
        // The name is the key the report looks the value up by: not editable.
        name->setFlags(name->flags() & ~Qt::ItemIsEditable);
        if (isGreyClass(r.type))
            name->setBackground(readonlyColor());
        table->setItem(row, 0, name);

        table->setItem(row, 1, new QTableWidgetItem());
        if (QWidget *editor = makeEditor(r, editorParent))
            table->setCellWidget(row, 1, editor);
    }
}

QByteArray binaryEditorBytes(const QString &text, int maxLength)
{
    // Padded on the right to whole bytes: QByteArray::fromHex reads an odd
    // digit count as if a 0 stood in front, which would shift every byte.
    int digits = qMax(text.size(), maxLength);
    digits += digits % 2;
    QString padded = text;
    padded.append(QString(digits - padded.size(), QLatin1Char('0')));
    return QByteArray::fromHex(padded.toLatin1());
}

void padToLength(QByteArray &frame)
{
    if (frame.size() < Frame::LengthFieldOverhead)
        return;
    const int length = ZemTool::word16(frame, Frame::LengthOffset);
    const int have = frame.size() - Frame::LengthFieldOverhead;
    if (have < length)
        frame.append(QByteArray(length - have, char(0xFF)));
}

QByteArray buildStatusReport(QTableWidget *table, const ZemJson *json)
{
    QByteArray frame = json->makeReportFrame();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *nameItem = table->item(row, 0);
        if (!nameItem)
            continue;
        const QString name = nameItem->text();
        QWidget *editor = table->cellWidget(row, 1);
        if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
            json->setValue(frame, name, spin->value());
        } else if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            // An empty combo box (an enum without labels) has index -1.
            json->setValue(frame, name, qMax(0, combo->currentIndex()));
        } else if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
            json->setBytes(frame, name, binaryEditorBytes(edit->text(), edit->maxLength()));
        }
    }
    padToLength(frame);
    qDebug().noquote() << ZemTool::hexText(frame);
    ZemTool::setFrameChecksum(frame);
    return frame;
}

void applyControlFrame(QTableWidget *table, const ZemJson *json, const QByteArray &frame)
{
    const int rows = table->rowCount();
    const int writable = qMin(json->writableCount(), rows);
    for (int row = 0; row < writable; ++row)
        if (QTableWidgetItem *item = table->item(row, 0))
            item->setBackground(clearedColor());

    const QMap<QString, QString> values = json->decodeControl(frame);
    if (values.isEmpty())
        return;

    QHash<QString, QList<int>> rowsByName;
    for (int row = 0; row < rows; ++row)
        if (const QTableWidgetItem *item = table->item(row, 0))
            if (values.contains(item->text()))
                rowsByName[item->text()].append(row);

    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        const QList<int> matching = rowsByName.value(it.key());
        for (int row : matching) {
            table->item(row, 0)->setBackground(changedColor());
            QWidget *editor = table->cellWidget(row, 1);
            if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
                spin->setValue(decimalClamped(it.value()));
            } else if (auto *combo = qobject_cast<QComboBox *>(editor)) {
                const int index = combo->findText(it.value());
                if (index >= 0)
                    combo->setCurrentIndex(index);
            } else if (auto *edit = qobject_cast<QLineEdit *>(editor)) {
                edit->setText(it.value());
            }
        }
    }
}

} // namespace DataPointTable
