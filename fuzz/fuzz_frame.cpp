/*
 * Fuzz target: received frames and their datagram chains.
 *
 * A link installed in the master's link seam hands the fuzz input to the master as the replies to
 * whatever it sends, and the master runs exchanges that parse them: the datagram primitives
 * (position, broadcast, configured-address and logical commands, the LRW with the clock datagram
 * behind it), the process data cycle (one LRW frame per segment, or LRD and LWR frames), the AL
 * status read of every slave, and a redundant pair of ports where replies may come back on either.
 *
 * Input: one byte that picks the exchanges, then replies, each a flag byte and a chunk (see
 * FuzzInput). Flags: bit 0 puts the frame index of the last frame sent on that port into the
 * reply, bit 1 puts that frame's whole first datagram header there (so mutations reach the data
 * and the datagrams behind it instead of being dropped as foreign frames), bit 2 delivers the
 * reply on the secondary port. The clock is virtual: a poll that finds nothing costs 100 µs, and
 * 50 ms once the replies are used up, so the master's time-outs end after a few polls.
 *
 * Seeds: ZUVIAN_SEED_DIR=dir ./fuzz_frame runs the same exchanges against the virtual bus, writes
 * what it replied as one input per exchange and exits.
 */
#include "fuzzinput.h"

#include "core/layouts.h"
#include "core/inprocesslink.h"

#include "eclink.h"
#include "ethercatbase.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::uint8_t PatchIndex = 0x01;
constexpr std::uint8_t PatchHeader = 0x02;
constexpr std::uint8_t SecondaryPort = 0x04;
constexpr int Operations = 8;

struct Reply
{
    std::uint8_t flags;
    std::vector<std::uint8_t> frame;
};

/* The link: replies from the script, or (recording seeds) from a virtual bus, written down. */
class ScriptLink
{
public:
    std::deque<Reply> replies;
    sim::InProcessLink* recordFrom = nullptr;
    FuzzInputWriter* recordTo = nullptr;
    std::uint64_t clockUs = 0;

    void install()
    {
        ec_linkt link{};
        link.ctx = this;
        link.open = [](void*, const char* ifname, int port) -> int {
            return ifname != nullptr && std::strncmp(ifname, "fuzz", 4) == 0 ? port : -1;
        };
        link.send = &ScriptLink::send;
        link.recv = &ScriptLink::recv;
        link.close = [](void*, int) {};
        link.wait = &ScriptLink::wait;
        ec_setlink(&link);
        ec_clockt clock{};
        clock.ctx = this;
        clock.now = [](void* ctx) -> std::int64_t {
            auto* self = static_cast<ScriptLink*>(ctx);
            self->clockUs += 1;
            return std::int64_t(self->clockUs);
        };
        clock.sleep
            = [](void* ctx, std::uint32_t usec) { static_cast<ScriptLink*>(ctx)->clockUs += usec; };
        ec_setclock(&clock);
    }

private:
    std::vector<std::uint8_t> lastSent_[2];

    static int send(void* ctx, int handle, const void* frame, int len)
    {
        auto* self = static_cast<ScriptLink*>(ctx);
        if (handle < 0 || handle > 1 || frame == nullptr || len < 0)
            return -1;
        const auto* bytes = static_cast<const std::uint8_t*>(frame);
        self->lastSent_[handle].assign(bytes, bytes + len);
        if (self->recordFrom)
            self->recordFrom->send(sim::Port(handle), sim::Bytes(bytes, bytes + len));
        return len;
    }

    static int recv(void* ctx, int handle, void* buf, int size)
    {
        auto* self = static_cast<ScriptLink*>(ctx);
        if (handle < 0 || handle > 1 || buf == nullptr || size < 0)
            return -1;
        if (self->recordFrom)
            return self->recordReply(handle, buf, size);
        if (self->replies.empty()) {
            // The script is used up: let the master's time-outs pass at once.
            self->clockUs += 50000;
            return 0;
        }
        if (((self->replies.front().flags & SecondaryPort) ? 1 : 0) != handle) {
            self->clockUs += 100;
            return 0;
        }
        Reply reply = std::move(self->replies.front());
        self->replies.pop_front();
        const std::vector<std::uint8_t>& sent = self->lastSent_[handle];
        std::vector<std::uint8_t>& frame = reply.frame;
        if ((reply.flags & PatchIndex) && frame.size() > 17 && sent.size() > 17)
            frame[17] = sent[17];
        if ((reply.flags & PatchHeader) && frame.size() >= 26 && sent.size() >= 26)
            std::memcpy(frame.data() + 16, sent.data() + 16, 10);
        const std::size_t n = std::min(frame.size(), std::size_t(size));
        if (n > 0)
            std::memcpy(buf, frame.data(), n);
        // A link reports the frame's whole length, also when the buffer took less of it.
        return int(frame.size());
    }

    int recordReply(int handle, void* buf, int size)
    {
        auto frame = recordFrom->receive(sim::Port(handle));
        if (!frame) {
            clockUs += 100;
            return 0;
        }
        recordTo->byte(std::uint8_t(handle ? SecondaryPort : 0));
        recordTo->chunk(*frame);
        const std::size_t n = std::min(frame->size(), std::size_t(size));
        std::memcpy(buf, frame->data(), n);
        return int(n);
    }

    static int wait(void* ctx, int, int usec)
    {
        auto* self = static_cast<ScriptLink*>(ctx);
        if (self->recordFrom || !self->replies.empty())
            return 1;
        self->clockUs += std::uint64_t(usec > 0 ? usec : 0);
        return 0;
    }
};

alignas(8) std::uint8_t image[4096];

/* A mapped group as the mapping would leave it: outputs then inputs, in `segments` frames. */
void fakeGroup(bool blockLrw, bool withClock)
{
    std::memset(&ec_group[0], 0, sizeof ec_group[0]);
    ec_groupt& grp = ec_group[0];
    grp.logstartaddr = 0x00010000;
    grp.Obytes = 24;
    grp.Ibytes = 40;
    grp.outputs = image;
    grp.inputs = image + grp.Obytes;
    grp.blockLRW = blockLrw ? 1 : 0;
    grp.nsegments = 2;
    grp.IOsegment[0] = 32;
    grp.IOsegment[1] = 32;
    grp.Isegment = 0;
    grp.Ioffset = 24;
    grp.hasdc = withClock ? TRUE : FALSE;
    grp.DCnext = withClock ? 1 : 0;
    ec_groupimagesize[0] = sizeof image;
    for (std::size_t i = 0; i < grp.Obytes; ++i)
        image[i] = std::uint8_t(i);
}

void runOperation(int op)
{
    std::uint8_t data[1500] = {};
    ec_slavecount = 2;
    ec_slave[1].configadr = 0x1001;
    ec_slave[2].configadr = 0x1002;
    switch (op) {
    case 0:
        ec_BRD(0x0000, ECT_REG_TYPE, 2, data, EC_TIMEOUT_FRAME);
        ec_APRD(0x0000, ECT_REG_ALSTAT, 2, data, EC_TIMEOUT_FRAME);
        ec_FPRDw(0x1001, ECT_REG_ALSTAT, EC_TIMEOUT_FRAME);
        ec_APWRw(0xFFFF, 0x0010, 0x1002, EC_TIMEOUT_FRAME);
        break;
    case 1:
        ec_LRD(0x00010000, 64, data, EC_TIMEOUT_FRAME);
        ec_LWR(0x00010000, 64, data, EC_TIMEOUT_FRAME);
        ec_LRW(0x00010000, 1000, data, EC_TIMEOUT_FRAME);
        break;
    case 2: {
        int64 dctime = 0;
        ec_LRWDC(0x00010000, 32, data, 0x1001, &dctime, EC_TIMEOUT_FRAME);
        ec_LRWDC(0x00010000, EC_MAXLRWDCDATA, data, 0x1001, &dctime, EC_TIMEOUT_FRAME);
        break;
    }
    case 3:
    case 4:
        fakeGroup(op == 4, op == 3);
        for (int cycle = 0; cycle < 2; ++cycle) {
            ec_send_processdata();
            ec_receive_processdata(EC_TIMEOUT_FRAME);
        }
        std::memset(&ec_group[0], 0, sizeof ec_group[0]);
        ec_groupimagesize[0] = 0;
        break;
    case 5:
        ec_readstate();
        break;
    case 6:
        ec_FPRD(0x1002, 0x1000, 1400, data, EC_TIMEOUT_FRAME);
        ec_FPWR(0x1002, 0x1000, 128, data, EC_TIMEOUT_FRAME);
        ec_ARMW(0x0000, ECT_REG_DCSYSTIME, 8, data, EC_TIMEOUT_FRAME);
        break;
    default:
        break;
    }
    ec_slavecount = 0;
}

/* One run: open the port (both for the redundant exchange), run, close. */
void runInput(int op, ScriptLink& link)
{
    link.install();
    ec_lastidx = 0;
    const bool redundant = op == 7;
    const int opened = redundant ? ec_init_redundant("fuzz0", "fuzz1") : ec_init("fuzz0");
    if (opened > 0) {
        if (redundant) {
            std::uint8_t data[64] = {};
            ec_APRD(0x0000, ECT_REG_ALSTAT, 2, data, EC_TIMEOUT_FRAME);
            ec_BRD(0x0000, ECT_REG_TYPE, 2, data, EC_TIMEOUT_FRAME);
            ec_LRW(0x00010000, 48, data, EC_TIMEOUT_FRAME);
        } else {
            runOperation(op);
        }
    }
    ec_close();
    ec_errort e;
    while (ec_poperror(&e)) {}
    ec_setlink(nullptr);
    ec_setclock(nullptr);
}

void writeSeeds(const char* dir)
{
    for (int op = 0; op < Operations; ++op) {
        sim::Chain chain = *sim::layouts().build("generic:2");
        if (op == 7)
            chain.setRing(true);
        sim::InProcessLink sim(chain);
        FuzzInputWriter seed;
        seed.byte(std::uint8_t(op));
        ScriptLink link;
        link.recordFrom = &sim;
        link.recordTo = &seed;
        runInput(op, link);
        const std::string path = std::string(dir) + "/op" + std::to_string(op);
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(seed.bytes().data(), 1, seed.bytes().size(), f);
            std::fclose(f);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* dir = std::getenv("ZUVIAN_SEED_DIR")) {
        writeSeeds(dir);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    const int op = input.byte() % Operations;
    ScriptLink link;
    std::vector<std::uint8_t> frame;
    while (!input.empty()) {
        const std::uint8_t flags = input.byte();
        if (!input.chunk(frame))
            break;
        link.replies.push_back({flags, frame});
    }
    runInput(op, link);
    return 0;
}
