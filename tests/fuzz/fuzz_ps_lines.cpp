#include "FuzzSupport.h"
#include "common/ReferencePatterns.h"
#include "model/ActivityMonitor.h"

using namespace corvane;

// Any process list parses without a stall, and each line's application
// process is what the pattern finds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = fuzz::text(data, size);
    ActivityMonitor::parseProcessList(text);
    for (const QString &line : fuzz::lines(text)) {
        const auto process = ActivityMonitor::parseApplicationProcess(line);
        if (line.size() <= fuzz::kReferenceLineLength)
            fuzz::check(process == reference::applicationProcess(line));
        ActivityMonitor::parseSimulatorProcess(line);
    }
    return 0;
}
