/*
 * The in-process link: the cable between a test's master and a chain, without sockets or threads.
 *
 * Each frame sent is handed to the chain at once and the frame that comes back is queued on the
 * port it returns to, where `receive` finds it. Virtual time advances by a fixed amount per frame
 * sent and per receive that finds nothing, so a master that polls until a deadline reaches it
 * after a fixed number of polls, however fast the machine is.
 *
 * A test may decide the fate of each frame (FrameFate): a loaded host or a switch holds replies
 * back for a while, loses a request or its reply, or delivers a reply twice. Held-back replies
 * become visible when the virtual clock reaches them, and can overtake nothing sent earlier but
 * everything sent later. A host or switch may also hand a request to the bus twice, mirror the
 * master's own frame back to it, or garble a byte of a reply; and a second master may share the
 * wire, whose replies every master on it receives.
 */
#ifndef SIM_CORE_INPROCESSLINK_H
#define SIM_CORE_INPROCESSLINK_H

#include "core/chain.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

namespace sim {

struct LinkTiming
{
    std::uint32_t frameUs = 10; /* time a frame takes on the bus */
    std::uint32_t idlePollUs = 10; /* time a receive that finds nothing takes */
};

/* What becomes of one frame the master sends. */
struct FrameFate
{
    bool loseRequest = false; /* vanishes before the first slave */
    bool loseReply = false; /* the slaves process it, the reply vanishes */
    std::uint32_t delayUs = 0; /* the reply arrives this much later than usual */
    int copies = 1; /* the reply arrives this many times */
    bool repeatRequest = false; /* the chain gets the request twice; the first reply comes back */
    bool echo = false; /* the request itself comes back as sent, just before its reply */
    /* After the reply comes the reply to another master's request on the same wire: the same
     * frame under another frame index (high bit inverted). */
    bool otherMaster = false;
    int corruptAt = -1; /* this byte of the reply (if it has one) is inverted */
};

/* A reply as another master on the same wire would receive it for its own request. */
Bytes otherMastersReply(Bytes reply);

/* Chooses the fate of the `sequence`-th frame sent (from 0) on `frame`'s content. */
using FrameRule = std::function<FrameFate(const Bytes& frame, std::uint64_t sequence)>;

class InProcessLink
{
public:
    explicit InProcessLink(Chain& chain, LinkTiming timing = {});

    /* Send a frame on the master's `port`; its reply (if any) is queued at once. */
    void send(Port port, const Bytes& frame);
    /* The oldest frame ready on `port`, or nothing (the clock then advances by idlePollUs). */
    std::optional<Bytes> receive(Port port);
    /* Advance the clock until a frame is ready on `port`, at most by `us`: true when one is. */
    bool wait(Port port, std::uint64_t us);
    std::size_t waiting(Port port) const { return queues_[int(port)].size(); }
    /* Throw away whatever is waiting on both ports. */
    void flush();

    /* Decide the fate of every frame sent from now on; an empty rule delivers all at once. */
    void setRule(FrameRule rule) { rule_ = std::move(rule); }
    std::uint64_t framesSent() const { return sent_; }

    Chain& chain() { return chain_; }
    LinkTiming& timing() { return timing_; }

private:
    struct Queued
    {
        Bytes frame;
        std::uint64_t readyAt;
    };
    void enqueue(Port port, Bytes frame, std::uint64_t readyAt);

    Chain& chain_;
    LinkTiming timing_;
    std::deque<Queued> queues_[2];
    FrameRule rule_;
    std::uint64_t sent_ = 0;
};

} // namespace sim

#endif
