// Slaves that describe their process data only through CoE or only through SoE are mapped from
// what the master reads out of their mailboxes, next to a slave described by its SII.
#include "pdoslaves.h"

#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"

#include "coe/coeslave.h"
#include "soe/soeslave.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using pdotest::PdoBusTest;

class Readout : public PdoBusTest {
};

TEST_F(Readout, CoeSoeAndSiiSlavesAreMappedAndExchangeData)
{
    sim::coe::CoeSlaveOptions ca;
    ca.name = "CoE CA";
    ca.completeAccess = true;
    ASSERT_EQ(configure(pdotest::chainOf(sim::coe::makeCoeSlave().slave, sim::coe::makeCoeSlave(ca).slave,
                                         sim::soe::makeSoeSlave().slave, pdotest::makeIoSlave("SII", 16, 8))),
              4);

    EXPECT_EQ(ec_slave[1].Obits, sim::coe::CoeSlaveOutputBits);
    EXPECT_EQ(ec_slave[1].Ibits, sim::coe::CoeSlaveInputBits);
    EXPECT_EQ(ec_slave[2].Obits, sim::coe::CoeSlaveOutputBits);
    EXPECT_EQ(ec_slave[2].Ibits, sim::coe::CoeSlaveInputBits);
    EXPECT_EQ(ec_slave[3].Obits, sim::soe::SoeSlaveOutputBits);
    EXPECT_EQ(ec_slave[3].Ibits, sim::soe::SoeSlaveInputBits);
    EXPECT_EQ(int(ec_slave[3].SM[2].SMlength), 10);
    EXPECT_EQ(int(ec_slave[3].SM[3].SMlength), 8);
    EXPECT_EQ(ec_group[0].Obytes, 6u + 6u + 10u + 2u);
    EXPECT_EQ(ec_group[0].Ibytes, 7u + 7u + 8u + 1u);
    EXPECT_EQ(ec_group[0].expectedWKC, 4 * 3);

    ASSERT_EQ(ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_SAFE_OP);
    const Bytes coe = {1, 2, 3, 4, 5, 6};
    const Bytes soe = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    std::copy(coe.begin(), coe.end(), ec_slave[1].outputs);
    std::copy(soe.begin(), soe.end(), ec_slave[3].outputs);
    bus->slave(3).setInputs(3, Bytes(8, 0x5A));

    ec_send_processdata();
    EXPECT_EQ(ec_receive_processdata(EC_TIMEOUT_FRAME), ec_group[0].expectedWKC);
    EXPECT_EQ(slaveOutputs(1, 2), coe);
    EXPECT_EQ(slaveOutputs(3, 2), soe);
    EXPECT_EQ(Bytes(ec_slave[3].inputs, ec_slave[3].inputs + 8), Bytes(8, 0x5A));

    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ec_writestate(0);
    EXPECT_EQ(ec_statecheck(0, EC_STATE_OPERATIONAL, EC_TIMEOUT_STATECHANGE), EC_STATE_OPERATIONAL);
}

} // namespace
