// Reads XML property lists of the two shapes whose cost once grew with the
// square of their size: one string of "&amp;" entities, and one dictionary
// of many keys (about 40,000 per MiB, and the 600,000 and 675,528 keys of a
// list near the 16 MiB file limit); and a list of ordinary records, each a
// dictionary of every kind of value, as a large list of devices or builds
// is. Each at 1 and 8 MiB; the figures should grow eightfold between them.
// And a binary list of one array of 1,000,000 integers, each its own object:
// scripts of Python's plistlib read the same bytes as a yardstick
// (CORVANE_BENCH_PLIST names a file to write them to).

#include "platform/formats/PropertyList.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QVariant>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

constexpr qsizetype MiB = 1 << 20;

QByteArray plist(const QByteArray &inner)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + inner +
           "\n</plist>\n";
}

QByteArray entities(qsizetype bytes)
{
    return plist("<string>" + QByteArray("&amp;").repeated(bytes / 5) + "</string>");
}

// Keys in ascending order, as writers store them; 26 bytes each.
QByteArray keys(qsizetype count)
{
    QByteArray inner = "<dict>";
    inner.reserve(count * 25);
    for (qsizetype i = 0; i < count; ++i)
        inner += "\n\t<key>" + QByteArray::number(i).rightJustified(6, '0') + "</key><true/>";
    return plist(inner + "\n</dict>");
}

// An array of `count` records of about 400 bytes each.
QByteArray records(qsizetype count)
{
    QByteArray inner = "<array>";
    inner.reserve(count * 400);
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        inner += "\n\t<dict>\n\t\t<key>name</key>\n\t\t<string>Record " + n +
                 " &amp; its &lt;text&gt;</string>\n\t\t<key>identifier</key>\n\t\t<string>"
                 "com.example.record-" +
                 n + "</string>\n\t\t<key>size</key>\n\t\t<integer>" + n +
                 "</integer>\n\t\t<key>ratio</key>\n\t\t<real>0." + n +
                 "</real>\n\t\t<key>when</key>\n\t\t<date>2024-03-05T14:07:09Z</date>"
                 "\n\t\t<key>token</key>\n\t\t<data>\n\t\tAAECAwQFBgcICQoLDA0ODw==\n\t\t</data>"
                 "\n\t\t<key>enabled</key>\n\t\t<true/>\n\t</dict>";
    }
    return plist(inner + "\n</array>");
}

constexpr qsizetype recordsPerMiB = MiB / 400;

// Each input is made once, outside the timing.
const QByteArray &input(char kind, qsizetype size)
{
    static std::map<std::pair<char, qsizetype>, QByteArray> made;
    auto &bytes = made[{kind, size}];
    if (bytes.isEmpty())
        bytes = kind == 'e' ? entities(size) : kind == 'r' ? records(size) : keys(size);
    return bytes;
}

void read(benchmark::State &state, const QByteArray &bytes, qsizetype expectedSize)
{
    qsizetype size = -1;
    for (auto _ : state) {
        const auto value = corvane::PropertyList::parse(bytes);
        size = !value                                       ? -1
               : value->typeId() == QMetaType::QString      ? value->toString().size()
               : value->typeId() == QMetaType::QVariantList ? value->toList().size()
                                                            : value->toMap().size();
        benchmark::DoNotOptimize(size);
    }
    if (size != expectedSize)
        state.SkipWithError("the list did not read whole");
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["MiB"] = double(bytes.size()) / MiB;
}

void BM_XmlEntities(benchmark::State &state)
{
    const qsizetype bytes = state.range(0) * MiB;
    read(state, input('e', bytes), bytes / 5);
}
BENCHMARK(BM_XmlEntities)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// 1 and 8 MiB of keys.
void BM_XmlKeysByMiB(benchmark::State &state)
{
    const qsizetype count = state.range(0) * MiB / 26;
    read(state, input('k', count), count);
    state.counters["keys"] = double(count);
}
BENCHMARK(BM_XmlKeysByMiB)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_XmlKeysByCount(benchmark::State &state)
{
    read(state, input('k', state.range(0)), state.range(0));
    state.counters["keys"] = double(state.range(0));
}
BENCHMARK(BM_XmlKeysByCount)->Arg(600000)->Arg(675528)->Unit(benchmark::kMillisecond);

// 1 and 8 MiB of records.
void BM_XmlRecords(benchmark::State &state)
{
    const qsizetype count = state.range(0) * recordsPerMiB;
    read(state, input('r', count), count);
    state.counters["records"] = double(count);
}
BENCHMARK(BM_XmlRecords)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

const QByteArray &binaryIntegers()
{
    static const QByteArray bytes = [] {
        QVariantList list;
        list.reserve(1'000'000);
        for (qint64 i = 0; i < 1'000'000; ++i)
            list.append(i * 7919);
        return corvane::PropertyList::toBinary(list);
    }();
    return bytes;
}

void BM_BinaryIntegers(benchmark::State &state)
{
    const QByteArray &bytes = binaryIntegers();
    if (const char *path = std::getenv("CORVANE_BENCH_PLIST"); path && *path) {
        if (std::FILE *file = std::fopen(path, "wb")) {
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file);
            std::fclose(file);
        }
    }
    read(state, bytes, 1'000'000);
}
BENCHMARK(BM_BinaryIntegers)->Unit(benchmark::kMillisecond);

} // namespace
