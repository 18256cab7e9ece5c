#pragma once

#include <chrono>
#include <memory>

namespace corvane {

// The saves the program has asked for and that have not ended, so that
// quitting can wait for them. A store takes a token when it asks for a save
// and lets it go when the save has ended, whether it wrote or failed.
class PendingSaves {
public:
    class Token {
    public:
        Token();
        ~Token();
        Token(const Token &) = delete;
        Token &operator=(const Token &) = delete;
    };
    // Shared, so that queued work (a copyable function) can hold it.
    using TokenPtr = std::shared_ptr<const Token>;

    static TokenPtr begin();
    static int count();
    // Blocks until no save is pending or the deadline has passed, by the
    // clock; true when none is left.
    static bool waitUntilDone(std::chrono::steady_clock::time_point deadline);
};

} // namespace corvane
