// SPDX-License-Identifier: GPL-3.0-or-later
// Completing typed hex into a frame, for the largest frame the length field
// allows: the send box's tooltip runs it on every keystroke.
#include "protocol/framecompletion.h"

#include <QRandomGenerator>
#include <QString>

#include <benchmark/benchmark.h>

namespace {

void BM_CompleteLargestFrame(benchmark::State &state)
{
    // Command, sequence, flags and a random payload (FFs to escape), the
    // length written as "??": 65534 bytes and the checksum, length 0xFFFF.
    QByteArray body(65534, '\0');
    QRandomGenerator rng(7);
    for (char &c : body)
        c = char(rng.bounded(256));
    body[0] = 0x05;
    const QString text = QStringLiteral("FF FF ?? ") + QString::fromLatin1(body.toHex(' '));
    qint64 out = 0;
    for (auto _ : state) {
        const FrameCompletion::Result r = FrameCompletion::complete(text);
        out += r.wire.size();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * body.size());
}
BENCHMARK(BM_CompleteLargestFrame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
