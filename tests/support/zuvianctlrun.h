// zuvianctl run inside the test's own process, on the virtual bus the test set up: its exit status,
// its standard output and standard error.
#pragma once

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "zuvianctl.h"

struct ZuvianctlRun
{
    int status = -1;
    std::string out;
    std::string err;
    // Standard output as JSON; a discarded value when it is none, so that any look into it fails.
    nlohmann::json doc() const { return nlohmann::json::parse(out, nullptr, false); }
};

// `args` without the program's name.
inline ZuvianctlRun runZuvianctl(std::vector<std::string> args)
{
    args.insert(args.begin(), "zuvianctl");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    std::ostringstream out;
    std::ostringstream err;
    ZuvianctlRun result;
    result.status = zuvianctl_main(int(argv.size()), argv.data(), out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
}
