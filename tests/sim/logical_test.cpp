// A controller that reads and writes whole ranges (a logical datagram's FMMU parts, a mailbox
// message, a process data area) answers every datagram exactly as one that goes byte by byte: the
// same data and working counter back, the same memory, the same mailbox and buffer states after.
// Random FMMU and SyncManager set-ups: whole-byte and bit FMMUs, overlapping ones, FMMUs that both
// read and write, buffered and mailbox SyncManagers, some disabled or deactivated by the slave.
#include "core/esc.h"
#include "core/frame.h"
#include "core/registers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int Fmmus = 4;
constexpr int SyncManagers = 4;

struct Pair
{
    sim::Esc fast{sim::Bytes(256, 0), options(true)};
    sim::Esc slow{sim::Bytes(256, 0), options(false)};

    static sim::EscOptions options(bool wholeRanges)
    {
        sim::EscOptions o;
        o.fmmus = Fmmus;
        o.syncManagers = SyncManagers;
        o.wholeRanges = wholeRanges;
        return o;
    }

    /* The same datagram to both; the replies must agree. */
    void exchange(sim::Command cmd, std::uint16_t adp, std::uint16_t ado, const sim::Bytes& data,
        std::uint64_t now)
    {
        sim::FrameBuilder builder;
        builder.add(cmd, adp, ado, data);
        sim::Bytes fastFrame = builder.frame(), slowFrame = builder.frame();
        auto fastDatagrams = sim::parseFrame(fastFrame);
        auto slowDatagrams = sim::parseFrame(slowFrame);
        ASSERT_TRUE(fastDatagrams && slowDatagrams);
        fast.process(fastDatagrams->front(), now);
        fast.endDatagram(now);
        slow.process(slowDatagrams->front(), now);
        slow.endDatagram(now);
        ASSERT_EQ(fastFrame, slowFrame);
    }

    /* A register block written through both, as the master's set-up does. */
    void writeRegisters(std::uint16_t address, const sim::Bytes& bytes, std::uint64_t now)
    {
        exchange(sim::Command::Fpwr, 0, address, bytes, now);
    }
};

TEST(LogicalDatagrams, WholeRangesAnswerAsByteByByte)
{
    std::mt19937 random(32);
    int spans = 0;
    for (int setup = 0; setup < 200; ++setup) {
        Pair p;
        std::uint64_t now = 1000;
        for (int n = 0; n < SyncManagers; ++n) {
            const std::uint16_t start = std::uint16_t(0x1000 + 0x20 * (random() % 6));
            const std::uint16_t length = std::uint16_t(1 + random() % 0x30);
            const std::uint8_t controls[] = {0x26, 0x22, 0x24, 0x20, 0x64, 0x20};
            const std::uint8_t control = controls[random() % 6];
            p.writeRegisters(std::uint16_t(sim::reg::SyncManager0 + 8 * n),
                {std::uint8_t(start), std::uint8_t(start >> 8), std::uint8_t(length),
                    std::uint8_t(length >> 8), control, 0, std::uint8_t(random() % 5 != 0), 0},
                now);
            if (random() % 8 == 0) {
                p.fast.syncManagers().setDeactivated(n, true);
                p.slow.syncManagers().setDeactivated(n, true);
            }
        }
        for (int n = 0; n < Fmmus; ++n) {
            const std::uint32_t logical = 0x10000 + 0x10 * (random() % 8);
            const std::uint16_t length = std::uint16_t(1 + random() % 0x28);
            const bool whole = random() % 4 != 0;
            const std::uint8_t startBit = whole ? 0 : std::uint8_t(random() % 8);
            const std::uint8_t endBit = whole ? 7 : std::uint8_t(random() % 8);
            const std::uint16_t phys = std::uint16_t(0x1000 + 0x20 * (random() % 6) + random() % 8);
            p.writeRegisters(std::uint16_t(sim::reg::Fmmu0 + 16 * n),
                {std::uint8_t(logical), std::uint8_t(logical >> 8), std::uint8_t(logical >> 16),
                    std::uint8_t(logical >> 24), std::uint8_t(length), std::uint8_t(length >> 8),
                    startBit, endBit, std::uint8_t(phys), std::uint8_t(phys >> 8),
                    whole ? std::uint8_t(0) : std::uint8_t(random() % 8),
                    std::uint8_t(1 + random() % 3), std::uint8_t(random() % 6 != 0), 0, 0, 0},
                now);
        }
        for (int step = 0; step < 30; ++step) {
            now += 10;
            // The slave's side now and then: it takes what the master wrote, posts a reply.
            const int n = int(random() % SyncManagers);
            if (random() % 3 == 0 && p.fast.syncManagers().full(n)) {
                ASSERT_EQ(p.fast.syncManagers().take(n, p.fast.memory()),
                    p.slow.syncManagers().take(n, p.slow.memory()));
            } else if (random() % 3 == 0) {
                const sim::Bytes reply(random() % 0x30, std::uint8_t(random()));
                ASSERT_EQ(p.fast.syncManagers().post(n, reply, p.fast.memory()),
                    p.slow.syncManagers().post(n, reply, p.slow.memory()));
            }
            const sim::Command commands[] = {sim::Command::Lrd, sim::Command::Lwr,
                sim::Command::Lrw, sim::Command::Fprd, sim::Command::Fpwr};
            const sim::Command cmd = commands[random() % 5];
            sim::Bytes data(1 + random() % 0x60);
            for (std::uint8_t& b : data)
                b = std::uint8_t(random());
            const bool logical
                = cmd == sim::Command::Lrd || cmd == sim::Command::Lwr || cmd == sim::Command::Lrw;
            const std::uint32_t address
                = logical ? 0x10000 + random() % 0x90 : 0x1000 + random() % 0xC8;
            p.exchange(cmd, std::uint16_t(logical ? address : 0),
                std::uint16_t(logical ? address >> 16 : address), data, now);
            if (HasFatalFailure())
                FAIL() << "setup " << setup << " step " << step;
            ASSERT_EQ(p.fast.memory(), p.slow.memory()) << "setup " << setup << " step " << step;
            for (int k = 0; k < SyncManagers; ++k) {
                ASSERT_EQ(p.fast.syncManagers().full(k), p.slow.syncManagers().full(k));
                ASSERT_EQ(p.fast.syncManagers().readsCompleted(k),
                    p.slow.syncManagers().readsCompleted(k));
                ASSERT_EQ(p.fast.syncManagers().writesCompleted(k),
                    p.slow.syncManagers().writesCompleted(k));
            }
            spans += logical ? 1 : 0;
        }
    }
    EXPECT_GT(spans, 2000);
}

} // namespace
