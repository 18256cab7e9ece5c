#pragma once

#include <memory>

namespace corvane {

// Common base of the model objects that travel through notifications and
// command targets; identity is the object itself.
class Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;

    template <class T> std::shared_ptr<T> sharedAs()
    {
        return std::dynamic_pointer_cast<T>(shared_from_this());
    }
    template <class T> std::weak_ptr<T> weakAs() { return sharedAs<T>(); }
};

using ObjectPtr = std::shared_ptr<Object>;

} // namespace corvane
