/*
 * SimBus: the virtual bus plugged into the master's link and clock seams, for bus tests.
 *
 * Construct one at the start of a test (before ec_init); it installs an in-process link to its
 * chain and a clock backed by the chain's virtual clock (the master's sleeps advance it), and its
 * destructor puts the product's raw socket and system clock back. Only one may exist at a time.
 *
 *   SimBus bus("arm");                       // a registered layout, or:
 *   SimBus bus(SimBus::plainChain(3));       // any chain built in code
 *   ASSERT_GT(ec_init(SimBus::Primary), 0);  // "sim0"; the secondary port is "sim1"
 *   bus.slave(2).alFaults().refuse = sim::AlState::PreOp;
 *   bus.faults().loseNext = 1;
 *   bus.clock().nowUs();
 *
 * Interface names other than "sim0", "sim1" and those added with `addInterface` fail to open, as
 * a missing interface does. "sim0" is the chain's primary end, "sim1" its secondary end (cabled
 * only in a ring, see sim::Chain::setRing). A test that drives the window, where the operator
 * picks one of the host's interfaces, adds that name: `bus.addInterface("lo")`.
 *
 * SimBus needs no test framework: the fuzz targets and the benchmarks use it too. A fuzz target
 * whose scripted replies are used up would otherwise sit through the master's time-outs poll by
 * poll (a mailbox read polls every 200 µs for 700 ms); with `fastForward` on, every sleep, clock
 * reading and idle poll costs 64 times its length of virtual time, so the same deadlines pass after
 * a few dozen polls. The master's logic does not change: it only sees a clock. `limitFrames`
 * bounds a whole run.
 */
#ifndef TESTS_SUPPORT_SIMBUS_H
#define TESTS_SUPPORT_SIMBUS_H

#include "controller/controllerlayouts.h"
#include "core/chain.h"
#include "core/inprocesslink.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class SimBus
{
public:
    static constexpr const char* Primary = "sim0";
    static constexpr const char* Secondary = "sim1";

    explicit SimBus(sim::Chain chain, sim::LinkTiming timing = {});
    /* A registered layout (see sim/core/layouts.h); throws std::invalid_argument when unknown. */
    explicit SimBus(const std::string& layout, sim::LinkTiming timing = {});
    /* A bus of motor controllers, whose models `controller` reaches. */
    explicit SimBus(sim::ControllerBus bus, sim::LinkTiming timing = {});
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    sim::Chain& chain() { return chain_; }
    sim::Clock& clock() { return chain_.clock(); }
    sim::InProcessLink& link() { return link_; }
    sim::ChainFaults& faults() { return chain_.faults(); }
    /* Slave `number`, 1-based as in the master's slave table. */
    sim::Slave& slave(std::size_t number) { return chain_.slave(number); }

    /* The motor controller at bus position `position`; throws std::out_of_range elsewhere. */
    sim::MotorController& controller(std::size_t position) const;
    /* The bus positions that hold a motor controller, ascending. */
    std::vector<int> controllerPositions() const;

    /* Let the master reach the chain's `end` also under interface name `name`. */
    void addInterface(const std::string& name, sim::Port end = sim::Port::Primary);

    /* Number of handles the master holds open (0 after ec_close). */
    int openHandles() const { return (open_[0] ? 1 : 0) + (open_[1] ? 1 : 0); }

    void fastForward(bool on);

    /* Bound what a run may cost, for the fuzz targets: after `frames` more frames the cable is
     * pulled (frames vanish) and every clock reading, sleep and idle poll moves virtual time on by
     * a second, so whatever the master still waits for ends after a poll or two. The master sees
     * a bus that went away, nothing it would not see on a real wire. 0 lifts the bound. */
    void limitFrames(std::uint64_t frames);
    /* Frames sent since the last limitFrames. */
    std::uint64_t framesSinceLimit() const { return sinceLimit_; }

    /* A line of `n` plain slaves without mailbox. */
    static sim::Chain plainChain(std::size_t n);

private:
    void install();
    static int open(void* ctx, const char* ifname, int port);
    static int send(void* ctx, int handle, const void* frame, int len);
    static int recv(void* ctx, int handle, void* buf, int size);
    static void close(void* ctx, int handle);
    static int wait(void* ctx, int handle, int usec);
    static std::int64_t now(void* ctx);
    static void sleep(void* ctx, std::uint32_t usec);

    sim::Chain chain_;
    sim::InProcessLink link_;
    /* The models only; the chain is chain_. */
    sim::ControllerBus models_;
    std::map<std::string, sim::Port> interfaces_{
        {Primary, sim::Port::Primary}, {Secondary, sim::Port::Secondary}};
    bool open_[2] = {false, false};
    std::uint32_t pace_ = 1;
    std::uint64_t budget_ = 0;
    std::uint64_t sinceLimit_ = 0;
    bool overBudget() const { return budget_ != 0 && sinceLimit_ > budget_; }
};

#endif
