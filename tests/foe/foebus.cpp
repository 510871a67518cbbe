#include "foebus.h"

namespace foetest {

sim::Slave foeSlave(const std::string& name, std::shared_ptr<sim::FoeServer> server,
    std::initializer_list<sim::AlState> states, std::uint16_t writeSize, std::uint16_t readSize)
{
    sim::Bytes sii = sim::SiiBuilder()
                         .identity(0x5A5601, 0x1234, 1)
                         .name(name)
                         .standardMailbox(kMailboxOut, writeSize, kMailboxIn, readSize)
                         .bootstrapMailbox(kBootOut, kBootSize, kBootIn, kBootSize)
                         .mailboxProtocols(sim::mbxproto::FoE)
                         .build();
    sim::Slave slave(sii);
    slave.mailbox().setHandler(std::move(server), states);
    return slave;
}

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed)
{
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return v;
}

} // namespace foetest
