// SPDX-License-Identifier: GPL-3.0-or-later
// What a settings write costs the caller (the GUI thread: opening a port,
// the bridge switch) with the shipped settings file and with one grown to
// tens of megabytes, and how long the background save then takes.
#include "testsupport.h"

#include "protocol/zemtool.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

// Appends `megabytes` of junk keys to the shipped settings.
void grow(const TestRoot &root, int megabytes)
{
    QFile file(root.file(QStringLiteral("auto_analyze.ini")));
    if (!file.open(QIODevice::Append))
        return;
    file.write("\n[junk]\n");
    const QByteArray line = "k%1=" + QByteArray(100, 'x') + '\n';
    const qint64 target = qint64(megabytes) * 1024 * 1024;
    for (int i = 0; file.size() < target; ++i)
        file.write(QByteArray(line).replace("%1", QByteArray::number(i)));
}

void BM_SettingsWrite(benchmark::State &state)
{
    TestRoot root;
    grow(root, int(state.range(0)));
    ZemTool tool; // the file is read here, once
    std::vector<double> ms;
    int n = 0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        tool.writeSetting(QStringLiteral("dual/port1"), QStringLiteral("ttyUSB%1").arg(n++));
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    QElapsedTimer save;
    save.start();
    tool.flushSettings();
    std::sort(ms.begin(), ms.end());
    state.counters["p99_ms"] = ms[ms.size() * 99 / 100];
    state.counters["max_ms"] = ms.back();
    state.counters["last_save_ms"] = double(save.nsecsElapsed()) / 1e6;
}
BENCHMARK(BM_SettingsWrite)->Arg(0)->Arg(50)->Iterations(200)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
