// The emulated slave's AL state machine driven through AL Control. The master's tests only ask for
// what a slave grants, so each refusal is asked for here, with the AL status code it must give.
#include "core/chain.h"
#include "core/frame.h"
#include "core/siibuilder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

using sim::Command;

namespace {

/* The data of a datagram after the chain, or nothing when the frame was lost. */
std::optional<sim::Bytes> exchange(sim::Chain& chain, sim::Command cmd, std::uint16_t adp,
    std::uint16_t ado, const sim::Bytes& data)
{
    sim::FrameBuilder f;
    f.add(cmd, adp, ado, data);
    auto out = chain.process(f.frame(), sim::Port::Primary);
    if (!out)
        return std::nullopt;
    auto r = sim::datagramResult(out->frame, 0);
    if (!r)
        return std::nullopt;
    return r->data;
}

sim::Bytes le16(std::uint16_t v)
{
    return {std::uint8_t(v), std::uint8_t(v >> 8)};
}

/* 16-bit register `reg` of the slave at station `station`. */
std::uint16_t readWord(sim::Chain& chain, std::uint16_t station, std::uint16_t reg)
{
    const auto r = exchange(chain, sim::Command::Fprd, station, reg, sim::Bytes(2, 0));
    return r ? std::uint16_t(r->at(0) | (r->at(1) << 8)) : 0xDEAD;
}

/* 8-byte SyncManager register block. */
sim::Bytes smBlock(
    std::uint16_t start, std::uint16_t length, std::uint8_t control, std::uint8_t activate)
{
    sim::Bytes b(8, 0);
    sim::putLe16(&b[0], start);
    sim::putLe16(&b[2], length);
    b[4] = control;
    b[6] = activate;
    return b;
}

const std::uint16_t Station = 0x1001;

/* What a step writes into SyncManagers 0 and 1 before its request. */
enum class Sm { Keep, Standard, ShortWrite, WrongDirection, Disabled, Bootstrap };

void setUp(sim::Chain& chain, Sm sm)
{
    // The SII describes a standard mailbox of 0x80 bytes at 0x1000/0x1080 and a bootstrap one
    // of 0x100 bytes at 0x1400/0x1600.
    sim::Bytes write, read = smBlock(0x1080, 0x80, 0x22, 0x01);
    switch (sm) {
    case Sm::Keep:
        return;
    case Sm::Standard:
        write = smBlock(0x1000, 0x80, 0x26, 0x01);
        break;
    case Sm::ShortWrite:
        write = smBlock(0x1000, 0x40, 0x26, 0x01);
        break;
    case Sm::WrongDirection:
        write = smBlock(0x1000, 0x80, 0x22, 0x01);
        break;
    case Sm::Disabled:
        write = smBlock(0x1000, 0x80, 0x26, 0x00);
        break;
    case Sm::Bootstrap:
        write = smBlock(0x1400, 0x100, 0x26, 0x01);
        read = smBlock(0x1600, 0x100, 0x22, 0x01);
        break;
    }
    exchange(chain, Command::Fpwr, Station, 0x0800, write);
    exchange(chain, Command::Fpwr, Station, 0x0808, read);
}

TEST(AlState, TransitionsGrantedAndRefusedWithTheirCodes)
{
    sim::Chain chain;
    chain.add(sim::Slave(sim::SiiBuilder()
                             .identity(0x00000A5A, 2, 3)
                             .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
                             .bootstrapMailbox(0x1400, 0x100, 0x1600, 0x100)
                             .mailboxProtocols(sim::mbxproto::CoE | sim::mbxproto::FoE)
                             .build()));
    exchange(chain, Command::Apwr, 0, 0x0010, le16(Station));

    struct Step
    {
        const char* what;
        Sm sm;
        std::uint16_t request, status, code;
    };
    const Step steps[] = {
        {"PRE-OP needs the mailbox", Sm::Keep, 0x02, 0x0011, 0x0016},
        {"no acknowledge, no change", Sm::Standard, 0x02, 0x0011, 0x0016},
        {"write mailbox shorter than the SII's", Sm::ShortWrite, 0x12, 0x0011, 0x0016},
        {"write mailbox in the read direction", Sm::WrongDirection, 0x12, 0x0011, 0x0016},
        {"write mailbox not enabled", Sm::Disabled, 0x12, 0x0011, 0x0016},
        {"mailbox as the SII says", Sm::Standard, 0x12, 0x0002, 0},
        {"PRE-OP to OP skips SAFE-OP", Sm::Keep, 0x08, 0x0012, 0x0011},
        {"SAFE-OP", Sm::Keep, 0x14, 0x0004, 0},
        {"OP", Sm::Keep, 0x08, 0x0008, 0},
        {"down from OP", Sm::Keep, 0x02, 0x0002, 0},
        {"BOOT only from INIT", Sm::Keep, 0x03, 0x0012, 0x0011},
        {"INIT", Sm::Keep, 0x11, 0x0001, 0},
        {"BOOT needs the bootstrap mailbox", Sm::Standard, 0x03, 0x0011, 0x0015},
        {"BOOT", Sm::Bootstrap, 0x13, 0x0003, 0},
        {"BOOT leads only to INIT", Sm::Keep, 0x02, 0x0013, 0x0011},
        {"INIT from BOOT", Sm::Keep, 0x11, 0x0001, 0},
        {"INIT to SAFE-OP skips PRE-OP", Sm::Keep, 0x04, 0x0011, 0x0011},
        {"acknowledged in INIT", Sm::Keep, 0x11, 0x0001, 0},
        {"no such state", Sm::Keep, 0x07, 0x0011, 0x0012},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        setUp(chain, step.sm);
        exchange(chain, Command::Fpwr, Station, 0x0120, le16(step.request));
        EXPECT_EQ(readWord(chain, Station, 0x0130), step.status);
        if (step.code != 0) {
            EXPECT_EQ(readWord(chain, Station, 0x0134), step.code);
        }
    }

    // BOOT on a slave whose SII has no bootstrap mailbox.
    sim::Chain plain;
    plain.add(sim::Slave(
        sim::SiiBuilder().identity(1, 2, 3).standardMailbox(0x1000, 0x80, 0x1080, 0x80).build()));
    exchange(plain, Command::Apwr, 0, 0x0010, le16(Station));
    exchange(plain, Command::Fpwr, Station, 0x0120, le16(0x03));
    EXPECT_EQ(readWord(plain, Station, 0x0130), 0x0011);
    EXPECT_EQ(readWord(plain, Station, 0x0134), 0x0013);
}

} // namespace
