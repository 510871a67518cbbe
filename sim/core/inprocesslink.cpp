/*
 * In-process link between a master under test and a chain.
 */
#include "core/inprocesslink.h"

namespace sim {

InProcessLink::InProcessLink(Chain &chain, LinkTiming timing) : chain_(chain), timing_(timing) {}

void InProcessLink::send(Port port, const Bytes &frame)
{
    chain_.clock().advance(timing_.frameUs);
    if (auto reply = chain_.process(frame, port))
        queues_[int(reply->port)].push_back(std::move(reply->frame));
}

std::optional<Bytes> InProcessLink::receive(Port port)
{
    std::deque<Bytes> &q = queues_[int(port)];
    if (q.empty()) {
        chain_.clock().advance(timing_.idlePollUs);
        return std::nullopt;
    }
    Bytes frame = std::move(q.front());
    q.pop_front();
    return frame;
}

void InProcessLink::flush()
{
    queues_[0].clear();
    queues_[1].clear();
}

} // namespace sim
