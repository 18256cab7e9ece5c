#pragma once

#include <cstddef>
#include <iterator>
#include <type_traits>
#include <utility>

namespace corvane {

// The input iterator over anything with a `next()` step that returns an
// optional value or a pointer, empty at the end: range-for, and copying the
// remaining elements out with the standard algorithms.
template <class Owner> class SequenceIterator {
public:
    using Step = decltype(std::declval<Owner &>().next());
    using iterator_category = std::input_iterator_tag;
    using value_type = std::remove_cvref_t<decltype(*std::declval<Step &>())>;
    using difference_type = std::ptrdiff_t;
    using pointer = const value_type *;
    using reference = const value_type &;

    SequenceIterator() = default;
    explicit SequenceIterator(Owner &owner) : owner_(&owner), step_(owner.next()) {}

    reference operator*() const { return *step_; }
    pointer operator->() const { return &*step_; }
    SequenceIterator &operator++()
    {
        step_ = owner_->next();
        return *this;
    }
    void operator++(int) { ++*this; }
    // Iterators compare equal when both have ended.
    friend bool operator==(const SequenceIterator &a, const SequenceIterator &b)
    {
        return static_cast<bool>(a.step_) == static_cast<bool>(b.step_);
    }

private:
    Owner *owner_ = nullptr;
    Step step_{};
};

template <class Derived> class Sequence {
public:
    SequenceIterator<Derived> begin()
    {
        return SequenceIterator<Derived>(static_cast<Derived &>(*this));
    }
    SequenceIterator<Derived> end() { return {}; }
};

} // namespace corvane
