// Reads XML property lists of the two shapes whose cost once grew with the
// square of their size: one string of "&amp;" entities, and one dictionary
// of many keys (about 40,000 per MiB, and the 600,000 and 675,528 keys of a
// list near the 16 MiB file limit). Each at 1 and 8 MiB; the figures should
// grow eightfold between them.

#include "platform/formats/PropertyList.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QVariant>

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

// Each input is made once, outside the timing.
const QByteArray &input(char kind, qsizetype size)
{
    static std::map<std::pair<char, qsizetype>, QByteArray> made;
    auto &bytes = made[{kind, size}];
    if (bytes.isEmpty())
        bytes = kind == 'e' ? entities(size) : keys(size);
    return bytes;
}

void read(benchmark::State &state, const QByteArray &bytes, qsizetype expectedSize)
{
    qsizetype size = -1;
    for (auto _ : state) {
        const auto value = corvane::PropertyList::parse(bytes);
        size = !value                                  ? -1
               : value->typeId() == QMetaType::QString ? value->toString().size()
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

} // namespace
