/*
 * The worst cases of the timing model (ectiming.h) against the virtual clock: on a robot whose
 * every reply is lost, no primitive takes longer than its documented worst case, give or take one
 * poll interval.
 */
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "controller/controllerlayouts.h"
#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "simbus.h"
#include "zuvian.h"

namespace {

struct Primitive
{
    const char* name;
    std::int64_t worstUs;
    std::function<void()> run;
};

TEST(DeadBus, NoPrimitiveOutlastsItsDocumentedWorstCase)
{
    SimBus bus(sim::robotBus());
    ASSERT_GT(ec_init(SimBus::Primary), 0);
    ASSERT_EQ(11, ec_config_init(FALSE));
    ASSERT_EQ(EC_STATE_PRE_OP, ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE));
    const std::uint16_t station = ec_slave[7].configadr;
    static ec_mbxbuft mbx;
    static std::uint8_t image[64];
    static char file[] = "ZQ841.bin";

    const Primitive primitives[] = {
        {"patient register read", EC_DEAD_PATIENT(EC_TIMEOUT_FRAME),
            [&] { ec_FPRDw(station, ECT_REG_ALSTAT, EC_TIMEOUT_FRAME); }},
        {"one attempt", EC_TIMEOUT_FRAME,
            [&] { ec_FPRDw(station, ECT_REG_ALSTAT, EC_ONEATTEMPT(EC_TIMEOUT_FRAME)); }},
        {"write sent once", EC_DEAD_ONCE(EC_TIMEOUT_FRAME),
            [&] { ec_FPWRonce(station, 0x1000, 8, image, EC_TIMEOUT_FRAME); }},
        {"SII word", EC_DEAD_SIIWORD, [&] { ec_readeeprom(7, ECT_SII_ID, EC_TIMEOUT_SAFE); }},
        {"mailbox send", EC_DEAD_MBXSEND(EC_TIMEOUT_SAFE),
            [&] { ec_mbxsend(7, &mbx, EC_TIMEOUT_SAFE); }},
        {"mailbox receive", EC_DEAD_MBXRECEIVE(EC_TIMEOUT_MBXRX),
            [&] { ec_mbxreceive(7, &mbx, EC_TIMEOUT_MBXRX); }},
        {"FoE packet", EC_DEAD_FOEPACKET,
            [&] { ec_FOEwrite(7, file, 0, sizeof image, image, EC_TIMEOUT_MBXRX); }},
        {"controller command", EC_DEAD_MCPREAD, [&] { readSingleParameter(7, 4); }},
        {"AL state check", EC_DEAD_STATECHECK(EC_TIMEOUT_STATECHANGE),
            [&] { ec_statecheck(7, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE); }},
        {"enumeration", EC_DEAD_ENUMERATION, [&] { ec_config_init(FALSE); }},
    };
    bus.faults().loseNext = 1 << 30;
    for (const Primitive& p : primitives) {
        const std::uint64_t start = bus.clock().nowUs();
        p.run();
        const std::int64_t took = std::int64_t(bus.clock().nowUs() - start);
        EXPECT_LE(took, p.worstUs + EC_POLLINTERVAL) << p.name;
        // A bound far above what the primitive takes would hide a wait that grew.
        EXPECT_GE(took, p.worstUs / 2) << p.name;
    }
    ec_close();
}

} // namespace
