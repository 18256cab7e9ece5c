#include "csv/Decodable.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace corvane::detail {

std::string unqualifiedTypeName(const std::type_info &type)
{
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    std::string name = status == 0 && demangled ? demangled.get() : type.name();

    constexpr std::string_view anonymous = "(anonymous namespace)::";
    for (std::size_t at; (at = name.find(anonymous)) != std::string::npos;)
        name.erase(at, anonymous.size());
    // Drop every qualifier: what stands between a name's start and "::".
    std::string result;
    std::size_t nameStart = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, 2, "::") == 0) {
            result.erase(nameStart);
            ++i;
            continue;
        }
        result += name[i];
        if (name[i] == '<' || name[i] == ',' || name[i] == ' ' || name[i] == '>')
            nameStart = result.size();
    }
    return result;
}

} // namespace corvane::detail
