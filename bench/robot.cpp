/*
 * The whole robot over a veth pair against zuvian-sim, each figure next to a bound taken from the
 * same run. Every frame is timed from its send to the reply the master receives (its round trip);
 * frames go one at a time, so no bound built from these can be beaten:
 *   - frames per controller command on the happy path (a read, a set, a store), and on average
 *     over a whole "Write Parameters";
 *   - FoE download throughput of one image against the image size / the sum of the round trips
 *     of the download's own frames;
 *   - read-out, firmware of all nine axes and both parameter sets: wall time, frames,
 *     enumerations and EEPROM reads, and (wall time - waits) / (frames x their mean round trip),
 *     the waits being the sleeps the master makes (reported apart, by their length);
 *   - frames, EEPROM reads and time of one enumeration;
 *   - peak RSS of the run, and heap allocations inside the master during a session after
 *     ec_init (counted by a malloc hook of this program).
 *
 *   bench_robot [--load] [--spin] [--awake]
 *     --spin: zuvian-sim spins on its socket (the goals are measured without);
 *     --awake: the idle CPUs poll instead of halting while the run lasts (see bench::AwakeCpus).
 *
 * Needs root and zuvian-sim beside this program.
 */
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <map>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/resource.h>

#include <unistd.h>

#include "EtherCatWrapper.h"
#include "ParameterJob.h"
#include "benchsupport.h"
#include "eclink.h"
#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"
#include "rawsocket.h"
#include "writefirmware.h"
#include "zuvian.h"

/* Allocation hook: every malloc of the process is counted while `counting` is set. */
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
static std::atomic<bool> counting{false};
static std::atomic<long> allocations{0};
extern "C" void* malloc(size_t size)
{
    if (counting)
        ++allocations;
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t n, size_t size)
{
    if (counting)
        ++allocations;
    return __libc_calloc(n, size);
}
extern "C" void* realloc(void* p, size_t size)
{
    if (counting)
        ++allocations;
    return __libc_realloc(p, size);
}

namespace {

constexpr uint32 kPassword = 47193856;
const char* const kImages[] = {"TMCM-841.bin", "TMCM-1610.bin", "TMCM-174.bin", "TMCM-1632.bin"};

/* The raw socket with every frame counted and timed from its send to the reply the master
 * receives, the FoE phase of a download timed, EEPROM read commands and enumerations counted, and
 * the system clock with the master's sleeps summed by their length. */
struct Meter
{
    const ec_linkt* raw = ec_rawsocket_link();
    long frames = 0;
    long messages = 0; /* mailbox writes: one per controller command */
    long eepromReads = 0; /* EEPROM read commands */
    long enumerations = 0; /* slave count broadcasts, with which every enumeration begins */
    double sleptUs = 0;
    std::map<uint32_t, std::pair<long, double>> sleeps; /* requested µs: how often, µs slept */
    bench::Clock::time_point foeStart, foeEnd;
    bool inFoe = false;
    long foeFrames = 0;
    /* Round trips, each from the first send of a frame to the next reply received: frames go one
     * at a time, so their sum never exceeds the wall time they were measured in. */
    bool awaiting = false;
    bench::Clock::time_point sentAt;
    double roundTripsUs = 0;
    long roundTrips = 0;
    double foeRoundTripsUs = 0;
    bench::Samples foeData, foeOther; /* the FoE data writes; every other frame of the download */
    bool lastWasFoeData = false;

    static int open(void*, const char* ifname, int port)
    {
        return meter().raw->open(nullptr, ifname, port);
    }
    static int recv(void*, int h, void* buf, int size)
    {
        const int n = meter().raw->recv(nullptr, h, buf, size);
        Meter& m = meter();
        if (n > 0 && m.awaiting) {
            const double us = bench::microseconds(bench::Clock::now() - m.sentAt);
            m.awaiting = false;
            m.roundTripsUs += us;
            ++m.roundTrips;
            if (m.inFoe) {
                m.foeRoundTripsUs += us;
                (m.lastWasFoeData ? m.foeData : m.foeOther).add(us);
            }
        }
        return n;
    }
    static void close(void*, int h) { meter().raw->close(nullptr, h); }
    static int wait(void*, int h, int usec) { return meter().raw->wait(nullptr, h, usec); }
    static int send(void*, int h, const void* frame, int len)
    {
        Meter& m = meter();
        ++m.frames;
        const auto* f = static_cast<const uint8*>(frame);
        const int dg = ETH_HEADERSIZE + EC_HEADERSIZE;
        const bool datagram = len >= dg + EC_DGHEADERSIZE + 2;
        const uint8 command = datagram ? f[dg] : 0;
        const uint16 ado = datagram ? uint16(f[dg + 4] | f[dg + 5] << 8) : 0;
        const bool fpwr = command == EC_CMD_FPWR;
        const uint8* data = f + dg + EC_DGHEADERSIZE;
        const bool message = fpwr && ado >= 0x1000 && len >= dg + EC_DGHEADERSIZE + 8;
        if (message)
            ++m.messages;
        if ((fpwr || command == EC_CMD_APWR) && ado == ECT_REG_EEPCTL
            && (data[0] | data[1] << 8) == EC_ECMD_READ)
            ++m.eepromReads;
        if (command == EC_CMD_BRD && ado == ECT_REG_TYPE)
            ++m.enumerations;
        // The download starts with the write request and ends with the INIT request after it.
        const bool foeMessage = message && (data[5] & 0x0F) == ECT_MBXT_FOE;
        if (foeMessage && data[6] == ECT_FOE_WRITE) {
            m.inFoe = true;
            m.foeFrames = 0;
            m.foeRoundTripsUs = 0;
            m.foeData = bench::Samples();
            m.foeOther = bench::Samples();
            m.foeStart = bench::Clock::now();
        } else if (m.inFoe && fpwr && ado == ECT_REG_ALCTL) {
            m.inFoe = false;
            m.foeEnd = bench::Clock::now();
        }
        if (m.inFoe)
            ++m.foeFrames;
        m.lastWasFoeData = foeMessage && data[6] == ECT_FOE_DATA;
        if (!m.awaiting)
            m.sentAt = bench::Clock::now();
        m.awaiting = true;
        return m.raw->send(nullptr, h, frame, len);
    }
    static std::int64_t now(void*) { return ec_system_clock()->now(nullptr); }
    static void sleep(void*, uint32_t usec)
    {
        const auto start = bench::Clock::now();
        ec_system_clock()->sleep(nullptr, usec); // the product's own pause
        const double slept = bench::microseconds(bench::Clock::now() - start);
        Meter& m = meter();
        m.awaiting = false; // a frame still unanswered was given up: its wait is no round trip
        m.sleptUs += slept;
        auto& bucket = m.sleeps[usec];
        ++bucket.first;
        bucket.second += slept;
    }
    static Meter& meter()
    {
        static Meter m;
        return m;
    }
    void install()
    {
        const ec_linkt link = {nullptr, open, send, recv, close, wait};
        const ec_clockt clock = {nullptr, now, sleep};
        ec_setlink(&link);
        ec_setclock(&clock);
    }
    void restart()
    {
        frames = messages = eepromReads = enumerations = roundTrips = 0;
        sleptUs = roundTripsUs = 0;
        sleeps.clear();
    }
};

/* Median round trip of an APRD of `bytes` bytes of the first slave's memory at `offset`. */
double roundTrip(const char* ifname, int count, uint16 offset, uint16 bytes)
{
    bench::Samples samples;
    if (ec_init(ifname) <= 0)
        return 0;
    static uint8 data[EC_MAXDATA];
    for (int i = 0; i < count; ++i) {
        const auto start = bench::Clock::now();
        ec_APRD(0, offset, bytes, data, EC_TIMEOUT_FRAME);
        samples.add(bench::microseconds(bench::Clock::now() - start));
    }
    ec_close();
    return samples.median();
}

/* Frames of one call on the bus that is up. */
template <typename Call>
long framesOf(Call call)
{
    const long before = Meter::meter().frames;
    call();
    return Meter::meter().frames - before;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    bool load = false, spin = false, awake = false;
    for (int i = 1; i < argc; ++i) {
        load = load || std::strcmp(argv[i], "--load") == 0;
        spin = spin || std::strcmp(argv[i], "--spin") == 0;
        awake = awake || std::strcmp(argv[i], "--awake") == 0;
    }
    const bench::AwakeCpus awakeCpus(awake);
    if (!awakeCpus.error().empty()) {
        std::fprintf(stderr, "%s\n", awakeCpus.error().c_str());
        return 1;
    }
    QTemporaryDir work;
    for (const char* image : kImages)
        if (!work.isValid() || !QFile::copy(QString(":/res/") + image, work.filePath(image)))
            return 1;
    QDir::setCurrent(work.path());
    qputenv("XDG_DATA_HOME", work.path().toLocal8Bit());
    const auto held = bench::holdInterface("zrob0");
    if (!held)
        return 1;
    // One thread works the bus for the whole run: it takes the session once.
    const BusSession::Lock session;
    bench::Sim simulator(
        "zrob0", "robot", spin ? std::vector<std::string>{"--spin"} : std::vector<std::string>{});
    if (!simulator.ok()) {
        std::fprintf(stderr, "%s\n", simulator.error().c_str());
        return 1;
    }
    bench::LoadGenerator generator(load);
    const char* ifname = "zrob0";
    const QString eth = QString::fromLatin1(ifname);
    Meter& meter = Meter::meter();
    meter.install();
    const double rtt = roundTrip(ifname, 2000, ECT_REG_ALSTAT, 2);
    std::printf(
        "# the whole robot over veth against zuvian-sim%s%s%s; round trip of a bare read %.1f µs\n",
        spin ? " spinning" : "", load ? ", every CPU loaded" : "",
        awake ? ", idle CPUs polling" : "", rtt);

    // Commands on a bus that is up: arm axis 1 is slave 7.
    long readFrames = 0, setFrames = 0, storeFrames = 0;
    {
        EtherCatWrapper ecat;
        if (ecat.InitEtherCat("Arm1 + Platform", eth) == 0) {
            writeParameter(7, 248, kPassword);
            readFrames = framesOf([] { readSingleParameter(7, 4); });
            setFrames = framesOf([] { writeParameter(7, 4, 1000); });
            storeFrames = framesOf([] { saveParameter(7, 4, 1000); });
        }
        ecat.StopEthercat();
    }
    bench::figure("frames per parameter read", double(readFrames), 4, readFrames / 4.0);
    bench::figure("frames per parameter set", double(setFrames), 4, setFrames / 4.0);
    bench::figure("frames per parameter store", double(storeFrames), 4, storeFrames / 4.0);

    // The whole robot, job by job.
    const auto start = bench::Clock::now();
    meter.restart();
    bool ok = true;
    {
        EtherCatWrapper ecat;
        ok = ecat.InitEtherCat("Arm1 + Platform", eth) == 0;
        for (int position : {2, 3, 4, 5, 7, 8, 9, 10, 11})
            (void)ecat.GetFirmWareVersion(quint8(position)); // the read-out's own cost is measured
        ecat.StopEthercat();
    }
    double foeBytesPerSecond = 0, foePayload = 0, foeBound = 0;
    long foePackets = 0, foeFrames = 0;
    bench::Samples foeData, foeOther;
    for (int position : {7, 8, 9, 10, 11, 2, 3, 4, 5}) {
        ok = WriteFirmware().writeFirmware(eth, position) == 0 && ok;
        if (position != 7)
            continue;
        // The table still describes the bootstrap mailbox the download used.
        const double us = bench::microseconds(meter.foeEnd - meter.foeStart);
        const qint64 size = QFileInfo(work.filePath("TMCM-841.bin")).size();
        foePayload = double(ec_slave[7].mbx_l) - 12; // mailbox and FoE headers
        foeBytesPerSecond = us > 0 ? double(size) / us * 1e6 : 0;
        foePackets = foePayload > 0 ? long(double(size) / foePayload) + 1 : 0;
        foeFrames = meter.foeFrames;
        // The bound: the same bytes if the download's own frames had followed one another with
        // no time between them, each as long as it took on the wire in this very transfer.
        foeBound = meter.foeRoundTripsUs > 0 ? double(size) / meter.foeRoundTripsUs * 1e6 : 0;
        foeData = meter.foeData;
        foeOther = meter.foeOther;
    }
    const long framesBeforeParameters = meter.frames;
    const long messagesBeforeParameters = meter.messages;
    ParameterRequest request;
    request.eth = eth;
    request.readOutOk = true;
    request.Arm1Start = 7;
    request.PlatformStart = 2;
    request.PlatformSlaveCount = 4;
    ParameterJob job;
    const ParameterOutcome outcome = job.run(request);
    const long parameterFrames = meter.frames - framesBeforeParameters;
    const long commands = meter.messages - messagesBeforeParameters;
    ok = ok && outcome.arm.result == ParameterPartOutcome::Result::Written
        && outcome.platform.result == ParameterPartOutcome::Result::Written;
    const double wallUs = bench::microseconds(bench::Clock::now() - start);

    // Bring-up and shut-down of the two sessions count in, as they are part of the job.
    const double perCommand = commands ? double(parameterFrames) / double(commands) : 0;
    bench::figure("frames per command, whole parameter write", perCommand, 4, perCommand / 4);
    const double framesPerPacket = foePackets ? double(foeFrames) / double(foePackets) : 0;
    bench::figure("FoE frames per packet", framesPerPacket, 4, framesPerPacket / 4);
    std::printf("# FoE round trips, µs: data write median %.1f p99 %.1f; the other frames median "
                "%.1f p99 %.1f\n",
        foeData.median(), foeData.quantile(0.99), foeOther.median(), foeOther.quantile(0.99));
    bench::figure("FoE bytes/s (bound: its frames' round trips)", foeBytesPerSecond, foeBound,
        foeBound > 0 ? foeBytesPerSecond / foeBound : 0);
    bench::figure("whole robot: wall time, s", wallUs / 1e6, 1.0, wallUs / 1e6);
    bench::figure("whole robot: frames", double(meter.frames), 0, 0);
    bench::figure("whole robot: enumerations", double(meter.enumerations), 0, 0);
    bench::figure("whole robot: EEPROM reads", double(meter.eepromReads), 0, 0);
    bench::figure("whole robot: master's waits (sleeps), s", meter.sleptUs / 1e6, 0, 0);
    for (const auto& bucket : meter.sleeps)
        std::printf("#   sleeps of %u µs: %ld, %.3f s\n", bucket.first, bucket.second.first,
            bucket.second.second / 1e6);
    // The bound is the run's own frames end to end: the answered frames x their mean round trip,
    // the sum of the round trips. Sleeps and round trips never overlap, so (wall - waits) cannot
    // fall below it.
    const double meanRtt = meter.roundTrips ? meter.roundTripsUs / double(meter.roundTrips) : 0;
    std::printf(
        "# mean round trip of the run's %ld answered frames %.1f µs; of a bare read %.1f µs\n",
        meter.roundTrips, meanRtt, rtt);
    const double busBound = meter.roundTripsUs;
    const double busRatio = busBound > 0 ? (wallUs - meter.sleptUs) / busBound : 0;
    bench::figure("whole robot: (wall - waits) / (frames x rtt)", busRatio, 1.3, busRatio / 1.3);
    const double bareRatio = rtt > 0 ? (wallUs - meter.sleptUs) / (double(meter.frames) * rtt) : 0;
    bench::figure("  the same against a bare read's rtt", bareRatio, 1.3, bareRatio / 1.3);

    // One enumeration alone, as each firmware axis makes one.
    if (ec_init(ifname) > 0) {
        meter.restart();
        const auto enumStart = bench::Clock::now();
        const int found = ec_config_init(FALSE);
        const double enumUs = bench::microseconds(bench::Clock::now() - enumStart);
        ec_close();
        std::printf("# one enumeration of %d slaves\n", found);
        bench::figure("enumeration: frames", double(meter.frames), 0, 0);
        bench::figure("enumeration: EEPROM reads", double(meter.eepromReads), 0, 0);
        bench::figure("enumeration: wall time, ms", enumUs / 1e3, 0, 0);
        bench::figure("enumeration: master's waits (sleeps), ms", meter.sleptUs / 1e3, 0, 0);
    }

    // Heap inside the master: a session of its own, counted from after ec_init to the close.
    long masterAllocations = -1;
    if (ec_init(ifname) > 0) {
        static uint8 image[EC_IOMAPSIZE];
        allocations = 0;
        counting = true;
        ec_config(FALSE, image);
        ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE);
        for (int cycle = 0; cycle < 100; ++cycle) {
            ec_send_processdata();
            ec_receive_processdata(EC_TIMEOUT_FRAME);
        }
        for (int position : {2, 7, 11}) {
            (void)getFirmwareVersion(uint8(position));
            (void)readSingleParameter(uint8(position), 4);
        }
        counting = false;
        masterAllocations = allocations;
        ec_close();
    }
    bench::figure("heap allocations in the master after ec_init", double(masterAllocations), 0, 0);
    simulator.printProcessing();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    bench::figure(
        "peak RSS, MB", double(usage.ru_maxrss) / 1024, 60, double(usage.ru_maxrss) / 1024 / 60);
    std::printf(
        "%s\n", ok ? "# every job succeeded" : "# A JOB FAILED: the figures above do not count");
    return ok ? 0 : 1;
}
