/*
 * A chain of emulated slaves: cabling, frame losses and the walk of a frame through the slaves.
 */
#include "core/chain.h"

#include <stdexcept>

namespace sim {

Slave &Chain::add(Slave slave)
{
    slaves_.push_back(std::make_unique<Slave>(std::move(slave)));
    return *slaves_.back();
}

Slave &Chain::slave(std::size_t number)
{
    if (number == 0 || number > slaves_.size())
        throw std::out_of_range("no slave " + std::to_string(number) + " on a bus of " + std::to_string(slaves_.size()));
    return *slaves_[number - 1];
}

void Chain::setRing(bool ring)
{
    ring_ = ring;
}

void Chain::breakAfter(std::size_t k)
{
    breakAfter_ = k;
}

void Chain::repair()
{
    breakAfter_.reset();
}

/* Slaves 1..result are reachable from the primary port. */
std::size_t Chain::primaryReach() const
{
    std::size_t reach = breakAfter_ ? std::min(*breakAfter_, slaves_.size()) : slaves_.size();
    for (std::size_t i = 0; i < reach; ++i)
        if (!slaves_[i]->online())
            return i;
    return reach;
}

/* Slaves result..N (1-based) are reachable from the secondary port of a ring. */
std::size_t Chain::secondaryStart() const
{
    std::size_t start = breakAfter_ ? *breakAfter_ + 1 : 1;
    for (std::size_t i = slaves_.size(); i >= start && i >= 1; --i)
        if (!slaves_[i - 1]->online())
            return i + 1;
    return start;
}

void Chain::updateLinks()
{
    const std::size_t n = slaves_.size();
    for (std::size_t i = 1; i <= n; ++i) {
        const bool cut = breakAfter_ && *breakAfter_ == i;
        const bool next = i < n ? slaves_[i]->online() && !cut : ring_ && !cut;
        slaves_[i - 1]->esc().setPortLinks(std::uint8_t(0x01 | (next ? 0x02 : 0x00)));
    }
}

bool Chain::loseOnTheWay()
{
    if (faults_.loseNext > 0) {
        --faults_.loseNext;
        return true;
    }
    if (faults_.dropEvery > 0 && ++dropCounter_ % std::uint64_t(faults_.dropEvery) == 0)
        return true;
    return false;
}

bool Chain::processRange(std::vector<DatagramView> &datagrams, std::size_t first, std::size_t last)
{
    const std::uint64_t t0 = clock_.nowNs();
    const std::size_t count = last - first + 1;
    bool lose = false;
    for (std::size_t i = first; i <= last; ++i) {
        Slave &s = *slaves_[i - 1];
        const std::size_t hop = i - first;
        s.esc().setLatchTimes(t0 + hop * hopDelayNs_, t0 + (2 * (count - 1) - hop) * hopDelayNs_);
        for (DatagramView &d : datagrams)
            s.processDatagram(d, clock_.nowUs());
        lose = s.endFrame(clock_.nowUs()) || lose;
    }
    return lose;
}

std::optional<Delivery> Chain::process(Bytes frame, Port entry)
{
    ++frames_;
    if (loseOnTheWay())
        return std::nullopt;
    const std::size_t n = slaves_.size();
    if (entry == Port::Secondary && !ring_)
        return std::nullopt;
    if (n == 0)
        return Delivery{std::move(frame), entry};

    updateLinks();
    const std::size_t reach = primaryReach();
    const bool intact = reach == n;
    std::size_t first = 1, last = reach;
    Port exit = Port::Primary;
    if (entry == Port::Primary) {
        if (reach == 0)
            return std::nullopt;
        exit = intact && ring_ ? Port::Secondary : Port::Primary;
    } else {
        if (intact)
            return Delivery{std::move(frame), Port::Primary}; // passes the return path untouched
        first = secondaryStart();
        last = n;
        exit = Port::Secondary;
        if (first > last)
            return std::nullopt;
    }
    if (!isEthercatFrame(frame))
        return Delivery{std::move(frame), exit};
    auto datagrams = parseFrame(frame);
    if (!datagrams)
        return std::nullopt;
    const bool lose = processRange(*datagrams, first, last);
    if (lose)
        return std::nullopt;
    if (faults_.loseNextReplies > 0) {
        --faults_.loseNextReplies;
        return std::nullopt;
    }
    return Delivery{std::move(frame), exit};
}

} // namespace sim
