#pragma once

// The offscreen application every menu benchmark runs in, the timing of a
// menu's opening, and the worker thread on which benchmarks run tools as
// the program does.

#include "app/qt/MenuRenderer.h"
#include "platform/queues/DispatchQueue.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace corvane::bench {

inline QtMessageHandler g_qtMessages = nullptr;

// The offscreen platform has no window manager and says so at every popup
// (no raise, no keyboard grab); a run prints figures, so those notices are
// dropped. Every other message goes on as before.
inline void dropOffscreenNotices(QtMsgType type, const QMessageLogContext &context,
                                 const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(u"This plugin does not support "))
        return;
    g_qtMessages(type, context, message);
}

inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "corvane_bench";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // A session without a runtime folder gets one of its own, as Qt
        // would otherwise warn and fall back to a shared one in /tmp.
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
            static QTemporaryDir runtime;
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        }
        g_qtMessages = qInstallMessageHandler(dropOffscreenNotices);
        return new QApplication(argc, argv);
    }();
    Q_UNUSED(app);
}

// Runs main-queue work until none is left: every turn a change causes, and
// the Qt events that carried it, as the event loop would.
inline void drainMainQueue()
{
    do
        QCoreApplication::sendPostedEvents();
    while (DispatchQueue::drainMain() > 0);
}

// Runs `work` each round on a worker of the user-initiated queue, where the
// program runs its tools, and reports how long it took there: the hop to
// the worker and back is not counted. The benchmark must use manual time.
template <class F> void timeOnWorker(benchmark::State &state, F &&work)
{
    for (auto _ : state)
        state.SetIterationTime(DispatchQueue::userInitiated()->sync([&work] {
            const auto started = std::chrono::steady_clock::now();
            work();
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                .count();
        }));
}

// CORVANE_BENCH_QUICK=1: the heavy benchmarks use small sizes and one
// round, so that a run only shows that each still works.
inline bool quick()
{
    return qEnvironmentVariableIntValue("CORVANE_BENCH_QUICK") == 1;
}

// The middle of the values, for figures taken over a few rounds.
inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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

// Times the first opening of a rendered menu, made anew for each round: the
// popup and every main-queue turn that follows. `beforeOpening` runs right
// before the popup and `check` on the opened menu, both untimed, as are
// making, rendering and closing.
template <class M>
void timeFirstOpening(benchmark::State &state, const std::function<std::shared_ptr<M>()> &make,
                      const std::function<void(M &)> &check = {},
                      const std::function<void()> &beforeOpening = {})
{
    for (auto _ : state) {
        state.PauseTiming();
        auto renderer = std::make_unique<MenuRenderer>();
        auto menu = make();
        QMenu *qmenu = renderer->menuFor(menu);
        drainMainQueue();
        if (beforeOpening)
            beforeOpening();
        state.ResumeTiming();
        qmenu->popup(QPoint(0, 0));
        drainMainQueue();
        state.PauseTiming();
        if (check)
            check(*menu);
        qmenu->hide();
        renderer.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        menu.reset();
        drainMainQueue();
        state.ResumeTiming();
    }
}

} // namespace corvane::bench
