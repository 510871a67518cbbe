/*
 * Helpers of the simulator tests: one-datagram exchanges with a chain.
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

inline std::optional<Reply> exchange(sim::Chain &chain, sim::Command cmd, std::uint16_t adp,
                                     std::uint16_t ado, const sim::Bytes &data)
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

inline sim::Bytes le16(std::uint16_t v)
{
    return {std::uint8_t(v), std::uint8_t(v >> 8)};
}

/* 16-bit register `reg` of the slave at station `station`. */
inline std::uint16_t readWord(sim::Chain &chain, std::uint16_t station, std::uint16_t reg)
{
    const auto r = exchange(chain, sim::Command::Fprd, station, reg, sim::Bytes(2, 0));
    return r ? std::uint16_t(r->data.at(0) | (r->data.at(1) << 8)) : 0xDEAD;
}

/* 8-byte SyncManager register block. */
inline sim::Bytes smBlock(std::uint16_t start, std::uint16_t length, std::uint8_t control,
                          std::uint8_t activate)
{
    sim::Bytes b(8, 0);
    sim::putLe16(&b[0], start);
    sim::putLe16(&b[2], length);
    b[4] = control;
    b[6] = activate;
    return b;
}

} // namespace simtest

#endif
