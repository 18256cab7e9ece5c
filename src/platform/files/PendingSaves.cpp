#include "platform/files/PendingSaves.h"

#include <condition_variable>
#include <mutex>

namespace corvane {

namespace {

std::mutex g_mutex;
std::condition_variable g_ended;
int g_count = 0;

} // namespace

PendingSaves::Token::Token()
{
    std::lock_guard lock(g_mutex);
    ++g_count;
}

PendingSaves::Token::~Token()
{
    std::lock_guard lock(g_mutex);
    if (--g_count == 0)
        g_ended.notify_all();
}

PendingSaves::TokenPtr PendingSaves::begin()
{
    return std::make_shared<const Token>();
}

int PendingSaves::count()
{
    std::lock_guard lock(g_mutex);
    return g_count;
}

bool PendingSaves::waitUntilDone(std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock lock(g_mutex);
    return g_ended.wait_until(lock, deadline, [] { return g_count == 0; });
}

} // namespace corvane
