#include "platform/desktop/SavePanel.h"

#include "platform/queues/DispatchQueue.h"

#include <mutex>

namespace corvane {

namespace {

class CancellingSavePanel : public SavePanel {
public:
    std::optional<QString> runModal(const SavePanelSpec &) override { return std::nullopt; }
    void begin(const SavePanelSpec &, Completion completion) override
    {
        DispatchQueue::main()->async([completion] {
            if (completion)
                completion(std::nullopt);
        });
    }
};

std::mutex g_mutex;
std::shared_ptr<SavePanel> g_shared;

} // namespace

std::shared_ptr<SavePanel> SavePanel::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<CancellingSavePanel>();
    return g_shared;
}

void SavePanel::setShared(std::shared_ptr<SavePanel> panel)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(panel);
}

std::optional<QString> RecordingSavePanel::next()
{
    if (m_answers.empty())
        return std::nullopt;
    auto answer = m_answers.front();
    m_answers.erase(m_answers.begin());
    return answer;
}

std::optional<QString> RecordingSavePanel::runModal(const SavePanelSpec &spec)
{
    presented.push_back(spec);
    return next();
}

void RecordingSavePanel::begin(const SavePanelSpec &spec, Completion completion)
{
    presented.push_back(spec);
    DispatchQueue::main()->async([completion, answer = next()] {
        if (completion)
            completion(answer);
    });
}

} // namespace corvane
