/*
 * Datagram round trip over a veth pair, the master against the bound the machine itself sets.
 *
 * An echo process on one end of a pair sends every EtherCAT frame straight back, answered as a
 * slave answers it (working counters incremented). On the other end the same frame is
 * ping-ponged by a bare raw socket that spins on recv (the bound), by one that sleeps in poll(),
 * and by the master's ec_APRD of one register. The spinning socket and the
 * master are then also run against zuvian-sim serving the "robot" layout on a second pair, where
 * the spinning socket is the master's bound. Each figure is printed as
 * "name value bound ratio"; times in microseconds.
 *
 *   bench_roundtrip [exchanges] [--load]     (default 20000; --load keeps every CPU busy)
 *
 * The echo and the measuring process are pinned to different CPUs. Needs root (veth pairs, raw
 * sockets) and zuvian-sim beside this program.
 */
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "benchsupport.h"
#include "core/veth.h"
#include "ethercatbase.h"
#include "nicdrv.h"

namespace {

int openRaw(const std::string& ifname)
{
    const int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ECAT));
    if (fd < 0)
        return -1;
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(ETH_P_ECAT);
    addr.sll_ifindex = int(if_nametoindex(ifname.c_str()));
    if (addr.sll_ifindex == 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Keeps the calling process on one CPU. The echo spins and never sleeps, so the scheduler would
 * otherwise pull a master that sleeps onto the echo's CPU (it wakes there), where each waits for
 * the other's time slice: a cost of the echo, which real slaves, being hardware, do not have. */
void pinTo(int cpu)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    (void)sched_setaffinity(0, sizeof set, &set); // unpinned figures are still figures
}

/* Answers a frame as one slave does that every datagram reaches: each working counter goes up by
 * one. An exact copy of the request would be taken by the master for its own frame mirrored back
 * and awaited a while longer, so the figure would measure that grace instead of the exchange. A
 * frame whose lengths do not fit is left as it came. */
void answerAsSlave(unsigned char* frame, ssize_t n)
{
    const ssize_t begin = ETH_HEADERSIZE + EC_HEADERSIZE;
    if (n < begin || ((frame[12] << 8) | frame[13]) != ETH_P_ECAT)
        return;
    const ssize_t end = begin + (ec_get16(frame + ETH_HEADERSIZE) & 0x07FF);
    if (end > n)
        return;
    for (ssize_t at = begin; at + EC_DGHEADERSIZE + EC_WKCSIZE <= end;) {
        const uint16 dlength = ec_get16(frame + at + 6);
        const ssize_t wkcAt = at + EC_DGHEADERSIZE + (dlength & 0x07FF);
        if (wkcAt + EC_WKCSIZE > end)
            return;
        ec_put16(frame + wkcAt, uint16(ec_get16(frame + wkcAt) + 1));
        if (!(dlength & EC_DATAGRAMFOLLOWS))
            return;
        at = wkcAt + EC_WKCSIZE;
    }
}

/* The echo: every frame that arrives goes back answered (see answerAsSlave), as fast as a spinning
 * socket allows. */
[[noreturn]] void echoForever(const std::string& ifname)
{
    pinTo(int(sysconf(_SC_NPROCESSORS_ONLN)) - 1);
    const int fd = openRaw(ifname);
    if (fd < 0)
        _exit(1);
    std::vector<unsigned char> frame(2048);
    for (;;) {
        sockaddr_ll from{};
        socklen_t length = sizeof from;
        const ssize_t n = recvfrom(fd, frame.data(), frame.size(), MSG_DONTWAIT,
            reinterpret_cast<sockaddr*>(&from), &length);
        if (n <= 0 || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        answerAsSlave(frame.data(), n);
        (void)send(fd, frame.data(), size_t(n), 0); // a lost echo shows as a worst case
    }
}

/* One APRD of the AL status of the first slave, the frame every variant exchanges. */
std::vector<unsigned char> probeFrame()
{
    std::vector<unsigned char> f(60, 0);
    ec_setupheader(f.data());
    unsigned char* ecat = f.data() + ETH_HEADERSIZE;
    ec_put16(ecat, EC_ELENGTHTYPE + EC_DGHEADERSIZE + 2 + EC_WKCSIZE);
    ecat[2] = EC_CMD_APRD;
    ec_put16(ecat + 6, ECT_REG_ALSTAT);
    ec_put16(ecat + 8, 2);
    return f;
}

/* Ping-pong on a bare socket: spinning on recv, or sleeping in poll() between tries. */
bench::Samples bareRoundTrips(const std::string& ifname, long count, bool sleepInPoll)
{
    bench::Samples samples;
    const int fd = openRaw(ifname);
    if (fd < 0)
        return samples;
    const auto frame = probeFrame();
    std::vector<unsigned char> reply(2048);
    for (long i = 0; i < count; ++i) {
        const auto start = bench::Clock::now();
        (void)send(fd, frame.data(), frame.size(), 0);
        const auto deadline = start + std::chrono::seconds(1);
        while (bench::Clock::now() < deadline) {
            if (sleepInPoll) {
                pollfd p{fd, POLLIN, 0};
                (void)poll(&p, 1, 1000);
            }
            if (recv(fd, reply.data(), reply.size(), MSG_DONTWAIT) > 0)
                break;
        }
        samples.add(bench::microseconds(bench::Clock::now() - start));
    }
    close(fd);
    return samples;
}

/* The master's exchange; *cpuPerExchange gets the CPU time the master spent per exchange. */
bench::Samples masterRoundTrips(
    const std::string& ifname, long count, double* cpuPerExchange, long* failed)
{
    bench::Samples samples;
    *failed = 0;
    if (ec_init(ifname.c_str()) <= 0)
        return samples;
    timespec cpu0{}, cpu1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    for (long i = 0; i < count; ++i) {
        uint16 status = 0;
        const auto start = bench::Clock::now();
        if (ec_APRD(0, ECT_REG_ALSTAT, sizeof status, &status, EC_TIMEOUT_FRAME) < 0)
            ++*failed;
        samples.add(bench::microseconds(bench::Clock::now() - start));
    }
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    ec_close();
    *cpuPerExchange
        = ((cpu1.tv_sec - cpu0.tv_sec) * 1e6 + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e3) / double(count);
    return samples;
}

} // namespace

int main(int argc, char** argv)
{
    long count = 20000;
    bool load = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            load = true;
        else if ((count = std::atol(argv[i])) <= 0) {
            std::fprintf(stderr, "usage: %s [exchanges] [--load]\n", argv[0]);
            return 2;
        }
    }
    const auto echoLock = bench::holdInterface("zrtt0");
    const auto simLock = bench::holdInterface("zrts0");
    if (!echoLock || !simLock)
        return 1;
    sim::VethPair::removeStale("zrtt0");
    sim::VethPair echoPair("zrtt0");
    if (!echoPair.ok()) {
        std::fprintf(
            stderr, "cannot create a veth pair: %s (root needed)\n", echoPair.error().c_str());
        return 1;
    }
    const pid_t echo = fork();
    if (echo == 0)
        echoForever(echoPair.peer());
    bench::LoadGenerator generator(load);
    bench::Sim simulator("zrts0", "robot");
    pinTo(0);

    const bench::Samples spin = bareRoundTrips(echoPair.name(), count, false);
    const bench::Samples polled = bareRoundTrips(echoPair.name(), count, true);
    double cpuEcho = 0, cpuSim = 0;
    long failedEcho = 0, failedSim = 0;
    const bench::Samples master = masterRoundTrips(echoPair.name(), count, &cpuEcho, &failedEcho);
    // Against zuvian-sim the bound is a bare spinning socket exchanging the same frame with it, so
    // the ratio is the master's own cost there as well.
    bench::Samples spinSim, masterSim;
    if (simulator.ok()) {
        spinSim = bareRoundTrips(simulator.interface(), count, false);
        masterSim = masterRoundTrips(simulator.interface(), count, &cpuSim, &failedSim);
    }
    kill(echo, SIGKILL);
    waitpid(echo, nullptr, 0);

    std::printf(
        "# round trips in µs, %ld exchanges each%s\n", count, load ? ", every CPU loaded" : "");
    spin.print("bare raw socket (spin)", spin.median());
    polled.print("bare raw socket (poll)", spin.median());
    master.print("master ec_APRD, echo", spin.median());
    bench::figure(
        "master CPU µs per exchange, echo", cpuEcho, master.median(), cpuEcho / master.median());
    bench::figure("master exchanges without reply, echo", double(failedEcho), 0, 0);
    if (simulator.ok()) {
        spinSim.print("bare raw socket (spin), zuvian-sim", spinSim.median());
        masterSim.print("master ec_APRD, zuvian-sim", spinSim.median());
        bench::figure("master CPU µs per exchange, zuvian-sim", cpuSim, masterSim.median(),
            cpuSim / masterSim.median());
        bench::figure("master exchanges without reply, zuvian-sim", double(failedSim), 0, 0);
        simulator.printProcessing();
    } else {
        std::fprintf(stderr, "zuvian-sim could not be started: %s\n", simulator.error().c_str());
    }
    return 0;
}
