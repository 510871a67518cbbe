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
 */
#ifndef SIM_CORE_CHAIN_H
#define SIM_CORE_CHAIN_H

#include "core/clock.h"
#include "core/slave.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

enum class Port { Primary = 0, Secondary = 1 };

/* Frame losses on the wire, switchable by a test at any time. */
struct ChainFaults
{
    int loseNext = 0; /* the next n frames vanish before the first slave */
    int loseNextReplies = 0; /* the next n frames are processed, but the reply vanishes */
    int dropEvery = 0; /* every n-th frame vanishes before the first slave (0: none) */
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
    Chain(Chain &&) = default;
    Chain &operator=(Chain &&) = default;

    /* Append a slave behind the last one; returns it. */
    Slave &add(Slave slave);
    std::size_t size() const { return slaves_.size(); }
    /* Slave `number` (1-based, bus order); throws std::out_of_range for a wrong number. */
    Slave &slave(std::size_t number);

    Clock &clock() { return clock_; }
    ChainFaults &faults() { return faults_; }

    void setRing(bool ring);
    bool ring() const { return ring_; }
    /* Cut the cable behind slave k (0: in front of the first slave). */
    void breakAfter(std::size_t k);
    void repair();
    /* Signal delay per slave, for the distributed-clock receive times (default 100 ns). */
    void setHopDelayNs(std::uint32_t ns) { hopDelayNs_ = ns; }

    /* Run a frame sent on `entry` through the chain. Nothing comes back when the frame was lost,
     * when nothing is cabled to `entry` (the secondary port of a line, a cut in front of the
     * first slave), or when the frame is malformed (a real controller destroys such a frame). A
     * frame of another EtherType passes unchanged. An empty chain returns every frame unprocessed,
     * like a loopback plug. */
    std::optional<Delivery> process(Bytes frame, Port entry);

    /* Number of frames that went through `process`. */
    std::uint64_t frames() const { return frames_; }

private:
    std::size_t primaryReach() const;
    std::size_t secondaryStart() const;
    bool processRange(std::vector<DatagramView> &datagrams, std::size_t first, std::size_t last);
    void updateLinks();
    bool loseOnTheWay();

    std::vector<std::unique_ptr<Slave>> slaves_;
    Clock clock_;
    ChainFaults faults_;
    bool ring_ = false;
    std::optional<std::size_t> breakAfter_;
    std::uint32_t hopDelayNs_ = 100;
    std::uint64_t frames_ = 0;
    std::uint64_t dropCounter_ = 0;
};

} // namespace sim

#endif
