/*
 * SimBus: the master's link and clock seams connected to a virtual bus.
 */
#include "simbus.h"

#include "core/layouts.h"

#include "eclink.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
constexpr std::uint32_t FastPace = 64;
/* How far each clock reading, sleep and idle poll moves virtual time once a run is over its
 * frame budget: longer than every wait of the master but a state change's and a restart's, which
 * pass in a few such steps. */
constexpr std::uint64_t OverBudgetStepUs = 1000000;

sim::Chain layoutChain(const std::string& name)
{
    auto chain = sim::layouts().build(name);
    if (!chain)
        throw std::invalid_argument("unknown bus layout \"" + name + "\"");
    return std::move(*chain);
}
} // namespace

SimBus::SimBus(sim::Chain chain, sim::LinkTiming timing)
    : chain_(std::move(chain))
    , link_(chain_, timing)
{
    install();
}

SimBus::SimBus(sim::ControllerBus bus, sim::LinkTiming timing)
    : SimBus(std::move(bus.chain), timing)
{
    models_.controllers = std::move(bus.controllers);
}

SimBus::SimBus(const std::string& layout, sim::LinkTiming timing)
    : SimBus(layoutChain(layout), timing)
{}

SimBus::~SimBus()
{
    ec_setlink(nullptr);
    ec_setclock(nullptr);
}

sim::Chain SimBus::plainChain(std::size_t n)
{
    sim::Chain chain;
    for (std::size_t i = 1; i <= n; ++i)
        chain.add(sim::makePlainSlave(i));
    return chain;
}

sim::MotorController& SimBus::controller(std::size_t position) const
{
    return models_.controller(position);
}

std::vector<int> SimBus::controllerPositions() const
{
    std::vector<int> positions;
    for (std::size_t position = 0; position < models_.controllers.size(); ++position) {
        if (models_.controllers[position])
            positions.push_back(int(position));
    }
    return positions;
}

void SimBus::addInterface(const std::string& name, sim::Port end)
{
    interfaces_[name] = end;
}

void SimBus::fastForward(bool on)
{
    const std::uint32_t idle = link_.timing().idlePollUs / pace_;
    pace_ = on ? FastPace : 1;
    link_.timing().idlePollUs = idle * pace_;
}

void SimBus::limitFrames(std::uint64_t frames)
{
    budget_ = frames;
    sinceLimit_ = 0;
}

void SimBus::install()
{
    ec_linkt link{};
    link.ctx = this;
    link.open = &SimBus::open;
    link.send = &SimBus::send;
    link.recv = &SimBus::recv;
    link.close = &SimBus::close;
    link.wait = &SimBus::wait;
    ec_setlink(&link);
    ec_clockt clock{};
    clock.ctx = this;
    clock.now = &SimBus::now;
    clock.sleep = &SimBus::sleep;
    ec_setclock(&clock);
}

int SimBus::open(void* ctx, const char* ifname, int /*port*/)
{
    auto* bus = static_cast<SimBus*>(ctx);
    if (ifname == nullptr)
        return -1;
    // The interface decides which end of the chain the master is cabled to.
    const auto it = bus->interfaces_.find(ifname);
    if (it == bus->interfaces_.end())
        return -1;
    const int end = int(it->second);
    bus->open_[end] = true;
    return end;
}

int SimBus::send(void* ctx, int handle, const void* frame, int len)
{
    auto* bus = static_cast<SimBus*>(ctx);
    if (handle < 0 || handle > 1 || !bus->open_[handle] || frame == nullptr || len < 0)
        return -1;
    ++bus->sinceLimit_;
    if (bus->overBudget())
        return len; // the cable is pulled: the frame goes out and nothing answers
    const auto* bytes = static_cast<const std::uint8_t*>(frame);
    bus->link_.send(static_cast<sim::Port>(handle), sim::Bytes(bytes, bytes + len));
    return len;
}

int SimBus::recv(void* ctx, int handle, void* buf, int size)
{
    auto* bus = static_cast<SimBus*>(ctx);
    if (handle < 0 || handle > 1 || !bus->open_[handle] || buf == nullptr || size < 0)
        return -1;
    auto frame = bus->link_.receive(static_cast<sim::Port>(handle));
    if (!frame)
        return 0;
    const std::size_t n = std::min(frame->size(), std::size_t(size));
    std::memcpy(buf, frame->data(), n);
    return int(n);
}

int SimBus::wait(void* ctx, int handle, int usec)
{
    auto* bus = static_cast<SimBus*>(ctx);
    if (handle < 0 || handle > 1 || !bus->open_[handle] || usec < 0)
        return -1;
    return bus->link_.wait(static_cast<sim::Port>(handle), std::uint64_t(usec)) ? 1 : 0;
}

void SimBus::close(void* ctx, int handle)
{
    auto* bus = static_cast<SimBus*>(ctx);
    if (handle < 0 || handle > 1)
        return;
    bus->open_[handle] = false;
}

std::int64_t SimBus::now(void* ctx)
{
    auto* bus = static_cast<SimBus*>(ctx);
    // Every reading costs time, so a loop that polls the clock without touching the link (for
    // instance on a port that never opened) still reaches its deadline.
    bus->chain_.clock().advance(bus->overBudget() ? OverBudgetStepUs : bus->pace_);
    return std::int64_t(bus->chain_.clock().nowUs());
}

void SimBus::sleep(void* ctx, std::uint32_t usec)
{
    auto* bus = static_cast<SimBus*>(ctx);
    bus->chain_.clock().advance(
        bus->overBudget() ? OverBudgetStepUs : std::uint64_t(usec) * bus->pace_);
}
