/*
 * The whole robot over a veth pair against zuvian-sim, each figure next to the bound the measured
 * round trip sets:
 *   - frames per controller command on the happy path (a read, a set, a store), and on average
 *     over a whole "Write Parameters";
 *   - FoE download throughput of one image against payload per packet / (frames per packet x
 *     round trip);
 *   - read-out, firmware of all nine axes and both parameter sets: wall time, frames, and
 *     (wall time - waits) / (frames x round trip), the waits being the sleeps the master makes
 *     while controllers change state or store (reported apart);
 *   - peak RSS of the run, and heap allocations inside the master during a session after
 *     ec_init (counted by a malloc hook of this program).
 *
 *   bench_robot [--load]
 *
 * Needs root and zuvian-sim beside this program.
 */
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
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
#include "ethercatconfigmap.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"
#include "rawsocket.h"
#include "writefirmware.h"
#include "zuvian.h"

/* Allocation hook: every malloc of the process is counted while `counting` is set. */
extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
static std::atomic<bool> counting{false};
static std::atomic<long> allocations{0};
extern "C" void *malloc(size_t size)
{
    if (counting)
        ++allocations;
    return __libc_malloc(size);
}
extern "C" void *calloc(size_t n, size_t size)
{
    if (counting)
        ++allocations;
    return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t size)
{
    if (counting)
        ++allocations;
    return __libc_realloc(p, size);
}

namespace {

constexpr uint32 kPassword = 47193856;
const char *const kImages[] = {"TMCM-841.bin", "TMCM-1610.bin", "TMCM-174.bin", "TMCM-1632.bin"};

/* The raw socket with every frame counted and the FoE phase of a download timed, and the system
 * clock with the master's sleeps summed. */
struct Meter
{
    const ec_linkt *raw = ec_rawsocket_link();
    long frames = 0;
    long messages = 0; /* mailbox writes: one per controller command */
    double sleptUs = 0;
    bench::Clock::time_point foeStart, foeEnd;
    bool inFoe = false;
    long foeFrames = 0;

    static int open(void *, const char *ifname, int port) { return meter().raw->open(nullptr, ifname, port); }
    static int recv(void *, int h, void *buf, int size) { return meter().raw->recv(nullptr, h, buf, size); }
    static void close(void *, int h) { meter().raw->close(nullptr, h); }
    static int wait(void *, int h, int usec) { return meter().raw->wait(nullptr, h, usec); }
    static int send(void *, int h, const void *frame, int len)
    {
        Meter &m = meter();
        ++m.frames;
        const auto *f = static_cast<const uint8 *>(frame);
        const int dg = ETH_HEADERSIZE + EC_HEADERSIZE;
        const bool fpwr = len >= dg + EC_DGHEADERSIZE + 2 && f[dg] == EC_CMD_FPWR;
        const uint16 ado = fpwr ? uint16(f[dg + 4] | f[dg + 5] << 8) : 0;
        const uint8 *data = f + dg + EC_DGHEADERSIZE;
        const bool message = fpwr && ado >= 0x1000 && len >= dg + EC_DGHEADERSIZE + 8;
        if (message)
            ++m.messages;
        // The download starts with the write request and ends with the INIT request after it.
        if (message && (data[5] & 0x0F) == ECT_MBXT_FOE && data[6] == ECT_FOE_WRITE) {
            m.inFoe = true;
            m.foeFrames = 0;
            m.foeStart = bench::Clock::now();
        } else if (m.inFoe && fpwr && ado == ECT_REG_ALCTL) {
            m.inFoe = false;
            m.foeEnd = bench::Clock::now();
        }
        if (m.inFoe)
            ++m.foeFrames;
        return m.raw->send(nullptr, h, frame, len);
    }
    static std::int64_t now(void *) { return ec_system_clock()->now(nullptr); }
    static void sleep(void *, uint32_t usec)
    {
        const auto start = bench::Clock::now();
        usleep(usec);
        meter().sleptUs += bench::microseconds(bench::Clock::now() - start);
    }
    static Meter &meter()
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
};

/* Median round trip of an APRD of `bytes` bytes of the first slave's memory at `offset`. */
double roundTrip(const char *ifname, int count, uint16 offset, uint16 bytes)
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

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool load = argc > 1 && std::strcmp(argv[1], "--load") == 0;
    QTemporaryDir work;
    for (const char *image : kImages)
        if (!work.isValid() || !QFile::copy(QString(":/res/") + image, work.filePath(image)))
            return 1;
    QDir::setCurrent(work.path());
    qputenv("XDG_DATA_HOME", work.path().toLocal8Bit());
    const auto held = bench::holdInterface("zrob0");
    if (!held)
        return 1;
    // One thread works the bus for the whole run: it takes the session once.
    const BusSession::Lock session;
    bench::Sim simulator("zrob0", "robot");
    if (!simulator.ok()) {
        std::fprintf(stderr, "%s\n", simulator.error().c_str());
        return 1;
    }
    bench::LoadGenerator generator(load);
    const char *ifname = "zrob0";
    const QString eth = QString::fromLatin1(ifname);
    Meter &meter = Meter::meter();
    meter.install();
    const double rtt = roundTrip(ifname, 2000, ECT_REG_ALSTAT, 2);
    std::printf("# the whole robot over veth against zuvian-sim%s; round trip %.1f µs\n",
                load ? ", every CPU loaded" : "", rtt);

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
    meter.frames = 0;
    meter.sleptUs = 0;
    bool ok = true;
    {
        EtherCatWrapper ecat;
        ok = ecat.InitEtherCat("Arm1 + Platform", eth) == 0;
        for (int position : {2, 3, 4, 5, 7, 8, 9, 10, 11})
            (void)ecat.GetFirmWareVersion(quint8(position)); // the read-out's own cost is measured
        ecat.StopEthercat();
    }
    double foeBytesPerSecond = 0, foePayload = 0;
    long foePackets = 0, foeFrames = 0;
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
    ok = ok && outcome.arm.result == ParameterPartOutcome::Result::Written &&
         outcome.platform.result == ParameterPartOutcome::Result::Written;
    const double wallUs = bench::microseconds(bench::Clock::now() - start);

    // Bring-up and shut-down of the two sessions count in, as they are part of the job.
    const double perCommand = commands ? double(parameterFrames) / double(commands) : 0;
    bench::figure("frames per command, whole parameter write", perCommand, 4, perCommand / 4);
    const double framesPerPacket = foePackets ? double(foeFrames) / double(foePackets) : 0;
    bench::figure("FoE frames per packet", framesPerPacket, 4, framesPerPacket / 4);
    // A packet is two mailbox-sized frames (the data, the acknowledge read) and two status polls.
    const double rttMailbox = roundTrip(ifname, 2000, 0x1000, uint16(foePayload + 12));
    const double foeBound = rtt > 0 ? foePayload / (2 * rtt + 2 * rttMailbox) * 1e6 : 0;
    std::printf("# round trip of a frame of the bootstrap mailbox's size: %.1f µs\n", rttMailbox);
    bench::figure("FoE bytes/s (bound: payload / its 4 frames)", foeBytesPerSecond, foeBound,
                  foeBound > 0 ? foeBytesPerSecond / foeBound : 0);
    bench::figure("whole robot: wall time, s", wallUs / 1e6, 0, 0);
    bench::figure("whole robot: frames", double(meter.frames), 0, 0);
    bench::figure("whole robot: master's waits (sleeps), s", meter.sleptUs / 1e6, 0, 0);
    const double busBound = double(meter.frames) * rtt;
    bench::figure("whole robot: (wall - waits) / (frames x rtt)", (wallUs - meter.sleptUs) / busBound, 1.3,
                  (wallUs - meter.sleptUs) / busBound / 1.3);

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
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    bench::figure("peak RSS, MB", double(usage.ru_maxrss) / 1024, 60, double(usage.ru_maxrss) / 1024 / 60);
    std::printf("%s\n", ok ? "# every job succeeded" : "# A JOB FAILED: the figures above do not count");
    return ok ? 0 : 1;
}
