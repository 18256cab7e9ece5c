#pragma once

// The offscreen application every menu benchmark runs in, and the timing of
// a menu's opening.

#include <QApplication>
#include <QMenu>
#include <benchmark/benchmark.h>

namespace corvane::bench {

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "corvane_bench";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    Q_UNUSED(app);
}

// Times each opening of an already rendered menu; closing is not timed.
inline void timeReopening(benchmark::State &state, QMenu *menu)
{
    for (auto _ : state) {
        menu->popup(QPoint(0, 0));
        state.PauseTiming();
        menu->hide();
        state.ResumeTiming();
    }
}

} // namespace corvane::bench
