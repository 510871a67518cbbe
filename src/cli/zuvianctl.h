// zuvianctl, the command-line program: the operator's jobs ("Check Version", "Write Firmware",
// "Write Parameters"), the parameter backup, restore and report, and diagnostics over the
// EtherCAT master's services, for workshops without a desktop and for scripts.
//
// The entry is a function so that the same code runs as the program and, in-process, in tests.
#ifndef ZUVIANCTL_H
#define ZUVIANCTL_H

#include <ostream>

// Runs one command line. The result (text, or one JSON document with --json) goes to `out`;
// progress, questions and error messages go to `err`. Returns the exit status: 0 success, 1 the
// job failed, 2 usage error, 3 the parameter report found differences, 130 interrupted by Ctrl-C
// or SIGTERM. A second Ctrl-C during a write ends the program at once; what it still has to say
// with --json then goes straight to `resultFd` (when not -1) instead of `out`.
int zuvianctl_main(int argc, char** argv, std::ostream& out, std::ostream& err, int resultFd = -1);

#endif // ZUVIANCTL_H
