// kelvane-sim --replay: the machine answers as a recorded one did (see link/TraceReader.h).
#pragma once

#include <csignal>
#include <string>

// Opens a pseudo-terminal, prints its device path as the first line of standard output and
// plays the trace on it: the program's bytes are compared with the recorded sent bytes as one
// stream (chunking may differ), and each recorded received chunk goes out once the program
// has sent what came before it, after the recorded pause. A difference is told on standard
// error (trace line, offset, expected and got) and the machine falls silent.
// Runs until one of stopSignals (blocked by the caller) arrives: a program that goes on after
// the trace's end is a difference too. Returns 0 when the program sent exactly the
// recorded bytes, 1 on a difference or a program that stopped early, 2 for a trace that
// cannot be read or a pseudo-terminal that cannot be opened.
int RunReplay(const std::string& tracePath, const sigset_t& stopSignals);
