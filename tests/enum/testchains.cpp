/*
 * Slaves for the enumeration tests.
 */
#include "testchains.h"

#include "core/slave.h"

namespace enumtest {

namespace {

sim::SiiPdo pdo(std::uint16_t index, std::uint8_t sm, std::uint8_t bits)
{
    sim::SiiPdo p;
    p.index = index;
    p.syncManager = sm;
    sim::SiiPdoEntry e;
    e.index = 0x6000;
    e.subIndex = 1;
    e.bitLength = bits;
    p.entries = {e, e};
    return p;
}

} // namespace

sim::SiiBuilder controllerSii(const std::string &name, std::uint32_t product)
{
    sim::SiiGeneral general;
    general.coeDetails = 0x23;
    general.foeDetails = 0x01;
    general.ebusCurrent = 120;
    sim::SiiBuilder b;
    b.identity(ControllerVendor, product, 0x00010002)
        .name(name)
        .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
        .bootstrapMailbox(0x1000, 0x200, 0x1200, 0x200)
        .mailboxProtocols(sim::mbxproto::CoE | sim::mbxproto::FoE)
        .general(general)
        .fmmus({1, 2, 3})
        .syncManagers({{0x1000, 0x80, 0x26, 0, 1, 1},
                       {0x1080, 0x80, 0x22, 0, 1, 2},
                       {OutputsStart, 8, 0x64, 0, 1, 3},
                       {InputsStart, 8, 0x20, 0, 1, 4}})
        .rxPdo(pdo(0x1600, 2, 32))
        .txPdo(pdo(0x1A00, 3, 32));
    return b;
}

sim::SiiBuilder boardSii(const std::string &name, std::uint32_t product)
{
    sim::SiiGeneral general;
    general.ebusCurrent = 40;
    sim::SiiBuilder b;
    b.identity(BoardVendor, product, 1).name(name).general(general).syncManagers({});
    return b;
}

sim::Chain chainOf(const std::vector<sim::Bytes> &images)
{
    sim::Chain chain;
    for (const auto &image : images)
        chain.add(sim::Slave(image));
    return chain;
}

} // namespace enumtest
