// Program entry of zuvianctl. Here standard output carries only the command's result (one JSON
// document with --json). The jobs' lines, the firmware writer's among them, reach standard error
// through the jobs' signals; but the master and the axis service print their own diagnostic lines
// (a command not confirmed, a bring-up that failed, "parameters are written") straight onto
// standard output, as the window shows them. Standard output is therefore pointed at standard
// error for the whole run, and the result goes to the original standard output.
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
