#include "app/toolkit/exit_routines.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace toolkit::detail {
namespace {

struct ExitRoutines {
    std::mutex lock;
    std::vector<void (*)()> routines;
};

// Never destroyed: std::exit runs the routines after the static objects made before them are
// gone, this list among them if it were one.
ExitRoutines& Registry() {
    static auto* registry = new ExitRoutines;
    return *registry;
}

}  // namespace

void RunExitRoutines() {
    std::vector<void (*)()> routines;
    {
        std::lock_guard<std::mutex> guard(Registry().lock);
        routines.swap(Registry().routines);
    }
    for (auto routine : routines)
        routine();
}

void AddExitRoutine(void (*routine)()) {
    // Armed after the list exists, and the list is never destroyed.
    Registry();
    static const bool atExitArmed = std::atexit(RunExitRoutines) == 0;
    (void)atExitArmed;
    if (routine == nullptr) return;
    std::lock_guard<std::mutex> guard(Registry().lock);
    Registry().routines.push_back(routine);
}

}  // namespace toolkit::detail
