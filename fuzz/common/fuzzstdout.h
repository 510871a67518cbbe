/*
 * The master's and the application's progress lines would flood the fuzzer's log (libFuzzer
 * reports on standard error), so the targets send standard output to /dev/null.
 */
#ifndef FUZZ_COMMON_FUZZSTDOUT_H
#define FUZZ_COMMON_FUZZSTDOUT_H

#include <fcntl.h>
#include <unistd.h>

inline void fuzzSilenceStdout()
{
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

#endif
