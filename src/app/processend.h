#pragma once

// Ends the process at once with `exitCode`, running no clean-up of its own
// or of its libraries: the end of a process in which an abandoned call into
// a system library may still run (boundedcall.h). On Windows that is
// TerminateProcess on itself, since ExitProcess runs each library's detach
// code, which can wait for good on a lock the abandoned call holds;
// _exit on the simulated machine.
void terminateProcess(int exitCode);
