// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a long session offline: a capture of a million frames, written by
// the session writer, read back into an analyzer and its frame list, and
// made navigable (first, middle and last row shown, a row's fields built).
//
// BM_OpenCaptureModel: reader + analyzer + list model, no window.
// BM_AnalyzeCapture: what lumo-analyze --problems does before it prints:
// the file read by CaptureAnalysis, the rows filtered to those with
// problems, their lines, the summary and the exit decision.
// BM_LumoAnalyzeProgram/0..2: the program itself on the file, output to
// /dev/null: every row as text, --problems, --csv; its own peak resident
// size (wait4) is the childPeakMiB counter.
// BM_OpenCaptureWindow: the same through the analyzer window (offscreen):
// AnalyzerWindow::openCapture, then a jump to the middle row with its
// detail pane, and to the end.
//
// Counters: frames opened, the heap the open capture holds (bytes per
// frame: proportional to an index, not to the text of rows) and the
// process's peak resident size (getrusage; run one benchmark alone with
// --benchmark_filter for its own peak).
#include "analyzer/captureanalysis.h"
#include "analyzer/frameanalyzer.h"
#include "analyzer/framelistmodel.h"
#include "analyzerwindow/analyzerwindow.h"
#include "capture/capturewriter.h"
#include "protocol/zemtool.h"
#include "testsupport.h"

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

namespace {

constexpr qint64 Frames = 1000000;

// A conversation as the line carries it: the module's heartbeats and status
// reads, the MCU's replies and status reports, now and then a control
// command; replies a few milliseconds after their requests.
QVector<LineSegment> conversation()
{
    QVector<LineSegment> out;
    const auto add = [&out](LineDirection d, const QByteArray &frame) {
        out.append({0, d, SegmentKind::Frame4, ZemTool::escape(frame)});
    };
    const QByteArray status = hex("03 01 00 50 0F A0 00 01 51 80 0A 0B 0C 0D 00 39");
    for (int seq = 0; seq < 256; ++seq) {
        add(LineDirection::ModuleToMcu, makeFrame(0x07, seq));
        add(LineDirection::McuToModule, makeFrame(0x08, seq));
        add(LineDirection::McuToModule, makeFrame(0x05, seq, hex("04") + status.mid(1)));
        add(LineDirection::ModuleToMcu, makeFrame(0x06, seq));
        add(LineDirection::ModuleToMcu, makeFrame(0x03, seq, hex("02")));
        add(LineDirection::McuToModule, makeFrame(0x04, seq, status));
        if (seq % 8 == 0) {
            add(LineDirection::ModuleToMcu, makeFrame(0x03, seq, hex("01 1B 05 50 0F A0")));
            add(LineDirection::McuToModule, makeFrame(0x04, seq));
        }
    }
    return out;
}

// Written once per run, removed at exit.
QString capturePath()
{
    static QTemporaryDir dir;
    static QString path;
    if (!path.isEmpty())
        return path;
    const QString file = dir.filePath(QStringLiteral("million.pcap"));
    const QVector<LineSegment> shapes = conversation();
    CaptureWriter writer;
    if (!writer.open(file, nullptr))
        return QString();
    qint64 timeUs = 1765238400000000;
    for (qint64 i = 0; i < Frames; ++i) {
        LineSegment s = shapes.at(int(i % shapes.size()));
        timeUs += s.direction == LineDirection::McuToModule ? 2000 : 500;
        s.timeUs = timeUs;
        writer.write(s,
                     s.direction == LineDirection::McuToModule ? QStringLiteral("/dev/ttyUSB0")
                                                               : QStringLiteral("/dev/ttyUSB1"));
    }
    writer.close();
    path = file;
    return path;
}

// Heap bytes in use now (small blocks and mapped ones): what an open
// capture holds, exactly, whatever the allocator kept from earlier runs.
double heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks) + double(info.hblkhd);
}

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

void report(benchmark::State &state, qint64 rows, double heldBytes)
{
    state.counters["frames"] = double(rows);
    state.counters["heldMiB"] = heldBytes / (1024.0 * 1024.0);
    state.counters["bytes/frame"] = rows > 0 ? heldBytes / double(rows) : 0;
    state.counters["peakMiB"] = peakResidentMiB();
}

void BM_OpenCaptureModel(benchmark::State &state)
{
    const QString path = capturePath();
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    qint64 rows = 0;
    double held = 0;
    for (auto _ : state) {
        const double before = heapBytes();
        CaptureAnalysis capture(200000);
        capture.read(path);
        FrameListModel model;
        model.reset(&capture.analyzer());
        rows = model.rowCount();
        // Navigable: rows anywhere are built on demand.
        for (int row : {0, int(rows / 2), int(rows - 1)})
            benchmark::DoNotOptimize(model.rowText(row));
        held = heapBytes() - before;
    }
    report(state, rows, held);
}
BENCHMARK(BM_OpenCaptureModel)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AnalyzeCapture(benchmark::State &state)
{
    const QString path = capturePath();
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    qint64 rows = 0;
    double held = 0;
    for (auto _ : state) {
        const double before = heapBytes();
        CaptureAnalysis capture(200000);
        if (!capture.read(path)) {
            state.SkipWithError("the capture was not read");
            return;
        }
        FrameListModel model;
        model.reset(&capture.analyzer());
        FrameListModel::Filter problems;
        problems.problemsOnly = true;
        model.setFilter(problems);
        for (int row = 0; row < model.rowCount(); ++row)
            benchmark::DoNotOptimize(capture.rowLine(model, row, nullptr));
        benchmark::DoNotOptimize(capture.problemSummary());
        benchmark::DoNotOptimize(capture.anyRowWith(CaptureAnalysis::DefaultFailOn));
        rows = capture.analyzer().endId();
        held = heapBytes() - before;
    }
    report(state, rows, held);
}
BENCHMARK(BM_AnalyzeCapture)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OpenCaptureWindow(benchmark::State &state)
{
    const QString path = capturePath();
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    qint64 rows = 0;
    double held = 0;
    for (auto _ : state) {
        const double before = heapBytes();
        ZemTool settings;
        AnalyzerWindow window(AnalyzerWindow::Source::Mcu, nullptr, nullptr, &settings);
        window.resize(1100, 720);
        window.show();
        if (!window.openCapture(path)) {
            state.SkipWithError("the window did not open the capture");
            return;
        }
        auto *view = window.findChild<QTableView *>(QStringLiteral("tableView_frames"));
        rows = window.model()->rowCount();
        view->selectRow(int(rows / 2)); // fills the detail pane
        view->scrollTo(window.model()->index(int(rows / 2), 0));
        QCoreApplication::processEvents();
        view->scrollToBottom();
        QCoreApplication::processEvents();
        held = heapBytes() - before;
    }
    report(state, rows, held);
}
BENCHMARK(BM_OpenCaptureWindow)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef LUMO_ANALYZE_PATH
// Runs lumo-analyze on the capture with its output thrown away; false when
// it did not run or exit with a status of its own. `peakKiB` gets its peak
// resident size.
bool runProgram(const QStringList &options, long *peakKiB)
{
    static QTemporaryDir root;
    QList<QByteArray> args{QByteArrayLiteral(LUMO_ANALYZE_PATH), capturePath().toUtf8(),
                           QByteArrayLiteral("--root"), root.path().toUtf8()};
    for (const QString &option : options)
        args << option.toUtf8();
    std::vector<char *> argv;
    for (QByteArray &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return false;
    *peakKiB = usage.ru_maxrss;
    return true;
}

void BM_LumoAnalyzeProgram(benchmark::State &state)
{
    if (capturePath().isEmpty()) {
        state.SkipWithError("cannot write the capture");
        return;
    }
    const QStringList modes[] = {{}, {QStringLiteral("--problems")}, {QStringLiteral("--csv")}};
    long peakKiB = 0;
    for (auto _ : state) {
        if (!runProgram(modes[state.range(0)], &peakKiB)) {
            state.SkipWithError("lumo-analyze did not run");
            return;
        }
    }
    state.counters["frames"] = double(Frames);
    state.counters["childPeakMiB"] = double(peakKiB) / 1024.0;
    state.counters["peakMiB"] = peakResidentMiB(); // the child's figure holds this one too
}
BENCHMARK(BM_LumoAnalyzeProgram)
    ->DenseRange(0, 2)
    ->Iterations(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
