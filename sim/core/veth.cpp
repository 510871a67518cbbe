/*
 * veth pairs for serving the virtual bus on a real interface.
 */
#include "core/veth.h"

#include <fstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

int runCommand(const std::vector<std::string>& args)
{
    if (args.empty())
        return -1;
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        // Only the exit status counts; keep the tool's chatter ("Cannot find device") off the
        // terminal, the caller reports.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool VethPair::removeStale(const std::string& name)
{
    if (runCommand({"ip", "link", "show", name}) != 0)
        return true;
    return runCommand({"ip", "link", "del", name}) == 0;
}

VethPair::VethPair(const std::string& name)
    : name_(name)
{
    if (name.empty() || name.size() + 5 > 15) {
        error_ = "interface name \"" + name + "\" is empty or too long (at most 10 characters)";
        return;
    }
    if (runCommand({"ip", "link", "add", name, "type", "veth", "peer", "name", peer()}) != 0) {
        error_ = "cannot create veth pair " + name + "/" + peer() + " (root needed, or it exists)";
        return;
    }
    // Without an address the robot's end is not offered in the tool's interface list, so the
    // technician cannot pick the wrong end; best effort, a host without IPv6 gives none anyway.
    std::ofstream("/proc/sys/net/ipv6/conf/" + peer() + "/disable_ipv6") << "1\n";
    if (runCommand({"ip", "link", "set", name, "up"}) != 0
        || runCommand({"ip", "link", "set", peer(), "up"}) != 0) {
        error_ = "cannot bring up " + name + "/" + peer();
        runCommand({"ip", "link", "del", name});
        return;
    }
    ok_ = true;
}

VethPair::~VethPair()
{
    remove();
}

void VethPair::remove()
{
    if (!ok_)
        return;
    // Deleting one end removes both.
    runCommand({"ip", "link", "del", name_});
    ok_ = false;
}

} // namespace sim
