#include "FuzzSupport.h"
#include "core/Toolset.h"

#include <set>

using namespace corvane;

// Any usage text lists each command at most once, and always `gps`.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto commands = Toolset::parseSupportedCommands(fuzz::text(data, size));
    std::set<int> seen;
    for (Toolset::Command command : commands)
        fuzz::check(seen.insert(Toolset::rawValue(command)).second);
    fuzz::check(seen.count(Toolset::rawValue(Toolset::Command::gps)) == 1);
    return 0;
}
