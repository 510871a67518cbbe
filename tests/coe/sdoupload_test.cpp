// SDO upload: capacity checks, abort codes of uploads and downloads, complete access, and slaves
// that send more than they announced. (Every size class is read back by the download tests.)
#include "coebus.h"

#include "coe/coeprotocol.h"
#include "coe/demodictionary.h"

namespace demo = sim::coe::demo;

namespace {

class SdoUpload : public CoeBus
{
protected:
    void SetUp() override { start(); }
};

TEST_F(SdoUpload, AnswerLargerThanTheBufferIsRefusedUntouched)
{
    uint8 small[2] = {0xAA, 0xAA};
    int size = sizeof(small);
    EXPECT_EQ(ec_SDOread(Slave, demo::DwordObject, 0, FALSE, &size, small, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::vector<uint8>(small, small + 2), std::vector<uint8>(2, 0xAA));
    auto e = onlyError();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Etype, EC_ERR_TYPE_PACKET_ERROR);
    EXPECT_EQ(e->ErrorCode, 3);
    EXPECT_EQ(e->Slave, Slave);
    EXPECT_EQ(e->Index, demo::DwordObject);

    // A normal answer that announces 1500 bytes to a 1000-byte buffer: nothing is copied.
    std::vector<uint8> buffer(1000, 0xEE);
    size = int(buffer.size());
    EXPECT_EQ(
        ec_SDOread(Slave, demo::LargeObject, 0, FALSE, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 1000);
    EXPECT_TRUE(onlyPacketError(3));
}

// Refused uploads and downloads alike.
TEST_F(SdoUpload, RefusalsCarryTheSlavesAbortCode)
{
    struct Case
    {
        bool write;
        uint16 index;
        uint8 sub;
        int size;
        uint32 code;
    } cases[] = {
        {false, demo::MissingObject, 0, 4, 0x06020000}, {false, 0x1018, 9, 4, 0x06090011},
        {false, demo::WriteOnlyObject, 0, 4, 0x06010001},
        {true, demo::ReadOnlyObject, 0, 4, 0x06010002},
        {true, demo::MissingObject, 0, 4, 0x06020000},
        {true, demo::DwordObject, 0, 2, 0x06070013}, // a length that does not match
    };
    for (const auto& c : cases) {
        uint32 value = 1;
        int size = c.size;
        EXPECT_EQ(c.write
                ? ec_SDOwrite(Slave, c.index, c.sub, FALSE, size, &value, EC_TIMEOUT_MBXRX)
                : ec_SDOread(Slave, c.index, c.sub, FALSE, &size, &value, EC_TIMEOUT_MBXRX),
            0);
        auto e = onlyError();
        ASSERT_TRUE(e) << std::hex << c.index;
        EXPECT_EQ(e->Etype, EC_ERR_TYPE_SDO_ERROR);
        EXPECT_EQ(e->Slave, Slave);
        EXPECT_EQ(e->Index, c.index);
        EXPECT_EQ(e->SubIdx, c.sub);
        EXPECT_EQ(uint32(e->AbortCode), c.code);
    }
    // The refused write left the value.
    uint32 l = 0;
    int size = sizeof(l);
    EXPECT_GT(ec_SDOread(Slave, demo::ReadOnlyObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(l, 0x12345678u);
}

TEST_F(SdoUpload, CompleteAccessReadsTheWholeObjectFromSubIndexOne)
{
    uint8 image[32] = {};
    int size = sizeof(image);
    EXPECT_GT(ec_SDOread(Slave, 0x1018, 0, TRUE, &size, image, EC_TIMEOUT_MBXRX), 0);
    ASSERT_EQ(size, 2 + 16);
    EXPECT_EQ(image[0], 4);
    EXPECT_EQ(ec_get32(image + 2), sim::coe::TestVendorId);
    EXPECT_EQ(ec_get32(image + 6), sim::coe::CoeSlaveProductCode);

    // Complete access starts at sub-index 0 or 1: a request for 5 goes out as 1.
    size = sizeof(image);
    EXPECT_GT(ec_SDOread(Slave, 0x1018, 5, TRUE, &size, image, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(received().back()[8], 0x50);
    EXPECT_EQ(received().back()[11], 1);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(ec_get32(image), sim::coe::TestVendorId);
}

TEST_F(SdoUpload, SlaveThatSendsMoreThanItAnnouncedIsStopped)
{
    server->faults().overrunBytes = 50;
    std::vector<uint8> buffer(2000, 0xEE);
    int size = int(buffer.size());
    EXPECT_EQ(
        ec_SDOread(Slave, demo::LargeObject, 0, FALSE, &size, buffer.data(), EC_TIMEOUT_MBXRX), 0);
    // Nothing lands behind the size the slave announced.
    EXPECT_EQ(std::count(buffer.begin() + long(demo::LargeObjectSize), buffer.end(), 0xEE),
        long(buffer.size() - demo::LargeObjectSize));
    EXPECT_LE(size, int(demo::LargeObjectSize));
    EXPECT_TRUE(onlyPacketError(3));
}

// The answer of an exchange given up earlier, still waiting in the read mailbox, names the same
// object: it must be read away, not taken for the answer to the new request.
TEST_F(SdoUpload, StaleAnswerWaitingInTheMailboxIsNotTakenForTheNewOne)
{
    sim::Bytes stale = sim::coe::coeMessage(10, sim::coe::Service::SdoResponse);
    stale[8] = 0x43; // expedited upload, four bytes
    sim::putLe16(&stale[9], demo::DwordObject);
    sim::putLe32(&stale[12], 0xDEADBEEF);
    bus->slave(Slave).mailbox().post(stale);
    ec_readstate(); // a frame passes: the slave puts the answer into its read mailbox
    uint32 l = 0;
    int size = sizeof(l);
    EXPECT_EQ(ec_SDOread(Slave, demo::DwordObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 1);
    EXPECT_EQ(l, 0x33333333u);
}

TEST_F(SdoUpload, SilentSlaveGivesTheTransportResultAndNoError)
{
    bus->slave(Slave).mailboxFaults().neverAnswer = true;
    uint32 l = 0;
    int size = sizeof(l);
    EXPECT_LE(ec_SDOread(Slave, demo::DwordObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(size, int(sizeof(l)));
    EXPECT_TRUE(errors().empty());
}

TEST_F(SdoUpload, RefusesSlaveNumbersOutsideTheTable)
{
    uint32 l = 0;
    int size = sizeof(l);
    EXPECT_EQ(ec_SDOread(0, demo::DwordObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(ec_SDOread(3, demo::DwordObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    EXPECT_EQ(ec_SDOread(EC_MAXSLAVE, demo::DwordObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
    size = -1;
    EXPECT_EQ(ec_SDOread(Slave, demo::DwordObject, 0, FALSE, &size, &l, EC_TIMEOUT_MBXRX), 0);
}

} // namespace
