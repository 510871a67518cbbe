/*
 * Helpers of the simulator tests: one-datagram exchanges with a chain, and ready-made slaves.
 */
#ifndef TESTS_SIM_SIMTEST_H
#define TESTS_SIM_SIMTEST_H

#include "core/chain.h"
#include "core/frame.h"
#include "core/siibuilder.h"

#include <cstdint>
#include <optional>

namespace simtest {

/* Data and working counter of a datagram after the chain, or nothing when the frame was lost. */
struct Reply
{
    sim::Bytes data;
    std::uint16_t wkc = 0;
};

inline std::optional<Reply> exchange(sim::Chain &chain, sim::Command cmd, std::uint16_t adp, std::uint16_t ado,
                                     const sim::Bytes &data)
{
    sim::FrameBuilder f;
    f.add(cmd, adp, ado, data);
    auto out = chain.process(f.frame(), sim::Port::Primary);
    if (!out)
        return std::nullopt;
    auto r = sim::datagramResult(out->frame, 0);
    if (!r)
        return std::nullopt;
    return Reply{r->data, r->workingCounter};
}

inline std::optional<Reply> exchange(sim::Chain &chain, sim::Command cmd, std::uint16_t adp, std::uint16_t ado,
                                     std::size_t length)
{
    return exchange(chain, cmd, adp, ado, sim::Bytes(length, 0));
}

inline sim::Bytes le16(std::uint16_t v)
{
    return {std::uint8_t(v), std::uint8_t(v >> 8)};
}

inline std::uint16_t word(const sim::Bytes &b, std::size_t at = 0)
{
    return std::uint16_t(b.at(at) | (b.at(at + 1) << 8));
}

/* 8-byte SyncManager register block. */
inline sim::Bytes smBlock(std::uint16_t start, std::uint16_t length, std::uint8_t control, std::uint8_t activate)
{
    sim::Bytes b(8, 0);
    sim::putLe16(&b[0], start);
    sim::putLe16(&b[2], length);
    b[4] = control;
    b[6] = activate;
    return b;
}

/* 16-byte FMMU register block. */
inline sim::Bytes fmmuBlock(std::uint32_t logical, std::uint16_t length, std::uint16_t physical, std::uint8_t type,
                            std::uint8_t startBit = 0, std::uint8_t endBit = 7)
{
    sim::Bytes b(16, 0);
    sim::putLe32(&b[0], logical);
    sim::putLe16(&b[4], length);
    b[6] = startBit;
    b[7] = endBit;
    sim::putLe16(&b[8], physical);
    b[11] = type;
    b[12] = 1;
    return b;
}

/* A mailbox slave: standard mailbox 0x1000/0x1080 of 128 bytes, bootstrap 0x1400/0x1600 of 256. */
inline sim::Bytes mailboxSii(const std::string &name = "Mailbox Slave")
{
    return sim::SiiBuilder()
        .identity(0x00000A5A, 0x00000002, 0x00000003, 4)
        .name(name)
        .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
        .bootstrapMailbox(0x1400, 0x100, 0x1600, 0x100)
        .mailboxProtocols(sim::mbxproto::CoE | sim::mbxproto::FoE)
        .build();
}

/* Configured address of slave n after `addressAll`. */
inline std::uint16_t station(std::size_t n)
{
    return std::uint16_t(0x1000 + n);
}

/* Give every slave the station address 0x1000 + its number, by auto-increment writes. */
inline void addressAll(sim::Chain &chain)
{
    for (std::size_t n = 1; n <= chain.size(); ++n)
        exchange(chain, sim::Command::Apwr, std::uint16_t(1 - n), 0x0010, le16(station(n)));
}

/* Request an AL state with FPWR and return the AL Status word that follows. */
inline std::uint16_t requestState(sim::Chain &chain, std::size_t n, std::uint16_t state)
{
    exchange(chain, sim::Command::Fpwr, station(n), 0x0120, le16(state));
    return word(exchange(chain, sim::Command::Fprd, station(n), 0x0130, 2)->data);
}

/* Set up SyncManagers 0 and 1 as the standard mailbox of `mailboxSii` and go to PRE-OP. */
inline std::uint16_t toPreOp(sim::Chain &chain, std::size_t n)
{
    exchange(chain, sim::Command::Fpwr, station(n), 0x0800, smBlock(0x1000, 0x80, 0x26, 0x01));
    exchange(chain, sim::Command::Fpwr, station(n), 0x0808, smBlock(0x1080, 0x80, 0x22, 0x01));
    return requestState(chain, n, 0x12);
}

} // namespace simtest

#endif
