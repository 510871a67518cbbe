// A range read or written whole (a mailbox message, a process data area, plain memory) leaves the
// same traces as byte by byte: the bytes, whether the access counted, the full flags, the
// buffered areas' half-written updates and the counters the slave watches. Random set-ups, with
// SyncManagers that overlap, are disabled or deactivated, and random ranges around them and within
// them.
#include "core/registers.h"
#include "core/syncmanager.h"

#include <gtest/gtest.h>

#include <random>

namespace {

constexpr int Count = 4;

void setUp(sim::SyncManagers& sms, int n, std::uint16_t start, std::uint16_t length,
    std::uint8_t control, bool enable)
{
    const std::uint16_t base = std::uint16_t(sim::reg::SyncManager0 + 8 * n);
    const std::uint8_t bytes[5] = {std::uint8_t(start), std::uint8_t(start >> 8),
        std::uint8_t(length), std::uint8_t(length >> 8), control};
    for (int i = 0; i < 5; ++i)
        sms.writeRegister(std::uint16_t(base + i), bytes[i]);
    sms.writeRegister(std::uint16_t(base + 6), enable ? 0x01 : 0x00);
}

/* What the controller does for each byte in turn; an unguarded byte is plain memory. */
bool byteByByte(sim::SyncManagers& sms, bool write, std::uint16_t address, std::uint8_t* data,
    std::uint16_t length, sim::Bytes& memory)
{
    bool counted = false;
    for (std::uint16_t i = 0; i < length; ++i) {
        const std::uint16_t at = std::uint16_t(address + i);
        std::uint8_t value = 0;
        const sim::Access a
            = write ? sms.masterWrite(at, data[i], memory) : sms.masterRead(at, memory, value);
        if (a == sim::Access::Unguarded) {
            if (write)
                memory[at] = data[i];
            else
                data[i] = memory[at];
        } else if (a == sim::Access::Done && !write) {
            data[i] = value;
        }
        counted = counted || a != sim::Access::Refused;
    }
    return counted;
}

TEST(SyncManagers, ARangeAccessedWholeIsTheSameAsByteByByte)
{
    std::mt19937 random(30);
    int whole = 0, plain = 0;
    for (int setup = 0; setup < 300; ++setup) {
        sim::SyncManagers fast(Count), slow(Count);
        sim::Bytes fastMemory(0x10000, 0), slowMemory(0x10000, 0);
        const std::uint8_t controls[] = {0x26, 0x22, 0x24, 0x20}; // write, read mailbox; buffered
        for (int n = 0; n < Count; ++n) {
            const std::uint16_t start = std::uint16_t(0x1000 + random() % 0x60);
            const std::uint16_t length = std::uint16_t(random() % 48);
            const bool enable = random() % 5 != 0;
            setUp(fast, n, start, length, controls[random() % 4], enable);
            setUp(slow, n, start, length, fast.at(n).control, enable);
            const bool off = random() % 6 == 0;
            fast.setDeactivated(n, off);
            slow.setDeactivated(n, off);
        }
        for (int step = 0; step < 40; ++step) {
            // The slave's side now and then: it takes what the master wrote, posts a reply.
            const int n = int(random() % Count);
            if (random() % 3 == 0 && fast.full(n)) {
                ASSERT_EQ(fast.take(n, fastMemory), slow.take(n, slowMemory));
            } else if (random() % 3 == 0) {
                const sim::Bytes reply(random() % 40, std::uint8_t(random()));
                ASSERT_EQ(fast.post(n, reply, fastMemory), slow.post(n, reply, slowMemory));
            }
            const bool write = random() % 2 == 0;
            std::uint16_t address = std::uint16_t(0x0FF8 + random() % 0x90);
            std::uint16_t length = std::uint16_t(random() % 56);
            if (random() % 2 == 0) {
                // Within one SyncManager's area: all of it, its start, its end, or its middle.
                const sim::SyncManager& sm = fast.at(int(random() % Count));
                const std::uint16_t from
                    = std::uint16_t(random() % 3 == 0 ? 0 : random() % (sm.length + 1u));
                const std::uint16_t to = std::uint16_t(
                    random() % 3 == 0 ? sm.length : from + random() % (sm.length - from + 1u));
                address = std::uint16_t(sm.start + from);
                length = std::uint16_t(to - from);
            }
            std::uint8_t in[64], fastData[64], slowData[64];
            for (std::uint8_t& b : in)
                b = std::uint8_t(random());
            std::copy(in, in + 64, fastData);
            std::copy(in, in + 64, slowData);
            const std::optional<sim::Access> a = write
                ? fast.writeRange(address, fastData, length, fastMemory)
                : fast.readRange(address, fastData, length, false, fastMemory);
            std::optional<bool> counted;
            if (a == sim::Access::Unguarded) {
                // Plain memory, as the controller then treats it.
                if (write)
                    std::copy(fastData, fastData + length, &fastMemory[address]);
                else
                    std::copy(&fastMemory[address], &fastMemory[address] + length, fastData);
                counted = length > 0;
            } else if (a) {
                counted = *a == sim::Access::Done;
            }
            if (counted)
                ++(a == sim::Access::Unguarded ? plain : whole);
            else
                counted = byteByByte(fast, write, address, fastData, length, fastMemory);
            const bool slowCounted = byteByByte(slow, write, address, slowData, length, slowMemory);
            ASSERT_EQ(*counted, slowCounted) << "setup " << setup << " step " << step;
            ASSERT_TRUE(std::equal(fastData, fastData + 64, slowData)) << "setup " << setup;
            ASSERT_EQ(fastMemory, slowMemory) << "setup " << setup << " step " << step;
            for (int n = 0; n < Count; ++n) {
                ASSERT_EQ(fast.full(n), slow.full(n)) << "setup " << setup << " SM" << n;
                ASSERT_EQ(fast.readsCompleted(n), slow.readsCompleted(n));
                ASSERT_EQ(fast.writesCompleted(n), slow.writesCompleted(n));
            }
        }
    }
    EXPECT_GT(whole, 2000) << "the whole-range path was hardly taken";
    EXPECT_GT(plain, 500) << "the plain-memory path was hardly taken";
}

} // namespace
