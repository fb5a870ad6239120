#pragma once

// How long after taking the run lock this run may still start a system
// command: runDeadlineMs (runlock.h) on Windows. On the simulated machine a
// test may shorten it with the file ROOT/run-deadline-ms, which holds the
// milliseconds, so that a run that reaches its deadline takes seconds.
int runDeadlineMsOnThisMachine();
