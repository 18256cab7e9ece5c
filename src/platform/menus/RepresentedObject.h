#pragma once

#include "platform/Object.h"

#include <any>
#include <memory>
#include <optional>
#include <type_traits>

namespace corvane {

// The data a menu item carries: a model object (anything derived from
// Object, held strongly) or a value of any copyable type.
class RepresentedObject {
public:
    RepresentedObject() = default;

    template <class T,
              class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, RepresentedObject>>>
    RepresentedObject(T &&value)
    {
        using V = std::decay_t<T>;
        if constexpr (std::is_same_v<V, std::nullptr_t>) {
        } else if constexpr (isObjectPointer<V>::value) {
            m_object = std::static_pointer_cast<const Object>(value);
        } else {
            m_value = std::forward<T>(value);
        }
    }

    bool isEmpty() const { return !m_object && !m_value.has_value(); }

    // For Object types: the object when it is one of T (or nullptr). For
    // values: a copy when the value's type is exactly T.
    template <class T> auto as() const
    {
        if constexpr (std::is_base_of_v<Object, T>) {
            return std::dynamic_pointer_cast<T>(std::const_pointer_cast<Object>(m_object));
        } else {
            const T *value = std::any_cast<T>(&m_value);
            return value ? std::optional<T>(*value) : std::optional<T>();
        }
    }

    template <class T> bool is() const
    {
        if constexpr (std::is_base_of_v<Object, T>)
            return as<T>() != nullptr;
        else
            return std::any_cast<T>(&m_value) != nullptr;
    }

    // Identity for objects; values never compare equal, since std::any
    // cannot compare.
    bool sameObject(const RepresentedObject &other) const
    {
        return m_object && m_object == other.m_object;
    }

    ObjectPtr object() const { return std::const_pointer_cast<Object>(m_object); }

private:
    template <class V> struct isObjectPointer : std::false_type {
    };
    template <class U>
    struct isObjectPointer<std::shared_ptr<U>> : std::is_base_of<Object, std::remove_const_t<U>> {
    };

    std::shared_ptr<const Object> m_object;
    std::any m_value;
};

} // namespace corvane
