// IDN read and write against the SoE test drive on the virtual bus: values cut to the caller's
// buffer, fragmented reads and writes, drive errors and the process data sizes from IDN 16 and 24.
#include "soebus.h"

#include "ethercatconfigmap.h"

namespace {

class SoeReadWrite : public SoeBus
{
protected:
    void SetUp() override { start(); }
};

TEST_F(SoeReadWrite, FragmentThatCannotBeSentEndsTheWriteAsAFailure)
{
    // Four fragments. The drive stops taking messages once the first is in and takes them again
    // 25 ms later: the second waits in the mailbox, the third cannot be sent, the fourth would get
    // through. A drive that does not count fragments would then answer the value, a fragment
    // short, as written.
    sim::Slave& drive = bus->slave(Slave);
    std::uint64_t heldSince = 0;
    drive.hooks().afterFrame = [&](sim::Slave& s) {
        sim::MailboxFaults& faults = s.mailbox().faults();
        if (heldSince == 0 && server->writeFragments().size() == 1) {
            faults.holdWriteMailbox = true;
            heldSince = bus->clock().nowUs();
        } else if (faults.holdWriteMailbox && bus->clock().nowUs() - heldSince > 25000)
            faults.holdWriteMailbox = false;
    };
    std::vector<uint8> data(400, 0x5A);
    int wkc = ec_SoEwrite(
        Slave, 0, EC_SOE_VALUE_B, sim::soe::ScratchIdn, int(data.size()), data.data(), 1000);
    EXPECT_LE(wkc, 0);
    EXPECT_NE(server->find(sim::soe::ScratchIdn)->value, data);
}

TEST_F(SoeReadWrite, RefusalsLeaveTheDrivesErrorCode)
{
    uint32 value = 1;
    uint16 shortValue = 1;
    int size = sizeof(value);
    EXPECT_EQ(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 4711, &size, &value, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(
        ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, 47, sizeof(value), &value, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, sim::soe::ParameterIdn, sizeof(shortValue),
                  &shortValue, EC_TIMEOUT_MBXRX),
        0);
    server->failWrites(0x7009);
    EXPECT_EQ(ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, sim::soe::ParameterIdn, sizeof(value), &value,
                  EC_TIMEOUT_MBXRX),
        0);
    // Each entry: type, slave, error code, IDN.
    std::vector<std::tuple<int, int, int, int>> list;
    for (const auto& e : errors())
        list.emplace_back(e.Etype, e.Slave, e.ErrorCode, e.Index);
    const int soe = EC_ERR_TYPE_SOE_ERROR;
    EXPECT_EQ(list,
        (decltype(list){{soe, Slave, 0x1001, 4711}, {soe, Slave, 0x7004, 47},
            {soe, Slave, 0x7002, sim::soe::ParameterIdn},
            {soe, Slave, 0x7009, sim::soe::ParameterIdn}}));
}

TEST_F(SoeReadWrite, SilentDriveGivesPacketErrorFour)
{
    bus->slave(Slave).mailboxFaults().neverAnswer = true;
    uint32 value = 0;
    int size = sizeof(value);
    EXPECT_LE(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, 47, &size, &value, EC_TIMEOUT_MBXRX), 0);
    auto e = onlyError();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Etype, EC_ERR_TYPE_PACKET_ERROR);
    EXPECT_EQ(e->ErrorCode, 4);
    EXPECT_EQ(e->Index, 47);
}

TEST_F(SoeReadWrite, ListEntriesAddNothingAndOverlongListsGiveZero)
{
    // Lengths 1 and 2 plus a list entry: 16 + 16 + 32 + 0.
    auto* mdt = const_cast<sim::soe::Idn*>(server->find(24));
    mdt->value = sim::soe::idnList({84, 51, sim::soe::ScratchIdn});
    int osize = 0, isize = 0;
    EXPECT_EQ(ec_readIDNmap(Slave, &osize, &isize), 1);
    EXPECT_EQ(osize, 64);

    std::vector<uint16_t> many(65, 47);
    mdt->value = sim::soe::idnList(many);
    EXPECT_EQ(ec_readIDNmap(Slave, &osize, &isize), 1);
    EXPECT_EQ(osize, 0);
    EXPECT_EQ(isize, sim::soe::SoeSlaveInputBits);
}

class SoeSmallMailbox : public SoeBus
{
protected:
    void SetUp() override
    {
        sim::soe::SoeSlaveOptions options;
        options.mailboxSize = 50;
        start(options);
    }
};

// 50-byte mailboxes: 40 data bytes per fragment, each way.
TEST_F(SoeSmallMailbox, HundredBytesTravelIn40_40_20BothWays)
{
    std::vector<uint8> data(100);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8(i);
    ASSERT_GT(ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, sim::soe::ScratchIdn, int(data.size()),
                  data.data(), EC_TIMEOUT_MBXRX),
        0);
    // Each fragment: incomplete flag, IDN field (fragments still to come, then the IDN), data bytes.
    std::vector<std::tuple<bool, int, size_t>> fragments;
    for (const auto& f : server->writeFragments())
        fragments.emplace_back(f.incomplete, f.idnField, f.dataBytes);
    EXPECT_EQ(fragments,
        (decltype(fragments){{true, 2, 40}, {true, 1, 40}, {false, sim::soe::ScratchIdn, 20}}));
    EXPECT_EQ(server->find(sim::soe::ScratchIdn)->value, data);

    // Read back whole, and into a buffer that ends inside the second fragment.
    for (size_t capacity : {size_t(120), size_t(60)}) {
        std::vector<uint8> back(capacity, 0xEE);
        int size = int(back.size());
        ASSERT_GT(ec_SoEread(Slave, 0, EC_SOE_VALUE_B, sim::soe::ScratchIdn, &size, back.data(),
                      EC_TIMEOUT_MBXRX),
            0);
        ASSERT_EQ(size_t(size), std::min(capacity, data.size()));
        back.resize(size_t(size));
        EXPECT_EQ(back, std::vector<uint8>(data.begin(), data.begin() + size));
    }
    EXPECT_TRUE(errors().empty());
}

TEST_F(SoeSmallMailbox, MailboxWithoutRoomForDataRefusesTheWrite)
{
    ec_slave[Slave].mbx_l = 10;
    uint8 b = 1;
    EXPECT_EQ(
        ec_SoEwrite(Slave, 0, EC_SOE_VALUE_B, sim::soe::ParameterIdn, 1, &b, EC_TIMEOUT_MBXRX), 0);
    EXPECT_TRUE(server->writeFragments().empty());
    auto e = onlyError();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->ErrorCode, 3);
}

} // namespace
