// The exit routines of every toolkit backend: each runs exactly once, after the message loop or,
// when the program ends another way (std::exit from anywhere, main returning without a loop),
// at exit.
#pragma once

namespace toolkit::detail {

// Adds the routine; the first call arms std::atexit.
void AddExitRoutine(void (*routine)());
// Runs the routines not run yet, in the order they were added; any later call runs none of them
// again, from whichever thread it comes.
void RunExitRoutines();

}  // namespace toolkit::detail
