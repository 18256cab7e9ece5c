#include "platform/desktop/AlertPresenter.h"

#include <mutex>

namespace corvane {

namespace {

class ClosedAlertPresenter : public AlertPresenter {
public:
    AlertResponse run(const AlertSpec &) override { return {}; }
};

std::mutex g_mutex;
std::shared_ptr<AlertPresenter> g_shared;

} // namespace

std::shared_ptr<AlertPresenter> AlertPresenter::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_shared)
        g_shared = std::make_shared<ClosedAlertPresenter>();
    return g_shared;
}

void AlertPresenter::setShared(std::shared_ptr<AlertPresenter> presenter)
{
    std::lock_guard lock(g_mutex);
    g_shared = std::move(presenter);
}

AlertResponse RecordingAlertPresenter::run(const AlertSpec &spec)
{
    presented.push_back(spec);
    if (m_responses.empty())
        return defaultResponse;
    AlertResponse response = m_responses.front();
    m_responses.erase(m_responses.begin());
    return response;
}

} // namespace corvane
