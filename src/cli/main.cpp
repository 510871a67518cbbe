// Program entry of zuvianctl. The master and the jobs print their diagnostic lines on standard
// output; here standard output carries only the command's result (one JSON document with --json),
// so those lines are sent to standard error and the result to the original standard output.
#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <sstream>

#include <unistd.h>

#include "zuvianctl.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::fflush(stdout);
    const int resultFd = dup(STDOUT_FILENO);
    if (resultFd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("zuvianctl: standard output");
        return 1;
    }
    std::ostringstream result;
    const int status = zuvianctl_main(argc, argv, result, std::cerr, resultFd);
    std::fflush(stdout);
    const std::string text = result.str();
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(resultFd, text.data() + written, text.size() - written);
        if (n <= 0) {
            std::perror("zuvianctl: standard output");
            return 1;
        }
        written += size_t(n);
    }
    close(resultFd);
    return status;
}
