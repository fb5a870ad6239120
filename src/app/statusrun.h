#pragma once

// The status mode: "status" or "status --json" reports whether DNS is
// switched to the VPN and exits with the state's code (dnsstatus.h). It
// changes nothing: it starts no logger, creates no vendor folder and no run
// lock, repairs and sets aside nothing, writes no file and runs no netsh.

// True when the first word of the command line is "status".
bool asksForStatus(int argc, char **argv);

// From now on, the process's warnings go to standard error and its other
// messages nowhere: the status mode's in place of the log. The answer's
// "warnings" count from here.
void sendWarningsToStandardError();

// Runs the status mode and returns its exit code; -1, having done nothing,
// when other words follow "status" than a lone "--json".
int runStatus(int argc, char **argv);
