/*
 * In-process link between a master under test and a chain.
 */
#include "core/inprocesslink.h"

namespace sim {

InProcessLink::InProcessLink(Chain& chain, LinkTiming timing)
    : chain_(chain)
    , timing_(timing)
{}

void InProcessLink::send(Port port, const Bytes& frame)
{
    const FrameFate fate = rule_ ? rule_(frame, sent_) : FrameFate{};
    ++sent_;
    chain_.clock().advance(timing_.frameUs);
    if (fate.loseRequest)
        return;
    auto reply = chain_.process(frame, port);
    if (fate.repeatRequest)
        chain_.process(frame, port);
    if (fate.echo)
        enqueue(port, frame, chain_.clock().nowUs());
    if (!reply || fate.loseReply)
        return;
    if (fate.corruptAt >= 0 && std::size_t(fate.corruptAt) < reply->frame.size())
        reply->frame[std::size_t(fate.corruptAt)] ^= 0xFF;
    const std::uint64_t readyAt = chain_.clock().nowUs() + fate.delayUs;
    for (int i = 0; i < fate.copies; ++i)
        enqueue(reply->port, reply->frame, readyAt);
    if (fate.otherMaster)
        enqueue(reply->port, otherMastersReply(reply->frame), readyAt);
}

Bytes otherMastersReply(Bytes reply)
{
    constexpr std::size_t indexAt = 14 + 3; // Ethernet header, elength, command
    if (reply.size() > indexAt)
        reply[indexAt] ^= 0x80;
    return reply;
}

/* Kept in order of readiness; equal times keep the order they were sent in. */
void InProcessLink::enqueue(Port port, Bytes frame, std::uint64_t readyAt)
{
    std::deque<Queued>& q = queues_[int(port)];
    auto at = q.end();
    while (at != q.begin() && std::prev(at)->readyAt > readyAt)
        --at;
    q.insert(at, Queued{std::move(frame), readyAt});
}

std::optional<Bytes> InProcessLink::receive(Port port)
{
    std::deque<Queued>& q = queues_[int(port)];
    if (q.empty() || q.front().readyAt > chain_.clock().nowUs()) {
        chain_.clock().advance(timing_.idlePollUs);
        return std::nullopt;
    }
    Bytes frame = std::move(q.front().frame);
    q.pop_front();
    return frame;
}

bool InProcessLink::wait(Port port, std::uint64_t us)
{
    const std::deque<Queued>& q = queues_[int(port)];
    const std::uint64_t now = chain_.clock().nowUs();
    if (!q.empty() && q.front().readyAt <= now)
        return true;
    if (!q.empty() && q.front().readyAt - now <= us) {
        chain_.clock().advance(q.front().readyAt - now);
        return true;
    }
    chain_.clock().advance(us);
    return false;
}

void InProcessLink::flush()
{
    queues_[0].clear();
    queues_[1].clear();
}

} // namespace sim
