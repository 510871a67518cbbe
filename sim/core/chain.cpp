/*
 * A chain of emulated slaves: cabling, frame losses and the walk of a frame through the slaves.
 */
#include "core/chain.h"

#include <stdexcept>

namespace sim {

namespace {
/* The ports a frame leaves a slave through after processing, in the order it uses them. */
constexpr int OnwardPorts[] = {3, 1, 2};

int passIndex(int port)
{
    for (int k = 0; k < 3; ++k)
        if (OnwardPorts[k] == port)
            return k;
    return -1;
}
} // namespace

Slave& Chain::add(Slave slave)
{
    if (slaves_.empty()) {
        slaves_.push_back(std::make_unique<Slave>(std::move(slave)));
        cables_.push_back(Cable{});
        children_.push_back({});
        arrivals_.push_back({});
        return *slaves_.back();
    }
    return attach(std::move(slave), slaves_.size(), 1);
}

Slave& Chain::attach(Slave slave, std::size_t parent, int port)
{
    if (parent == 0 || parent > slaves_.size() || passIndex(port) < 0)
        throw std::invalid_argument(
            "no port " + std::to_string(port) + " of slave " + std::to_string(parent));
    // The new slave is next in bus order only if the parent lies on the way back from the last
    // slave and the frame has not yet left it through this port or a later one.
    bool onTheWayBack = false;
    for (std::size_t n = slaves_.size(); n != 0; n = cables_[n - 1].parent)
        onTheWayBack = onTheWayBack || n == parent;
    const std::array<std::size_t, 4>& used = children_[parent - 1];
    bool passed = false;
    for (int p : OnwardPorts)
        passed = passed || (used[std::size_t(p)] != 0 && passIndex(p) >= passIndex(port));
    if (!onTheWayBack || passed)
        throw std::invalid_argument("slave " + std::to_string(slaves_.size() + 1) + " on port "
            + std::to_string(port) + " of slave " + std::to_string(parent)
            + " would not be next in bus order");
    slaves_.push_back(std::make_unique<Slave>(std::move(slave)));
    cables_.push_back(Cable{parent, port, 0});
    children_.push_back({});
    arrivals_.push_back({});
    children_[parent - 1][std::size_t(port)] = slaves_.size();
    return *slaves_.back();
}

/* The slave at the far end of the cable on slave `number`'s `port`, or 0 when nothing hangs
 * there. */
std::size_t Chain::cableTo(std::size_t number, int port) const
{
    if (number == 0 || number > slaves_.size())
        throw std::out_of_range("no slave " + std::to_string(number) + " on a bus of "
            + std::to_string(slaves_.size()));
    if (port == 0)
        return number;
    if (passIndex(port) < 0 || children_[number - 1][std::size_t(port)] == 0)
        throw std::invalid_argument("nothing is cabled to port " + std::to_string(port)
            + " of slave " + std::to_string(number));
    return children_[number - 1][std::size_t(port)];
}

void Chain::setCrcErrors(std::size_t number, int port, int perMille, std::uint32_t seed)
{
    CableFaults& faults = cableFaults_[cableTo(number, port)];
    (port == 0 ? faults.crcAwayPerMille : faults.crcBackPerMille) = perMille;
    crcRandom_.seed(seed);
}

void Chain::setLinkFlap(std::size_t number, int port, std::uint64_t downUs, std::uint64_t upUs)
{
    CableFaults& faults = cableFaults_[cableTo(number, port)];
    faults.flapDownUs = downUs;
    faults.flapUpUs = upUs;
    faults.flapFromUs = clock_.nowUs();
    faults.flapsCounted = 0;
}

/* True while the cable to slave `number` has dropped its link. */
bool Chain::cableDown(std::size_t number) const
{
    const auto it = cableFaults_.find(number);
    if (it == cableFaults_.end() || it->second.flapDownUs == 0)
        return false;
    const CableFaults& f = it->second;
    const std::uint64_t period = f.flapUpUs + f.flapDownUs;
    return (clock_.nowUs() - f.flapFromUs) % period >= f.flapUpUs;
}

/* A controller counts every drop of a link, whether a frame passes or not: the drops since the
 * last look are counted at once, at both ends of the cable. */
void Chain::countLostLinks()
{
    for (auto& [number, f] : cableFaults_) {
        if (f.flapDownUs == 0)
            continue;
        const std::uint64_t since = clock_.nowUs() - f.flapFromUs;
        const std::uint64_t drops
            = since < f.flapUpUs ? 0 : (since - f.flapUpUs) / (f.flapUpUs + f.flapDownUs) + 1;
        for (; f.flapsCounted < drops; ++f.flapsCounted) {
            slaves_[number - 1]->esc().count(PortCounter::LostLink, 0);
            const Cable& cable = cables_[number - 1];
            if (cable.parent != 0)
                slaves_[cable.parent - 1]->esc().count(PortCounter::LostLink, cable.port);
        }
    }
}

/* The ports a frame entering slave `number` enters on its walk through the slaves up to `last`,
 * in order: port 0 of each slave, and each port a branch hands it back on. */
void Chain::collectEntries(
    std::size_t number, std::size_t last, std::vector<std::pair<std::size_t, int>>& entries) const
{
    entries.emplace_back(number, 0);
    for (int p : OnwardPorts) {
        const std::size_t c = children_[number - 1][std::size_t(p)];
        if (c == 0 || c > last || !slaves_[c - 1]->online() || cut(c))
            continue;
        collectEntries(c, last, entries);
        entries.emplace_back(number, p);
    }
}

/* Draws whether the frame is damaged on its walk through slaves 1..`last` and counts it; true
 * when it was. `processedTo` is the last slave (in bus order) that the frame reached intact. */
bool Chain::damageOnTheWay(std::size_t last, std::size_t& processedTo)
{
    std::vector<std::pair<std::size_t, int>> entries;
    collectEntries(1, last, entries);
    bool damaged = false;
    processedTo = 0;
    for (const auto& [number, port] : entries) {
        Esc& esc = slaves_[number - 1]->esc();
        if (damaged) {
            esc.count(PortCounter::ForwardedRxError, port);
            continue;
        }
        const std::size_t far = port == 0 ? number : children_[number - 1][std::size_t(port)];
        const auto it = cableFaults_.find(far);
        const int perMille = it == cableFaults_.end() ? 0
            : port == 0                               ? it->second.crcAwayPerMille
                                                      : it->second.crcBackPerMille;
        if (perMille > 0 && int(crcRandom_() % 1000) < perMille) {
            esc.count(PortCounter::InvalidFrame, port);
            damaged = true;
        } else if (port == 0) {
            processedTo = number;
        }
    }
    return damaged;
}

void Chain::setCableDelayNs(std::size_t number, std::uint32_t ns)
{
    slave(number);
    cables_[number - 1].delayNs = ns;
}

std::optional<std::uint64_t> Chain::lastArrival(std::size_t number, int port) const
{
    if (number == 0 || number > slaves_.size() || port < 0 || port > 3)
        return std::nullopt;
    return arrivals_[number - 1][std::size_t(port)];
}

Slave& Chain::slave(std::size_t number)
{
    if (number == 0 || number > slaves_.size())
        throw std::out_of_range("no slave " + std::to_string(number) + " on a bus of "
            + std::to_string(slaves_.size()));
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
        if (!slaves_[i]->online() || cableDown(i + 1))
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

/* True when the cable in front of slave `number` is cut (the cut behind its predecessor), or its
 * link is down. */
bool Chain::cut(std::size_t number) const
{
    return (breakAfter_ && *breakAfter_ + 1 == number) || cableDown(number);
}

void Chain::updateLinks()
{
    const std::size_t n = slaves_.size();
    for (std::size_t i = 1; i <= n; ++i) {
        std::uint8_t links = 0x01;
        for (int p : OnwardPorts) {
            const std::size_t c = children_[i - 1][std::size_t(p)];
            if (c != 0 && slaves_[c - 1]->online() && !cut(c))
                links = std::uint8_t(links | (1u << p));
        }
        // In a ring the last slave's port 1 is cabled to the master's secondary port.
        if (i == n && ring_ && children_[i - 1][1] == 0 && !cut(n + 1))
            links = std::uint8_t(links | 0x02);
        slaves_[i - 1]->esc().setPortLinks(links);
    }
}

/* Time the frame from slave `number`'s port 0 on, where it arrives at `arrival`, through the
 * branches behind it (slaves up to `last`): the bus time at which it leaves through port 0. */
std::uint64_t Chain::walk(std::size_t number, std::uint64_t arrival, std::size_t last)
{
    PortArrivals& at = arrivals_[number - 1];
    at[0] = arrival;
    std::uint64_t t = arrival;
    for (int p : OnwardPorts) {
        const std::size_t c = children_[number - 1][std::size_t(p)];
        if (c == 0 || c > last || !slaves_[c - 1]->online() || cut(c))
            continue;
        const std::uint64_t cable = cables_[c - 1].delayNs;
        const std::uint64_t back = walk(c, t + forwardDelayNs_ + cable, last);
        t = back + cable;
        at[std::size_t(p)] = t;
    }
    return t + forwardDelayNs_;
}

void Chain::timeFrame(std::size_t first, std::size_t last, bool fromPrimary)
{
    const std::uint64_t t0 = clock_.nowNs();
    for (PortArrivals& a : arrivals_)
        a = PortArrivals{};
    if (fromPrimary) {
        walk(1, t0 + cables_[0].delayNs, last);
    } else {
        for (std::size_t i = first; i <= last; ++i)
            arrivals_[i - 1][0] = t0;
    }
    for (std::size_t i = first; i <= last; ++i)
        slaves_[i - 1]->esc().setFrameArrivals(arrivals_[i - 1]);
}

bool Chain::loseOnTheWay()
{
    if (faults_.loseNext > 0) {
        --faults_.loseNext;
        return true;
    }
    if (faults_.dropEvery > 0 && ++dropCounter_ % std::uint64_t(faults_.dropEvery) == 0)
        return true;
    if (faults_.lossPerMille <= 0)
        return false;
    if (lossSeeded_ != faults_.lossSeed) {
        lossRandom_.seed(faults_.lossSeed);
        lossSeeded_ = faults_.lossSeed;
    }
    return int(lossRandom_() % 1000) < faults_.lossPerMille;
}

bool Chain::processRange(std::vector<DatagramView>& datagrams, std::size_t first, std::size_t last)
{
    bool lose = false;
    for (std::size_t i = first; i <= last; ++i) {
        Slave& s = *slaves_[i - 1];
        for (DatagramView& d : datagrams)
            s.processDatagram(d, clock_.nowUs());
        lose = s.endFrame(clock_.nowUs()) || lose;
    }
    return lose;
}

std::optional<Delivery> Chain::process(Bytes frame, Port entry)
{
    ++frames_;
    if (loseOnTheWay()) {
        ++lost_;
        return std::nullopt;
    }
    const std::size_t n = slaves_.size();
    if (entry == Port::Secondary && !ring_)
        return std::nullopt;
    if (n == 0)
        return Delivery{std::move(frame), entry};

    for (auto& slave : slaves_)
        slave->wake(clock_.nowUs());
    if (!cableFaults_.empty())
        countLostLinks();
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
    if (!parseFrame(frame, datagrams_))
        return std::nullopt;
    timeFrame(first, last, entry == Port::Primary);
    std::size_t processedTo = last;
    const bool damaged
        = !cableFaults_.empty() && entry == Port::Primary && damageOnTheWay(last, processedTo);
    const bool lose = processRange(datagrams_, first, processedTo);
    datagrams_.clear(); // they point into this frame
    if (lose || damaged)
        return std::nullopt;
    if (faults_.loseNextReplies > 0) {
        --faults_.loseNextReplies;
        return std::nullopt;
    }
    return Delivery{std::move(frame), exit};
}

} // namespace sim
