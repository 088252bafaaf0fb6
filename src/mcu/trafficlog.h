// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemView>
#include <QByteArray>
#include <QString>
#include <QVector>

class QTimer;
class TrafficLogModel;

// The traffic log of the simulated-MCU tab: one line per header ("WIFI:",
// "MCU:" or "SEND:" followed at once by the time "hh:mm:ss.zzz"), one line
// per transfer's bytes as hex text, and notice lines for events that are no
// transfer (a port lost or back).
//
// A module may stream a thousand frames a second for hours, so everything
// here costs the same whether the log holds a hundred lines or two hundred
// thousand:
// - entries are collected and inserted in one batch every few tens of
//   milliseconds, then the view scrolls to the bottom;
// - every line has the same height, so the view places a line by arithmetic
//   and paints only the lines on screen; an insertion lays out nothing
//   (a list view would walk all its rows again on every insertion);
// - the log keeps the most recent MaxTransfers transfers and drops older
//   lines in blocks of TrimBlock lines.
class TrafficLog : public QAbstractItemView
{
    Q_OBJECT
public:
    // Each byte line keeps, under this role, the frame it shows as the
    // receiver reads it (unescaped): decoding uses those bytes, not the text.
    // Header and notice lines carry nothing under it.
    static constexpr int FrameRole = Qt::UserRole + 1;
    static constexpr int MaxTransfers = 100000;
    static constexpr int MaxLines = 2 * MaxTransfers; // header and bytes each
    static constexpr int TrimBlock = 20000;
    static constexpr int FlushIntervalMs = 100;

    explicit TrafficLog(QWidget *parent = nullptr);

    // Logs a transfer: the header with the time taken now, then `wire` as hex
    // text, keeping `frame` with it (a null frame is kept as an empty one:
    // every byte line decodes). A `headerNote` follows the time in the
    // header, which is then shown in the notice colour (a dropped frame).
    void addTransfer(const QString &tag, const QByteArray &wire, const QByteArray &frame,
                     const QString &headerNote = QString());
    // A line "注意:" + time + " " + text, in the notice colour; never decoded.
    void addNotice(const QString &text);
    // Puts what was collected since the last batch into the view now.
    void flush();
    // Drops every line, including those not yet shown.
    void clearLog();

    // Lines in the view (not counting those waiting for the next batch).
    int count() const;
    QString lineText(int row) const;

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Pending
    {
        QString text;
        QByteArray frame; // null: header or notice
        bool notice = false;
    };
    static constexpr int TextMargin = 4;
    int lineHeight() const;
    // "hh:mm:ss.zzz" in local time. The local time is worked out once a
    // second: asking the C library for it on every line re-reads the time
    // zone file each time, which would cost more than the rest of logging.
    QString timeText();

    TrafficLogModel *m_model;
    QTimer *m_flushTimer;
    QVector<Pending> m_pending;
    mutable int m_lineHeight = 0;
    // Widest line seen (pixels, with margins) and its length in characters.
    int m_contentWidth = 0;
    int m_measuredChars = 0;
    qint64 m_cachedSecond = -1;
    QString m_secondText;
};
