/*
 * Serves a chain on a real network interface through a raw packet socket (EtherType 0x88A4).
 *
 * Every EtherCAT frame that arrives from the master is run through the chain and the result is
 * sent back on the same interface. Frames this socket sent itself are seen again by a packet
 * socket and are ignored, so the simulator never answers its own replies. The chain's virtual clock
 * follows the wall clock while serving. Each frame's processing is timed (see ProcessingTimes).
 */
#ifndef SIM_CORE_RAWSERVER_H
#define SIM_CORE_RAWSERVER_H

#include "core/chain.h"
#include "core/inprocesslink.h"
#include "core/processingtimes.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <string>

namespace sim {

class RawServer
{
public:
    /* Open the socket on `ifname`; check `ok()` and `error()` afterwards. */
    explicit RawServer(const std::string& ifname);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

    /* Wait up to `timeoutMs` for one frame from the master and answer it. Returns true when a
     * frame was answered. */
    bool serveOne(Chain& chain, int timeoutMs);
    /* Serve until `stop` becomes true (checked at least every 100 ms). */
    void serve(Chain& chain, const std::atomic<bool>& stop);
    std::uint64_t answered() const { return answered_; }
    /* From a frame received to its reply handed to the kernel; and the kernel's send call after
     * it. A reply a fault holds back is timed to the moment it is put aside. */
    const ProcessingTimes& processing() const { return processing_; }
    const ProcessingTimes& sending() const { return sending_; }
    /* Spin on the socket instead of sleeping in poll() until a frame comes: the kernel's wake-up
     * leaves the round trip, at the price of a whole CPU. For benchmarks only. */
    void setSpin(bool spin) { spin_ = spin; }
    /* Decide the fate of every frame from now on, as on the in-process link (a delay holds the
     * reply back in wall-clock time). */
    void setRule(FrameRule rule) { rule_ = std::move(rule); }

private:
    bool receive(Bytes& frame, int timeoutMs);

    int fd_ = -1;
    bool spin_ = false;
    ProcessingTimes processing_;
    ProcessingTimes sending_;
    Bytes frame_ = Bytes(MaxFrameSize + 4);
    int ifindex_ = 0;
    std::string error_;
    std::uint64_t answered_ = 0;
    FrameRule rule_;
    std::uint64_t sent_ = 0;
    struct Held
    {
        Bytes frame;
        std::chrono::steady_clock::time_point due;
    };
    std::deque<Held> held_;
    void sendDue();
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace sim

#endif
