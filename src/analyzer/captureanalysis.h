// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analyzer/frameanalyzer.h"

#include <QString>
#include <QStringList>

#include <memory>

class DataPointDefinition;
class FrameListModel;

// A capture file read into a FrameAnalyzer, the one way both the analyzer
// window and lumo-analyze open a file: every packet decoded, paired and
// checked in file order, then the requests still waiting at the file's end
// marked unanswered when the file goes on beyond their limit. The same file
// and reply limit so give the same rows, problems and counters in the window
// and in the shell.
//
// Besides the reading it holds what the shell says about the rows: the
// English names of the problem kinds (the words --fail-on takes), one text
// line per row and the count of each kind.
class CaptureAnalysis
{
public:
    // The kinds a capture fails on unless told otherwise: the line itself
    // is broken (a checksum, a length, an unescaped FF) or an answer is missing.
    static constexpr quint16 DefaultFailOn = FrameProblem::BadChecksum | FrameProblem::Truncated
        | FrameProblem::UnescapedFf | FrameProblem::NoReply;

    explicit CaptureAnalysis(qint64 replyLimitUs);
    ~CaptureAnalysis();
    CaptureAnalysis(const CaptureAnalysis &) = delete;
    CaptureAnalysis &operator=(const CaptureAnalysis &) = delete;

    // Reads `path`. False when nothing could be read (no such file, no
    // capture, another link type), with the reason in error(); a file whose
    // tail is unreadable gives its rows and true, and says so through
    // readToEnd(), cutShort(), skipped() and error().
    bool read(const QString &path);
    QString error() const { return m_error; }
    bool readToEnd() const { return m_readToEnd; } // false: the reader stopped at an error
    bool cutShort() const { return m_cutShort; }
    qint64 skipped() const { return m_skipped; } // packets of another format
    qint64 untimed() const { return m_untimed; } // pcapng packets without a time stamp

    const FrameAnalyzer &analyzer() const { return *m_analyzer; }
    // Hands the analyzer to a view that keeps it; this object is then empty.
    std::unique_ptr<FrameAnalyzer> takeAnalyzer();

    // Whether some row carries one of these FrameProblem bits (from the
    // analyzer's counters, the figures the window shows).
    bool anyRowWith(quint16 problems) const;

    // "checksum", "length", "unescaped-ff", "no-reply", "unexpected-reply",
    // "retransmission", "noise" for kinds 0 .. FrameProblem::KindCount - 1.
    static QString kindName(int kind);
    // The bits of a comma-separated list of kind names ("" and "none": no
    // kind). False, with the first unknown name in *unknown, for a bad list.
    static bool parseKinds(const QString &list, quint16 *bits, QString *unknown);
    static QString kindNames(quint16 bits); // comma-separated

    // One row as the shell shows it, tab-separated: number, time, direction,
    // command with its name, sequence number, the pairing (latency), the
    // problems, and with a definition the data-point values by name.
    QString rowLine(const FrameListModel &model, int row,
                    const DataPointDefinition *definition) const;
    // "KIND<TAB>COUNT" for every kind some row carries.
    QStringList problemSummary() const;

private:
    std::unique_ptr<FrameAnalyzer> m_analyzer;
    QString m_error;
    bool m_readToEnd = false;
    bool m_cutShort = false;
    qint64 m_skipped = 0;
    qint64 m_untimed = 0;
};
