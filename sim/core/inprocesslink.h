/*
 * The in-process link: the cable between a test's master and a chain, without sockets or threads.
 *
 * Each frame sent is handed to the chain at once and the frame that comes back is queued on the
 * port it returns to, where `receive` finds it. Virtual time advances by a fixed amount per frame
 * sent and per receive that finds nothing, so a master that polls until a deadline reaches it
 * after a fixed number of polls, however fast the machine is.
 */
#ifndef SIM_CORE_INPROCESSLINK_H
#define SIM_CORE_INPROCESSLINK_H

#include "core/chain.h"

#include <cstdint>
#include <deque>
#include <optional>

namespace sim {

struct LinkTiming
{
    std::uint32_t frameUs = 10; /* time a frame takes on the bus */
    std::uint32_t idlePollUs = 10; /* time a receive that finds nothing takes */
};

class InProcessLink
{
public:
    explicit InProcessLink(Chain &chain, LinkTiming timing = {});

    /* Send a frame on the master's `port`; its reply (if any) is queued at once. */
    void send(Port port, const Bytes &frame);
    /* The oldest frame waiting on `port`, or nothing (the clock then advances by idlePollUs). */
    std::optional<Bytes> receive(Port port);
    std::size_t waiting(Port port) const { return queues_[int(port)].size(); }
    /* Throw away whatever is waiting on both ports. */
    void flush();

    Chain &chain() { return chain_; }
    LinkTiming &timing() { return timing_; }

private:
    Chain &chain_;
    LinkTiming timing_;
    std::deque<Bytes> queues_[2];
};

} // namespace sim

#endif
