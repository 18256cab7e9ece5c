#include "model/SimulatorTouches.h"

#include "core/ProcessRunner.h"
#include "core/Toolset.h"
#include "platform/processes/ChildProcess.h"
#include "platform/Log.h"
#include "platform/files/SystemPaths.h"
#include "platform/defaults/UserDefaults.h"

#include <QString>

#include <exception>

namespace corvane {

namespace {

void writeSwitch(const char *key, bool show)
{
    ChildProcess process;
    process.setExecutablePath(SystemPaths::current().defaults);
    process.setArguments(
        {"write", simulatorDomain, key, show ? QStringLiteral("1") : QStringLiteral("0")});
    process.setStandardOutput(ChildProcess::Channel::Pipe);
    process.setStandardError(ChildProcess::Channel::Pipe);
    try {
        process.launch();
    } catch (const std::exception &error) {
        Log::device().debug("Could not run defaults: %{public}@", QString::fromUtf8(error.what()));
        return;
    }
    // A tool that hangs must not hold the menu's queue for good.
    awaitTool(process);
}

} // namespace

std::shared_ptr<UserDefaults> simulatorDefaults()
{
    // Of the home folder in use now; the suite reads its file afresh anyway.
    return UserDefaults::suite(simulatorDomain);
}

void setShowSingleTouches(bool show)
{
    writeSwitch(showSingleTouchesKey, show);
}

void setShowPinches(bool show)
{
    writeSwitch(showPinchesKey, show);
}

} // namespace corvane
