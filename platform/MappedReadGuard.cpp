#include "platform/MappedReadGuard.h"

#include <signal.h>

#include <mutex>

namespace tarnwick::detail {
namespace {

thread_local ReadGuardState* t_active = nullptr;
struct sigaction g_previousAction;

void onBusError(int, siginfo_t* info, void*)
{
    ReadGuardState* state = t_active;
    const char* address = static_cast<const char*>(info->si_addr);
    if (state != nullptr && address >= state->begin && address < state->end) {
        t_active = nullptr;
        siglongjmp(state->jump, 1);
    }
    // Not a read we guard: hand the signal back to whoever handled it before; the
    // faulting instruction runs again and meets that handler (by default, the end).
    sigaction(SIGBUS, &g_previousAction, nullptr);
}

void installHandlerOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previousAction);
    });
}

} // namespace

void armReadGuard(ReadGuardState& state)
{
    installHandlerOnce();
    t_active = &state;
}

void disarmReadGuard() { t_active = nullptr; }

} // namespace tarnwick::detail
