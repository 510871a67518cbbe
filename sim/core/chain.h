/*
 * A chain of emulated slaves in bus order, with the cabling between them and the master's ports.
 *
 * `process` takes an Ethernet frame as the master sent it on one of its ports and returns it as it
 * comes back, and on which port, after every slave on its way has processed it:
 *
 *   - line (default): the last slave closes the loop; a frame sent on the primary port is
 *     processed by all slaves and returns on the primary port.
 *   - ring (`setRing(true)`): the last slave is cabled to the master's secondary port; a frame sent
 *     on the primary leaves on the secondary after all slaves, one sent on the secondary passes
 *     the slaves unprocessed and arrives on the primary.
 *   - broken (`breakAfter(k)`): the cable behind slave k is cut; a primary frame is processed by
 *     slaves 1..k and returns on the primary; in a ring a secondary frame is processed by slaves
 *     k+1..N and returns on the secondary.
 * A slave that is offline (`Slave::setOnline(false)`) cuts the chain in front of it likewise.
 *
 * Slaves are numbered from 1 in bus order, as the master numbers them. The chain owns its clock,
 * which the link advances.
 *
 * Branches: `add` cables a slave to port 1 of the slave before it; `attach` hangs one on port 1,
 * 2 or 3 of an earlier slave, so junctions and drops can be built. A frame enters a slave at port
 * 0, is processed there and leaves through the other linked ports in the order 3, 1, 2, each
 * branch handing it back before the next port is served, and finally returns through port 0: bus
 * order is this walk, and slaves must be added in it. Ring, cut and offline slaves are modelled on
 * bus order, as for a line: on a branched bus a cut or an offline slave hides every slave behind
 * it in bus order.
 *
 * Timing for the distributed clocks: every pass from one port of a slave to the next takes the
 * chain's forwarding delay, and every cable its own delay in each direction. The chain tells each
 * slave when a frame reaches its ports. A frame that enters a broken ring from the secondary end
 * is timed as reaching every slave when it was sent.
 *
 * Faults of one cable (`setCrcErrors`, `setLinkFlap`) are named by a slave's port, as a slave
 * counts them: port 0 is the cable from its parent (the master for slave 1), port n the cable to
 * the slave hung there. A damaged frame is counted as an invalid frame at the port it arrives on
 * and as a forwarded error at every port it reaches after that; slaves behind the damage keep
 * none of its writes (a controller takes them only once the frame checksum is right), and the
 * master never gets it back, as its network card drops it. A link that drops is counted as a lost
 * link at both its ends and hides the slaves behind it, like a cut, while it is down.
 */
#ifndef SIM_CORE_CHAIN_H
#define SIM_CORE_CHAIN_H

#include "core/clock.h"
#include "core/slave.h"

#include <array>
#include <map>
#include <cstddef>
#include <memory>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace sim {

enum class Port { Primary = 0, Secondary = 1 };

/* Frame losses on the wire, switchable by a test at any time. */
struct ChainFaults
{
    int loseNext = 0; /* the next n frames vanish before the first slave */
    int loseNextReplies = 0; /* the next n frames are processed, but the reply vanishes */
    int dropEvery = 0; /* every n-th frame vanishes before the first slave (0: none) */
    int lossPerMille = 0; /* each frame vanishes with this probability (in thousandths) ... */
    std::uint32_t lossSeed = 1; /* ... drawn from a generator with this seed (repeatable) */
};

struct Delivery
{
    Bytes frame;
    Port port;
};

class Chain
{
public:
    Chain() = default;
    Chain(Chain&&) = default;
    Chain& operator=(Chain&&) = default;

    /* Append a slave behind the last one (on its port 1); returns it. */
    Slave& add(Slave slave);
    /* Hang a slave on `port` (1, 2 or 3) of slave `parent`; returns it. It must be the next slave
     * in bus order: throws std::invalid_argument for a port that is taken, one the frame has
     * already passed on that slave, or a slave whose branches are already complete. */
    Slave& attach(Slave slave, std::size_t parent, int port);
    std::size_t size() const { return slaves_.size(); }
    /* Slave `number` (1-based, bus order); throws std::out_of_range for a wrong number. */
    Slave& slave(std::size_t number);

    Clock& clock() { return clock_; }
    ChainFaults& faults() { return faults_; }

    void setRing(bool ring);
    bool ring() const { return ring_; }
    /* Cut the cable behind slave k (0: in front of the first slave). */
    void breakAfter(std::size_t k);
    void repair();
    /* Time a frame takes from one port of a slave to the next, the same in every slave (default
     * 100 ns). */
    void setForwardDelayNs(std::uint32_t ns) { forwardDelayNs_ = ns; }
    /* Delay of the cable in front of slave `number`, each way (default 0); throws
     * std::out_of_range for a wrong number. */
    void setCableDelayNs(std::size_t number, std::uint32_t ns);
    /* Frames arriving at slave `number`'s `port` are damaged with the probability `perMille`
     * (thousandths), drawn from a generator with `seed` (repeatable). Only frames the master
     * sends on its primary port are damaged. Throws std::invalid_argument when nothing is cabled
     * to that port, std::out_of_range for a wrong slave number. */
    void setCrcErrors(std::size_t number, int port, int perMille, std::uint32_t seed = 1);
    /* The link on slave `number`'s `port` drops for `downUs` after every `upUs` it was up, from
     * now on. Throws as setCrcErrors. */
    void setLinkFlap(std::size_t number, int port, std::uint64_t downUs, std::uint64_t upUs);

    /* Bus time at which the last frame reached slave `number`'s port `port`, or nothing when it
     * did not reach it. */
    std::optional<std::uint64_t> lastArrival(std::size_t number, int port) const;

    /* Run a frame sent on `entry` through the chain. Nothing comes back when the frame was lost,
     * when nothing is cabled to `entry` (the secondary port of a line, a cut in front of the
     * first slave), or when the frame is malformed (a real controller destroys such a frame). A
     * frame of another EtherType passes unchanged. An empty chain returns every frame unprocessed,
     * like a loopback plug. */
    std::optional<Delivery> process(Bytes frame, Port entry);

    /* Number of frames that went through `process`, and of those lost on the wire (ChainFaults). */
    std::uint64_t frames() const { return frames_; }
    std::uint64_t lost() const { return lost_; }

private:
    /* Where a slave hangs: slave `parent` (0: the master) at `port`, through a cable. */
    struct Cable
    {
        std::size_t parent = 0;
        int port = 1;
        std::uint32_t delayNs = 0;
    };

    /* What is wrong with the cable to one slave. */
    struct CableFaults
    {
        int crcAwayPerMille = 0; /* frames from the master, counted at the slave's port 0 */
        int crcBackPerMille = 0; /* frames to the master, counted at the parent's port */
        std::uint64_t flapUpUs = 0;
        std::uint64_t flapDownUs = 0; /* 0: the link never drops */
        std::uint64_t flapFromUs = 0;
        std::uint64_t flapsCounted = 0;
    };

    std::size_t cableTo(std::size_t number, int port) const;
    bool cableDown(std::size_t number) const;
    void countLostLinks();
    void collectEntries(std::size_t number, std::size_t last,
        std::vector<std::pair<std::size_t, int>>& entries) const;
    bool damageOnTheWay(std::size_t last, std::size_t& processedTo);
    std::size_t primaryReach() const;
    std::size_t secondaryStart() const;
    bool processRange(std::vector<DatagramView>& datagrams, std::size_t first, std::size_t last);
    void updateLinks();
    bool loseOnTheWay();
    void timeFrame(std::size_t first, std::size_t last, bool fromPrimary);
    std::uint64_t walk(std::size_t number, std::uint64_t arrival, std::size_t last);
    bool cut(std::size_t number) const;

    std::vector<std::unique_ptr<Slave>> slaves_;
    std::vector<Cable> cables_;
    /* children_[n - 1][p]: the slave on port p of slave n, 0 for none. */
    std::vector<std::array<std::size_t, 4>> children_;
    std::vector<PortArrivals> arrivals_;
    Clock clock_;
    ChainFaults faults_;
    bool ring_ = false;
    std::optional<std::size_t> breakAfter_;
    std::uint32_t forwardDelayNs_ = 100;
    std::uint64_t frames_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t dropCounter_ = 0;
    std::mt19937 lossRandom_;
    std::optional<std::uint32_t> lossSeeded_;
    /* By the slave the cable leads to. */
    std::map<std::size_t, CableFaults> cableFaults_;
    std::mt19937 crcRandom_;
    /* The datagrams of the frame being processed; kept so that its memory serves every frame. */
    std::vector<DatagramView> datagrams_;
};

} // namespace sim

#endif
