#include "platform/desktop/Pasteboard.h"

#include "platform/queues/DispatchQueue.h"

#include <QClipboard>
#include <QGuiApplication>

#include <functional>
#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
std::shared_ptr<Pasteboard> g_general;

// QClipboard belongs to the main thread; other threads wait for their turn
// there.
void onMainThread(const std::function<void(QClipboard *)> &work)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    const auto run = [&work] {
        if (auto *clipboard = QGuiApplication::clipboard())
            work(clipboard);
    };
    DispatchQueue::main()->sync(run);
}

} // namespace

std::shared_ptr<Pasteboard> Pasteboard::general()
{
    std::lock_guard lock(g_mutex);
    if (!g_general)
        g_general = std::make_shared<ClipboardPasteboard>();
    return g_general;
}

void Pasteboard::setGeneral(std::shared_ptr<Pasteboard> pasteboard)
{
    std::lock_guard lock(g_mutex);
    g_general = std::move(pasteboard);
}

void ClipboardPasteboard::clearContents()
{
    onMainThread([](QClipboard *clipboard) { clipboard->clear(); });
}

void ClipboardPasteboard::writeImage(const QImage &image)
{
    onMainThread([&image](QClipboard *clipboard) { clipboard->setImage(image); });
}

} // namespace corvane
