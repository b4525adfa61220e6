#pragma once
// A mapped input that another program truncates while we read it makes the next read
// of a vanished page raise SIGBUS, which would end the whole process. The guard turns
// such a fault, inside the mapped range and on this thread, into a failed call.

#include <csetjmp>
#include <string_view>

namespace tarnwick {

namespace detail {
struct ReadGuardState {
    const char* begin;
    const char* end;
    sigjmp_buf jump;
};
void armReadGuard(ReadGuardState& state);
void disarmReadGuard();
} // namespace detail

/// What guardMappedReads saw: the body's result, or a fault.
struct GuardedRun {
    bool result = false;  // what the body returned (false after a fault)
    bool faulted = false; // a read of the range hit a page that the file no longer has
};

/// Runs `body` (which returns bool) while reads of `range` are guarded. `body` must
/// hold no object with a non-trivial destructor on the stack while it reads the range
/// (the fault leaves its frames by siglongjmp).
template <typename Body> GuardedRun guardMappedReads(std::string_view range, Body&& body)
{
    detail::ReadGuardState state{range.data(), range.data() + range.size(), {}};
    if (sigsetjmp(state.jump, 1) != 0) {
        detail::disarmReadGuard();
        return {false, true};
    }
    detail::armReadGuard(state);
    bool result = false;
    try {
        result = body();
    } catch (...) {
        detail::disarmReadGuard();
        throw;
    }
    detail::disarmReadGuard();
    return {result, false};
}

} // namespace tarnwick
