#pragma once

// A bound of a run that a test may lower on the simulated machine, so that a
// run reaches it in seconds rather than after minutes or thousands of
// interfaces: `bound` on Windows; on the simulated machine the number in the
// file ROOT/`name` where that file holds one (such as "run-deadline-ms").
int boundOnThisMachine(const char *name, int bound);
