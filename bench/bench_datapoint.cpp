// SPDX-License-Identifier: GPL-3.0-or-later
// The data-point table of a 100-attribute definition: building it, building
// the status report from it, and applying a control frame to it; plus the
// parse and the bare codec.
#include "datapoint/datapointcodec.h"
#include "datapoint/datapointdefinition.h"
#include "datapoint/zemjson.h"
#include "mcu/datapointtable.h"
#include "protocol/zemtool.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTableWidget>
#include <QTemporaryDir>

#include "base/apppaths.h"

#include <benchmark/benchmark.h>

namespace {

// 100 attributes, writable first: 40 bools and 10 four-label enums in the
// writable bit area (60 bits), 20 numbers and 10 binaries of 4 bytes, then
// 10 read-only bools and 10 read-only bytes.
QByteArray hundredAttributes()
{
    QJsonArray attrs;
    int byteOffset = 8; // after the 8-byte writable area
    int bit = 0;
    auto add = [&](const QString &dataType, const QString &type, const QString &unit, int len,
                   int offset, int bitOffset) {
        QJsonObject a{{"id", attrs.size()},
                      {"display_name", QStringLiteral("点%1").arg(attrs.size())},
                      {"name", QStringLiteral("p%1").arg(attrs.size())},
                      {"data_type", dataType},
                      {"type", type},
                      {"position",
                       QJsonObject{{"unit", unit},
                                   {"len", len},
                                   {"byte_offset", offset},
                                   {"bit_offset", bitOffset}}}};
        if (dataType == "enum")
            a.insert("enum", QJsonArray{"a", "b", "c", "d"});
        if (dataType.startsWith("uint"))
            a.insert("uint_spec", QJsonObject{{"min", 0}, {"max", 60000}});
        attrs.append(a);
    };
    for (int i = 0; i < 40; ++i, ++bit)
        add("bool", "status_writable", "bit", 1, 0, bit);
    for (int i = 0; i < 10; ++i, bit += 2)
        add("enum", "status_writable", "bit", 2, 0, bit);
    const char *numbers[] = {"uint8", "uint16", "uint32"};
    for (int i = 0; i < 20; ++i) {
        const int len = i % 3 == 0 ? 1 : i % 3 == 1 ? 2 : 4;
        add(numbers[i % 3], "status_writable", "byte", len, byteOffset, 0);
        byteOffset += len;
    }
    for (int i = 0; i < 10; ++i, byteOffset += 4)
        add("binary", "status_writable", "byte", 4, byteOffset, 0);
    const int readonlyArea = byteOffset++;
    for (int i = 0; i < 10; ++i)
        add("bool", "status_readonly", "bit", 1, readonlyArea, i);
    ++byteOffset; // the read-only area is two bytes
    for (int i = 0; i < 10; ++i)
        add("uint8", "status_readonly", "byte", 1, byteOffset++, 0);
    return QJsonDocument(QJsonObject{{"entities", QJsonArray{QJsonObject{{"attrs", attrs}}}}})
        .toJson();
}

struct Fixture
{
    Fixture()
    {
        AppPaths::setRoot(dir.path());
        QDir(dir.path()).mkpath("json");
        QFile f(ZemJson::cachePath("bench"));
        f.open(QIODevice::WriteOnly);
        f.write(hundredAttributes());
        f.close();
        json.loadJson("bench");
    }
    QTemporaryDir dir;
    ZemJson json;
};

Fixture &fixture()
{
    static Fixture f;
    return f;
}

void BM_ParseDefinition100(benchmark::State &state)
{
    const QJsonObject doc = QJsonDocument::fromJson(hundredAttributes()).object();
    for (auto _ : state)
        benchmark::DoNotOptimize(DataPointDefinition::fromJson(doc));
}
BENCHMARK(BM_ParseDefinition100)->Unit(benchmark::kMicrosecond);

void BM_BuildTable100(benchmark::State &state)
{
    Fixture &f = fixture();
    QTableWidget table;
    DataPointModel model;
    DataPointTable::bind(&table, &model);
    const DataPointValues values(f.json.definition());
    for (auto _ : state) {
        model.setValues(values); // the table is rebuilt on the reset
        // The old editors are deleted later; count that work too.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    state.counters["rows"] = table.rowCount();
}
BENCHMARK(BM_BuildTable100)->Unit(benchmark::kMillisecond);

void BM_StatusReport100(benchmark::State &state)
{
    Fixture &f = fixture();
    QTableWidget table;
    DataPointModel model;
    model.setValues(DataPointValues(f.json.definition()));
    DataPointTable::bind(&table, &model);
    QByteArray report;
    for (auto _ : state)
        benchmark::DoNotOptimize(report = model.values().statusReport());
    state.counters["bytes"] = report.size();
}
BENCHMARK(BM_StatusReport100)->Unit(benchmark::kMicrosecond);

QByteArray controlSettingAll(const ZemJson &json)
{
    // Every writable point flagged; value bytes a running pattern.
    const int flags = (json.writableCount() + 7) / 8;
    const QByteArray report = json.makeReportFrame();
    QByteArray frame = QByteArray::fromHex("FFFF0000030100000100");
    frame.chop(1);
    frame.append(QByteArray(flags, char(0xFF)));
    for (int i = 0; i < report.size() - 10; ++i)
        frame.append(char(i * 37));
    frame.append('\0');
    frame[2] = char((frame.size() - 4) >> 8);
    frame[3] = char((frame.size() - 4) & 0xFF);
    ZemTool::setFrameChecksum(frame);
    return frame;
}

void BM_ApplyControlFrame100(benchmark::State &state)
{
    Fixture &f = fixture();
    QTableWidget table;
    DataPointModel model;
    model.setValues(DataPointValues(f.json.definition()));
    DataPointTable::bind(&table, &model);
    const QByteArray frame = controlSettingAll(f.json);
    for (auto _ : state)
        model.applyControl(frame);
    state.counters["values"] = double(f.json.decodeControl(frame).size());
}
BENCHMARK(BM_ApplyControlFrame100)->Unit(benchmark::kMicrosecond);

// The same report and control frame on the values alone, as a headless
// device builds and takes them.
void BM_ValuesReport100(benchmark::State &state)
{
    Fixture &f = fixture();
    const DataPointValues values(f.json.definition());
    QByteArray report;
    for (auto _ : state)
        benchmark::DoNotOptimize(report = values.statusReport());
    state.counters["bytes"] = report.size();
}
BENCHMARK(BM_ValuesReport100)->Unit(benchmark::kMicrosecond);

void BM_ValuesApplyControl100(benchmark::State &state)
{
    Fixture &f = fixture();
    DataPointValues values(f.json.definition());
    const QByteArray frame = controlSettingAll(f.json);
    for (auto _ : state)
        benchmark::DoNotOptimize(values.applyControl(frame));
}
BENCHMARK(BM_ValuesApplyControl100)->Unit(benchmark::kMicrosecond);

void BM_CodecReport100(benchmark::State &state)
{
    Fixture &f = fixture();
    const QList<json_struct> &list = f.json.jsonList();
    for (auto _ : state) {
        QByteArray frame = f.json.makeReportFrame();
        for (const json_struct &r : list)
            f.json.setValue(frame, r.display_name, 1);
        benchmark::DoNotOptimize(frame);
    }
}
BENCHMARK(BM_CodecReport100)->Unit(benchmark::kMicrosecond);

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet); // the report writes a debug line each time
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
