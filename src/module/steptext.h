// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The conformance run names its steps and reasons in English: they go into
// the JUnit report and the command line's output, which CI systems and
// scripts read. The module window speaks Chinese like the rest of the
// program; this gives it the Chinese form of those texts.
//
// A reason is one or more problems joined by "; ", each translated on its
// own; the values in it (codes, counts, names, hex) are kept as they are.
// A text this table does not know is shown as it stands.
class StepText
{
public:
    static QString chinese(const QString &english);
    // The line where the frames a step left out were.
    static QString framesLeftOut(bool chinese);
};
