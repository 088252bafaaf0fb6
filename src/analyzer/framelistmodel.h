// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analyzer/frameanalyzer.h"
#include "engine/zemdescriber.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QModelIndexList>
#include <QString>

#include <vector>

class QIODevice;

// The frame list over a FrameAnalyzer: one row per analyzer row that passes
// the filter. The model keeps only ids; every text is built in data() or
// rowText(), when a row is shown or copied.
class FrameListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        NumberColumn, // the row's id: the CSV's 编号 and the "#n" of the pairing column
        TimeColumn,
        RelativeColumn, // to the previous shown row
        DirectionColumn,
        CommandColumn,
        SequenceColumn,
        LengthColumn,
        ChecksumColumn,
        PairColumn, // the reply's latency on a request, the request on a reply
        ProblemColumn,
        ColumnCount
    };
    enum Role {
        IdRole = Qt::UserRole + 1, // qint64 row id in the analyzer
        WireRole,                  // QByteArray as on the line
        FrameRole,                 // QByteArray, v4 unescaped
        ProblemsRole,              // int, FrameProblem bits
        KindRole,                  // int, SegmentKind
        DirectionRole,             // int, LineDirection
        PairIdRole,                // qint64, -1 none
    };

    struct Filter
    {
        int direction = -1; // LineDirection, or -1 for both
        int command = -1;   // command code, or -1 for all
        bool problemsOnly = false;
        QString text; // hex bytes, description or ASCII; empty matches all

        bool isEmpty() const
        {
            return direction < 0 && command < 0 && !problemsOnly && text.isEmpty();
        }
    };

    explicit FrameListModel(QObject *parent = nullptr);

    // Where a command's description comes from (settings key -> text, as
    // ZemDescriber takes it); without one the command shows its code only.
    void setDescriptionLookup(const ZemDescriber::Lookup &lookup);
    // Times shown in UTC instead of local time (tests, exported files).
    void setUtc(bool utc);

    // Picks up the analyzer's new rows in one batch and forgets the rows it
    // dropped; the first call binds the model to that analyzer.
    void appendFrom(const FrameAnalyzer &analyzer);
    // The analyzer was cleared or replaced: starts over.
    void reset(const FrameAnalyzer *analyzer);
    // Tells the views that these rows' records changed (FrameAnalyzer::expire).
    void refreshIds(const QVector<qint64> &ids);

    void setFilter(const Filter &filter);
    Filter filter() const { return m_filter; }

    qint64 rowId(int row) const;
    int rowOfId(qint64 id) const; // -1 when not shown
    // A text line as the list shows it: the columns, separated by tabs.
    QString rowText(int row) const;
    // The rows' texts, one line each.
    QString rowsText(const QVector<int> &rows) const;
    // The rows' wire bytes as hex, one line each.
    QString rowsHex(const QVector<int> &rows) const;
    // Every shown row, with a header line; fields quoted where needed.
    QString toCsv() const;
    bool writeCsv(const QString &path, QString *error) const;
    // The same lines, without the byte order mark, to an open device (a
    // program's standard output); false when a write failed.
    bool writeCsv(QIODevice *device) const;

    // The texts of one cell, for data() and the line functions.
    QString cellText(int row, int column) const;
    QString commandText(qint64 id) const;
    QString problemText(quint16 problems) const;
    static QString directionText(LineDirection direction);
    // A CSV field, quoted when it holds a comma, a quote or a line break.
    static QString csvField(const QString &text);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The name of one problem kind (0 .. FrameProblem::KindCount - 1).
    static QString problemName(int kind);

private:
    bool filtered() const { return !m_filter.isEmpty(); }
    int shownCount() const;
    bool matches(qint64 id) const;
    bool textMatches(qint64 id, const FrameRecord &r) const;
    void rebuild();
    void dropBefore(qint64 firstId);
    QString description(const QByteArray &frame) const;
    QString timeText(qint64 timeUs) const;
    QString otherText(qint64 id) const;
    QString lengthText(qint64 id, const FrameRecord &r) const;
    QString checksumText(const FrameRecord &r) const;
    QString pairText(const FrameRecord &r) const;
    QString csvHeader() const;
    QString csvLine(int row) const; // with its newline

    const FrameAnalyzer *m_analyzer = nullptr;
    ZemDescriber::Lookup m_lookup;
    mutable QHash<QString, QString> m_descriptions; // settings key -> text
    // Whether the search text is in a description, by command and the byte
    // that picks its variant (see descriptionSlot in the .cpp).
    mutable QHash<int, bool> m_descriptionMatches;
    Filter m_filter;
    QByteArray m_searchBytes; // the search text read as hex, when it is hex
    QString m_searchLower;
    bool m_utc = false;
    mutable qint64 m_timeSecond = 0; // the second m_timePrefix shows
    mutable QString m_timePrefix;    // "HH:mm:ss." of it
    // Unfiltered, row r is id m_first + r; filtered, the ids of the shown rows
    // (from m_head on: dropping old rows only moves m_head).
    qint64 m_first = 0;
    qint64 m_end = 0;
    std::vector<qint64> m_ids;
    size_t m_head = 0;
};
