/*
 * FMMU coverage of the process data SyncManagers (see fmmucoverage.h).
 */
#include "pdo/fmmucoverage.h"

#include "core/fmmu.h"
#include "core/registers.h"

#include <vector>

namespace sim {
namespace pdo {

namespace {

constexpr std::uint16_t FmmuBlockSize = 16;

std::vector<Fmmu> activeFmmus(const Slave& slave)
{
    std::vector<Fmmu> out;
    const Bytes& memory = slave.esc().memory();
    for (int n = 0; n < slave.esc().fmmuCount(); ++n) {
        std::size_t at = std::size_t(reg::Fmmu0) + std::size_t(n) * FmmuBlockSize;
        if (at + FmmuBlockSize > memory.size())
            break;
        Fmmu f = Fmmu::fromRegisters(&memory[at]);
        if (f.active)
            out.push_back(f);
    }
    return out;
}

/* Marks, byte by byte, which physical bytes of `sm` the FMMUs of the wanted direction reach. */
bool covered(const SyncManager& sm, const std::vector<Fmmu>& fmmus, bool masterWrites)
{
    std::vector<bool> reached(sm.span(), false);
    for (const Fmmu& f : fmmus) {
        if (masterWrites ? !f.writes() : !f.reads())
            continue;
        fmmuForEachBit(f, f.logicalStart, f.length, [&](std::size_t, int, std::uint16_t phys, int) {
            if (sm.contains(phys))
                reached[std::size_t(phys - sm.start)] = true;
        });
    }
    for (bool r : reached)
        if (!r)
            return false;
    return true;
}

} // namespace

std::uint16_t fmmuCoverage(const Slave& slave)
{
    const SyncManagers& sms = slave.esc().syncManagers();
    std::vector<Fmmu> fmmus = activeFmmus(slave);
    for (int n = 0; n < sms.count(); ++n) {
        const SyncManager& sm = sms.at(n);
        if (sm.mailbox() || !sm.enabled())
            continue;
        bool out = sm.masterWrites();
        if (!covered(sm, fmmus, out))
            return out ? alcode::InvalidOutputConfiguration : alcode::InvalidInputConfiguration;
    }
    return 0;
}

TransitionRule withFmmuCoverage(TransitionRule rule)
{
    return [rule](Slave& slave, AlState from, AlState to) -> std::uint16_t {
        if (from == AlState::PreOp && to == AlState::SafeOp) {
            if (std::uint16_t code = fmmuCoverage(slave))
                return code;
        }
        return rule ? rule(slave, from, to) : 0;
    };
}

} // namespace pdo
} // namespace sim
