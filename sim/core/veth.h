/*
 * A veth pair created for the lifetime of an object: NAME for the master, NAME-peer for the
 * simulator, both brought up. The pair is removed when the object is destroyed. Needs root (the
 * `ip` command is used).
 */
#ifndef SIM_CORE_VETH_H
#define SIM_CORE_VETH_H

#include <string>
#include <vector>

namespace sim {

class VethPair
{
public:
    /* Create NAME and NAME-peer; check `ok()` and `error()` afterwards. */
    explicit VethPair(const std::string& name);
    ~VethPair();
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }
    std::string peer() const { return name_ + "-peer"; }
    /* Remove the pair now (also done by the destructor). */
    void remove();

    /* Remove a pair left over by an earlier run; true when there was none or it was removed. */
    static bool removeStale(const std::string& name);

private:
    std::string name_;
    std::string error_;
    bool ok_ = false;
};

/* Run a command given as arguments (no shell, output discarded); its exit status, or -1 when it
 * could not run. */
int runCommand(const std::vector<std::string>& args);

} // namespace sim

#endif
