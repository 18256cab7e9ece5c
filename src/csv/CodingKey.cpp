#include "csv/CodingKey.h"

namespace corvane {

std::string CodingKey::description() const
{
    if (description_)
        return *description_;
    return "CodingKey(stringValue: \"" + stringValue_ +
           "\", intValue: " + (intValue_ ? std::to_string(*intValue_) : std::string("nil")) + ")";
}

} // namespace corvane
