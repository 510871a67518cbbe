// The master on a bus that holds replies back past the 500 us datagram time-out, loses frames or
// delivers them twice: writes land once, reads come back right, no frame index is used up, and an
// EEPROM that stops answering is never read as zeros. (Whole flows so disturbed: the fault matrix.)
#include "simbus.h"

#include "core/frame.h"
#include "controller/controllerlayouts.h"
#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "zuvian.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint32 kPassword = 47193856;
constexpr int kArmAxis1 = 7; // robot layout: 1 board, 2..5 wheel base, 6 board, 7..11 arm

// The first datagram of a frame the master sent, as the rules below look at it.
struct Datagram
{
    uint8 command = 0;
    uint16 station = 0;
    uint16 offset = 0;
    sim::Bytes data;
};

Datagram firstDatagram(sim::Bytes frame)
{
    const auto all = sim::parseFrame(frame);
    if (!all || all->empty())
        return {};
    const sim::DatagramView& d = all->front();
    return {uint8(d.command()), d.adp(), d.ado(), sim::Bytes(d.data(), d.data() + d.dataLength())};
}

// A mailbox write that carries a SAP command record (no mailbox header).
bool isSapWrite(const sim::Bytes& frame)
{
    const Datagram d = firstDatagram(frame);
    return d.command == EC_CMD_FPWR && d.data.size() >= 8 && d.offset >= 0x1000
        && d.data[1] == MCP_CMD_SAP;
}

// A read of a whole read mailbox (the reply data), not of a status register.
bool isMailboxRead(const sim::Bytes& frame)
{
    const Datagram d = firstDatagram(frame);
    return d.command == EC_CMD_FPRD && d.offset >= 0x1000 && d.data.size() >= 8;
}

// A read of a SyncManager status register (the polls of the mailbox transport).
bool isStatusPoll(const sim::Bytes& frame)
{
    const Datagram d = firstDatagram(frame);
    return d.command == EC_CMD_FPRD && d.offset == ECT_REG_SM1STAT;
}

// What one case does to the frames that match its trigger: the first `times` of them get `fate`.
struct Fault
{
    const char* name;
    std::function<bool(const sim::Bytes&)> trigger;
    sim::FrameFate fate;
    int times = 1;
};

// A fate that differs from an undisturbed frame's in `field` alone.
template <typename T>
sim::FrameFate fateWith(T sim::FrameFate::*field, T value)
{
    sim::FrameFate f;
    f.*field = value;
    return f;
}
const sim::FrameFate kLostReply = fateWith(&sim::FrameFate::loseReply, true);

class Unreliable : public ::testing::Test
{
protected:
    Unreliable()
        : bus_(std::make_unique<SimBus>(sim::robotBus()))
    {}
    ~Unreliable() override { ec_close(); }

    sim::MotorController& axis(int position) { return bus_->controller(std::size_t(position)); }

    // From now on the first `fault.times` frames that match get the fault's fate.
    void inject(const Fault& fault)
    {
        auto left = std::make_shared<int>(fault.times);
        bus_->link().setRule([fault, left](const sim::Bytes& frame, std::uint64_t) {
            if (*left > 0 && fault.trigger(frame)) {
                --*left;
                return fault.fate;
            }
            return sim::FrameFate{};
        });
    }

    void enumerate()
    {
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(11, ec_config_init(0));
        ASSERT_EQ(EC_STATE_PRE_OP, ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE));
    }

    // Every index free once the exchanges are over.
    void expectIndexesFree()
    {
        for (int i = 0; i < EC_MAXBUF; i++)
            EXPECT_EQ(EC_BUF_EMPTY, ec_rxbufstat[i]) << "index " << i;
    }

    std::unique_ptr<SimBus> bus_;
};

// The four characters of a version read, most significant first.
std::string versionText(uint32 value)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += char(value >> shift);
    return text;
}

TEST_F(Unreliable, CommandMailboxConfirmsEveryWriteOnceAndReadsEveryValue)
{
    const Fault faults[] = {
        {"reply to the request write lost", isSapWrite, kLostReply},
        {"request lost on the way", isSapWrite, fateWith(&sim::FrameFate::loseRequest, true)},
        {"request answered late", isSapWrite, fateWith(&sim::FrameFate::delayUs, 700u)},
        {"reply read lost", isMailboxRead, kLostReply},
        {"reply read answered late", isMailboxRead, fateWith(&sim::FrameFate::delayUs, 2000u)},
        {"status poll lost", isStatusPoll, kLostReply},
        {"status poll answered twice", isStatusPoll, fateWith(&sim::FrameFate::copies, 2), 3},
    };
    enumerate();
    ASSERT_EQ(1, writeParameter(kArmAxis1, 248, kPassword));
    uint32 value = 1000;
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.name);
        axis(kArmAxis1).commands().clearRequests();
        inject(fault);
        ++value;
        EXPECT_EQ(1, writeParameter(kArmAxis1, 6, value));
        // Nothing sent twice reached the controller: one request for one write.
        EXPECT_EQ(1u, axis(kArmAxis1).commands().requests().size());
        inject(fault);
        EXPECT_EQ(value, readSingleParameter(kArmAxis1, 6));
        inject(fault);
        EXPECT_EQ(
            axis(kArmAxis1 + 1).firmwareVersion(), versionText(getFirmwareVersion(kArmAxis1 + 1)));
    }
    bus_->link().setRule({});
    expectIndexesFree();
}

TEST_F(Unreliable, FailedSiiReadsNeverBecomeAProcessImage)
{
    static uint8 image[EC_IOMAPSIZE];
    ASSERT_GT(ec_init(SimBus::Primary), 0);
    ASSERT_EQ(11, ec_config(0, image));
    ASSERT_GT(ec_group[0].Obytes, 0u);

    // An EEPROM that stops answering, for every word, for the identity words alone (read word by
    // word) or for the categories alone (read through the byte cache): what was not read is never
    // taken for zeros, so the bus is refused and no slave is asked for SAFE-OP.
    const std::pair<const char*, bool (*)(uint16)> lost[] = {
        {"every word", [](uint16) { return true; }},
        {"the identity words", [](uint16 word) { return word < 0x40; }},
        {"the category words", [](uint16 word) { return word >= 0x40; }},
    };
    for (const auto& [what, lostWord] : lost) {
        SCOPED_TRACE(what);
        auto word = std::make_shared<uint16>(0);
        constexpr uint16 station = 0x1000 + kArmAxis1;
        inject({what,
            [word, lostWord = lostWord](const sim::Bytes& f) {
                const Datagram d = firstDatagram(f);
                if (d.command == EC_CMD_FPWR && d.station == station && d.offset == ECT_REG_EEPCTL
                    && d.data.size() >= 4)
                    *word = uint16(d.data[2] | d.data[3] << 8);
                return d.command == EC_CMD_FPRD && d.offset == ECT_REG_EEPDAT
                    && d.station == station && lostWord(*word);
            },
            kLostReply, 1000000});
        const std::uint64_t start = bus_->clock().nowUs();
        EXPECT_EQ(EC_SIIFAILED, ec_config(0, image));
        // The first word that fails after all its tries ends the reading of that slave (about
        // 1.5 s here); waiting out the same time-outs for every further word took up to minutes.
        EXPECT_LT(bus_->clock().nowUs() - start, 2000000u);
        EXPECT_EQ(nullptr, ec_group[0].outputs);
        for (int n = 1; n <= 11; n++)
            EXPECT_NE(sim::AlState::SafeOp, bus_->slave(std::size_t(n)).state()) << n;
    }
}

} // namespace
