// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "analyzer/frameanalyzer.h"

#include <QString>
#include <QVector>

#include <functional>

// What an analyzer's rows add up to, the analyzer window's "统计": per
// command and direction how many frames and how fast their replies came,
// how many rows carry each problem, and bytes and frames per second over
// time. Computed in one pass over the rows (plus a sort of each request's
// latencies), from nothing but the rows, so the same rows give the same
// figures.
struct FrameStatistics
{
    // Rows that are not v4 frames get a line of their own kind.
    static constexpr int Frame3Command = -1; // "V3帧"
    static constexpr int OtherCommand = -2;  // bytes outside frames

    struct CommandLine
    {
        LineDirection direction = LineDirection::McuToModule;
        int command = 0;     // the code, or Frame3Command / OtherCommand
        qint64 count = 0;    // rows
        qint64 answered = 0; // requests with a reply; the latencies are theirs
        qint64 minUs = -1;   // -1 while no reply came
        qint64 meanUs = -1;
        qint64 p50Us = -1;
        qint64 p99Us = -1;
        qint64 maxUs = -1;
    };
    struct RateLine
    {
        qint64 startUs = 0; // the slot begins this long after the first row
        double bytesPerSecond = 0;
        double framesPerSecond = 0;
    };

    qint64 firstId = 0;
    qint64 endId = 0;
    qint64 firstTimeUs = -1;
    qint64 lastTimeUs = -1;
    QVector<CommandLine> commands; // by direction, then command
    qint64 problems[FrameProblem::KindCount] = {};
    qint64 slotUs = 1000000; // the width of one rate slot
    QVector<RateLine> rates; // one per slot, first row to last

    // At most this many rate slots: a long session gets wider ones.
    static constexpr int MaxRateSlots = 600;

    static FrameStatistics of(const FrameAnalyzer &analyzer);

    // Everything as text, tab-separated columns, for the view and the
    // clipboard. `commandName` names a code (may be empty: the code only).
    QString toText(const std::function<QString(int command)> &commandName = {}) const;
};
