// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// What every fuzz target shares. A target defines LLVMFuzzerTestOneInput and
// nothing else; it is linked either with libFuzzer (which calls it with
// generated inputs) or with replay_main.cpp (which calls it once per corpus
// file), so the same checks run under the fuzzer and in CTest.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace Fuzz {

// Creates the one QCoreApplication the Qt objects need and silences Qt's
// debug log (the code under test writes a debug line for every rejected
// frame; printing them would slow the fuzzer a hundredfold). Warnings and
// worse still print. Cheap after the first call: call it from every input.
void init();

// Reports a broken invariant with the input in hex and aborts, so that
// libFuzzer keeps the input as a crash artifact and a replay fails.
[[noreturn]] void fail(const char *what, const QByteArray &input, const QByteArray &detail = {});

// The input as a byte array sharing nothing with the fuzzer's buffer.
inline QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// A small deterministic generator, seeded from the input itself, for choices
// that should vary with the input but not eat into it (chunk splits, values).
class Random
{
public:
    explicit Random(const QByteArray &seedFrom);
    quint32 next();
    // 1 .. max, biased towards short chunks so that splits inside a header,
    // between FF and 55, and single bytes all occur often.
    int chunk(int max);

private:
    quint32 m_state;
};

// A temporary program folder (settings file copied from the shipped one,
// bin/, json/) that lives until the process ends; AppPaths points into it
// after the call. Each variant is a folder of its own, created on its first
// call (then *fresh is set), so that a target can keep one folder per set of
// settings instead of rewriting the settings file for every input.
QString programFolder(int variant = 0, bool *fresh = nullptr);

// A small desk lamp's data-point definition with one data point of every kind
// a frame carries: bit values (bool, enum) in the writable area, whole-byte
// numbers of 1 and 2 bytes, a binary field, read-only values (a bit and a
// byte), an alert and a fault. Built from records rather than parsed, so that no JSON parse (and
// none of the parser's one-time allocations) happens inside a fuzzed input.
const DataPointDefinition &sampleDefinition();

} // namespace Fuzz

#define FUZZ_CHECK(cond, input)                                                                    \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::Fuzz::fail(#cond, (input));                                                          \
    } while (0)
