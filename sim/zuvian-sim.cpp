/*
 * zuvian-sim: serves a virtual EtherCAT bus on a network interface, so that the unmodified
 * service tool can be run against a simulated robot, and power-cycles it on request (SIGUSR1) so
 * that the whole firmware procedure can be rehearsed.
 */
#include "controller/controllerlayouts.h"
#include "core/layouts.h"
#include "core/rawserver.h"
#include "core/veth.h"
#include "faults/faultregistry.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <malloc.h>
#include <sched.h>
#include <sys/mman.h>
#include <string>
#include <vector>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

const char* const Usage
    = "Usage: zuvian-sim [--layout NAME] [--firmware-version V] (--interface IF | --veth NAME)\n"
      "\n"
      "Serves a chain of emulated EtherCAT slaves on a network interface through a raw packet\n"
      "socket (EtherType 0x88A4). Every EtherCAT frame that arrives from a master is run through\n"
      "the slaves and sent back on the same interface; the frames zuvian-sim sends itself are\n"
      "ignored. Needs root (raw socket, ip link).\n"
      "\n"
      "SIGUSR1 power-cycles the robot: every slave restarts in INIT, and a motor controller keeps\n"
      "its stored parameters and runs the firmware it received since the last power cycle, as\n"
      "after switching the real robot off and on (kill -USR1 <pid>; the pid is printed at start).\n"
      "\n"
      "Options:\n"
      "  --interface IF   serve on the existing interface IF; the master uses the interface at\n"
      "                   the other end of the cable.\n"
      "  --veth NAME      create a veth pair NAME / NAME-peer (NAME at most 10 characters), bring\n"
      "                   both up, serve on NAME-peer and leave NAME for the master. The pair is\n"
      "                   removed when zuvian-sim ends, also on Ctrl-C (SIGINT) and SIGTERM.\n"
      "  --layout NAME    the bus to emulate (default \"robot\"); see below.\n"
      "  --firmware-version V\n"
      "                   the firmware version the motor controllers run at start (up to four\n"
      "                   characters, default 1.48), for the \"arm\" and \"robot\" layouts: start\n"
      "                   with 1.40 to see an update to 1.48 after the power cycle.\n"
      "  --no-realtime    run at normal priority instead of asking for real-time scheduling, so\n"
      "                   that a busy host delays replies as it would delay slave emulation on a\n"
      "                   laptop (for soak tests of the master).\n"
      "  --spin           spin on the socket instead of sleeping until a frame comes, so that the\n"
      "                   kernel's wake-up leaves the round trip; takes a whole CPU, for "
      "benchmarks\n"
      "                   only (never the default). Runs without real-time priority.\n"
      "  --fault NAME[:ARG...]\n"
      "                   switch a fault of the bus on (repeatable; positions are 1-based bus\n"
      "                   positions, controller faults need the \"arm\" or \"robot\" layout); see\n"
      "                   the list of faults below.\n"
      "  --list-layouts   list the layouts and exit.\n"
      "  --help           this text.\n"
      "\n"
      "Layouts:\n";

struct Options
{
    std::string interface;
    std::string veth;
    std::string layout = "robot";
    std::string firmwareVersion;
    std::vector<std::string> faults;
    bool help = false;
    bool list = false;
    bool realtime = true;
    bool spin = false;
};

void printLayouts(const sim::LayoutRegistry& registry)
{
    for (const auto& entry : registry.list())
        std::cout << "  " << entry.first << "\n      " << entry.second << "\n";
}

void printHelp(const sim::LayoutRegistry& registry)
{
    std::cout << Usage;
    printLayouts(registry);
    std::cout << "\nFaults:\n";
    for (const auto& fault : sim::faultCatalogue())
        std::cout << "  " << fault.name << (fault.args.empty() ? "" : ":") << fault.args
                  << "\n      " << fault.what << "\n";
    std::cout << "\nExample:\n"
                 "  sudo zuvian-sim --layout robot --veth zsim0    # then pick zsim0 in the "
                 "service tool\n";
}

bool validVersion(const std::string& version)
{
    if (version.empty() || version.size() > 4)
        return false;
    for (char c : version) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return true;
}

/* The options, or nothing after a complaint on stderr. */
std::optional<Options> parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                std::cerr << "zuvian-sim: " << arg << " needs a value\n";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h")
            o.help = true;
        else if (arg == "--list-layouts")
            o.list = true;
        else if (arg == "--no-realtime")
            o.realtime = false;
        else if (arg == "--spin")
            o.spin = true;
        else if (arg == "--interface") {
            if (!value(o.interface))
                return std::nullopt;
        } else if (arg == "--veth") {
            if (!value(o.veth))
                return std::nullopt;
        } else if (arg == "--fault") {
            o.faults.emplace_back();
            if (!value(o.faults.back()))
                return std::nullopt;
        } else if (arg == "--layout") {
            if (!value(o.layout))
                return std::nullopt;
        } else if (arg == "--firmware-version") {
            if (!value(o.firmwareVersion))
                return std::nullopt;
            if (!validVersion(o.firmwareVersion)) {
                std::cerr << "zuvian-sim: --firmware-version takes one to four printable "
                             "characters, for example 1.40\n";
                return std::nullopt;
            }
        } else {
            std::cerr << "zuvian-sim: unknown option " << arg << " (see --help)\n";
            return std::nullopt;
        }
    }
    if (!o.help && !o.list && o.interface.empty() == o.veth.empty()) {
        std::cerr << "zuvian-sim: give exactly one of --interface and --veth (see --help)\n";
        return std::nullopt;
    }
    return o;
}

/* A descriptor that becomes readable on SIGINT, SIGTERM, SIGHUP (stop) and SIGUSR1 (power
 * cycle); the signals no longer kill us, so the veth pair is always removed on the way out.
 * SIGHUP stops rather than power-cycles: a closed terminal must not leave the pair behind. */
int controlSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGUSR1);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0)
        return -1;
    return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

/* The signal that arrived, or 0 when none is waiting. */
int nextSignal(int fd)
{
    signalfd_siginfo info;
    if (read(fd, &info, sizeof info) != ssize_t(sizeof info))
        return 0;
    return int(info.ssi_signo);
}

/* Switches the whole robot off and on: every slave, whatever it emulates. */
void powerCycle(sim::Chain& chain)
{
    for (std::size_t n = 1; n <= chain.size(); ++n)
        chain.slave(n).powerCycle();
}

/* The chain of the layout with its motor controllers (for their faults), the controllers
 * running `firmwareVersion` when one is given. */
std::optional<sim::ControllerBus> buildBus(const sim::LayoutRegistry& registry, const Options& o)
{
    auto bus
        = sim::controllerLayout(o.layout, o.firmwareVersion.empty() ? "1.48" : o.firmwareVersion);
    if (bus || !o.firmwareVersion.empty())
        return bus;
    auto chain = registry.build(o.layout);
    if (!chain)
        return std::nullopt;
    sim::ControllerBus plain;
    plain.chain = std::move(*chain);
    return plain;
}

} // namespace

int main(int argc, char** argv)
{
    const sim::LayoutRegistry registry = sim::layouts();
    const auto options = parse(argc, argv);
    if (!options)
        return 2;
    if (options->help) {
        printHelp(registry);
        return 0;
    }
    if (options->list) {
        printLayouts(registry);
        return 0;
    }
    auto bus = buildBus(registry, *options);
    sim::Chain* chain = bus ? &bus->chain : nullptr;
    if (!chain && !options->firmwareVersion.empty()) {
        std::cerr << "zuvian-sim: --firmware-version needs the \"arm\" or the \"robot\" layout\n";
        return 2;
    }
    if (!chain) {
        std::cerr << "zuvian-sim: unknown layout \"" << options->layout << "\"; known layouts:\n";
        printLayouts(registry);
        return 2;
    }

    sim::FaultSet faults;
    for (const std::string& fault : options->faults) {
        try {
            faults.install(fault, *chain, bus->controllers);
        } catch (const std::invalid_argument& e) {
            std::cerr << "zuvian-sim: --fault " << fault << ": " << e.what() << "\n";
            return 2;
        }
    }

    const int signals = controlSignals();
    if (signals < 0) {
        std::cerr << "zuvian-sim: cannot set up signal handling\n";
        return 1;
    }
    std::unique_ptr<sim::VethPair> veth;
    std::string serveOn = options->interface;
    if (!options->veth.empty()) {
        veth = std::make_unique<sim::VethPair>(options->veth);
        if (!veth->ok()) {
            std::cerr << "zuvian-sim: " << veth->error() << "\n";
            return 1;
        }
        serveOn = veth->peer();
    }
    sim::RawServer server(serveOn);
    if (!server.ok()) {
        std::cerr << "zuvian-sim: " << server.error() << "\n";
        return 1;
    }
    // Nothing reads the record of received messages here; it would only grow.
    for (std::size_t n = 1; n <= chain->size(); ++n)
        chain->slave(n).mailbox().keepReceived(false);
    server.setRule(faults.frameRule());
    server.setSpin(options->spin);
    std::cout << "zuvian-sim: layout \"" << options->layout << "\" (" << chain->size()
              << " slaves) on " << serveOn;
    if (veth)
        std::cout << "; the master uses " << veth->name();
    std::cout << "\nPower cycle: kill -USR1 " << getpid() << "\nCtrl-C ends it." << std::endl;

    // Real slaves answer within microseconds, being hardware; real-time scheduling keeps the
    // virtual robot close to that on a busy host.
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    // A spinning process at real-time priority would starve its CPU; spinning needs no wake-up.
    if (options->realtime && !options->spin && sched_setscheduler(0, SCHED_FIFO, &priority) != 0)
        std::cerr << "zuvian-sim: no real-time scheduling (" << std::strerror(errno)
                  << "); on a busy host replies will come later\n";
    // Memory the process once had stays with it, touched: a page fault in the middle of a frame
    // costs more than the frame's whole processing.
    mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    if (options->realtime)
        (void)mlockall(MCL_CURRENT | MCL_FUTURE); // a nicety: replies are right without it

    for (;;) {
        const int signal = nextSignal(signals);
        if (signal == SIGUSR1) {
            powerCycle(*chain);
            std::cout << "zuvian-sim: power cycle" << std::endl;
            continue;
        }
        if (signal != 0)
            break;
        server.serveOne(*chain, 100);
    }

    std::cout << "zuvian-sim: answered " << server.answered() << " frames, lost " << chain->lost()
              << " on the wire" << (veth ? "; removing the veth pair" : "") << "\n"
              << "zuvian-sim: processing per frame " << server.processing().summary() << "\n"
              << "zuvian-sim: send call per reply " << server.sending().summary() << std::endl;
    close(signals);
    return 0;
}
