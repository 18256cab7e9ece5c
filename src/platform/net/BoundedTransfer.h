#pragma once

#include <QtGlobal>

#include <chrono>

namespace corvane {

// A reply whose transport keeps a BoundedReply's bounds itself, inside the
// library calls that hold the reply's thread, where none of that thread's
// timers can run: a proxy's endless reply to CONNECT is read within one
// such call. BoundedReply tells such a reply its bounds before it starts,
// and asks it, once it finished, whether it was ended for one of them.
class BoundedTransfer {
public:
    enum class Overrun { none, tooLarge, tooSlow };

    virtual ~BoundedTransfer() = default;

    // A body past `maximumBodySize`, or a transfer still going at
    // `deadline`, ends the transfer where it is.
    virtual void holdTo(qint64 maximumBodySize, std::chrono::steady_clock::time_point deadline) = 0;
    virtual Overrun overrun() const = 0;
};

} // namespace corvane
