// ec_FOEwrite and ec_FOEread end to end: the master against an emulated slave's FoE server (or a
// scripted slave side that answers what a correct server never would) on the virtual bus.
#include "errorlist.h"
#include "foebus.h"
#include "simbus.h"

#include "ethercatconfig.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "nicdrv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using foetest::kMaxData;
using sim::FoeMessage;
using sim::FoeOp;

namespace {

const int kAnswerTimeout = 2000000;

// Answers every FoE message with what the test's script returns.
class ScriptedFoe : public sim::MailboxHandler
{
public:
    std::function<sim::Bytes(const FoeMessage&)> script;
    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        if (auto m = FoeMessage::parse(message); m && script)
            out.post(script(*m));
    }
};

sim::Bytes withLength(sim::Bytes message, uint16_t length)
{
    message[0] = static_cast<uint8_t>(length);
    message[1] = static_cast<uint8_t>(length >> 8);
    return message;
}

// One slave in PRE-OP whose standard mailbox (512 bytes each way unless a test says otherwise)
// leads to an FoE server that takes every write and serves `readFile_` to every read.
class FoeBusTest : public ::testing::Test
{
protected:
    explicit FoeBusTest(
        std::pair<uint16_t, uint16_t> sizes = {foetest::kMailboxSize, foetest::kMailboxSize})
        : server_(std::make_shared<sim::FoeServer>(sim::FoeMailboxes{sizes.first, sizes.second}))
        , bus_(chain(sizes))
    {
        server_->setWriteAcceptor(
            [](const std::string&, uint32_t) { return sim::FoeVerdict::accept(); });
        server_->setWriteCompletion(
            [this](const std::string&, const std::vector<uint8_t>& f) { file_ = f; });
        server_->setReadProvider([this](const std::string&, uint32_t) {
            return sim::FoeFile{sim::FoeVerdict::accept(), readFile_};
        });
    }

    sim::Chain chain(std::pair<uint16_t, uint16_t> sizes)
    {
        sim::Chain c;
        c.add(foetest::foeSlave(
            "FoE test slave", server_, {sim::AlState::PreOp}, sizes.first, sizes.second));
        return c;
    }

    void SetUp() override
    {
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(ec_config_init(0), 1);
        ASSERT_EQ(ec_statecheck(1, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
    }
    void TearDown() override
    {
        EXPECT_TRUE(countersAdvance(bus_.slave(1).mailbox().received()));
        ec_close();
    }

    void script(std::function<sim::Bytes(const FoeMessage&)> answer)
    {
        scripted_->script = std::move(answer);
        bus_.slave(1).mailbox().setHandler(scripted_, {sim::AlState::PreOp});
    }

    // FoE messages with `op` that the master wrote since the last call.
    std::vector<FoeMessage> sent(FoeOp op)
    {
        const auto& all = bus_.slave(1).mailbox().received();
        std::vector<FoeMessage> found;
        for (; seen_ < all.size(); ++seen_)
            if (auto m = FoeMessage::parse(all[seen_]); m && m->op == op)
                found.push_back(*m);
        return found;
    }

    std::shared_ptr<sim::FoeServer> server_;
    std::shared_ptr<ScriptedFoe> scripted_ = std::make_shared<ScriptedFoe>();
    SimBus bus_;
    std::vector<uint8_t> file_, readFile_;
    std::size_t seen_ = 0;
    char name_[8] = "fw.bin";
};

// The name goes out without NUL, cut to maxdata, the password in the request's field.
TEST_F(FoeBusTest, WriteRequestCarriesTheNameCutAndThePassword)
{
    std::string longName(kMaxData + 40, 'n');
    uint8_t byte = 1;
    EXPECT_EQ(ec_FOEwrite(1, longName.data(), 0x12345678, 1, &byte, kAnswerTimeout), 1);
    auto requests = sent(FoeOp::Write);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].field, 0x12345678u);
    EXPECT_EQ(requests[0].payloadText(), longName.substr(0, kMaxData));
}

TEST_F(FoeBusTest, WriteEndsOnSlaveErrorAndRidesOutBusy)
{
    auto file = foetest::pattern(1200);
    server_->breakOffAfterPacket(1, sim::foe_error::DiskFull, "Disk full");
    EXPECT_EQ(ec_FOEwrite(1, name_, 0, 1200, file.data(), kAnswerTimeout), -EC_ERR_TYPE_FOE_ERROR);

    // BUSY: the message was not taken and goes out again, for as long as the slave needs (a few
    // seconds of erasing), but not for ever.
    for (const auto& [times, result] : {std::pair<unsigned, int>{1, 1}, {EC_FOE_BUSYTRIES, 1},
             {EC_FOE_BUSYTRIES + 1, -EC_ERR_TYPE_PACKET_ERROR}}) {
        SCOPED_TRACE(times);
        server_->clearFaults();
        server_->answerBusy(times);
        file_.clear();
        EXPECT_EQ(ec_FOEwrite(1, name_, 0, 1200, file.data(), kAnswerTimeout), result);
        if (result == 1) {
            EXPECT_EQ(file_, file);
        }
    }
}

TEST_F(FoeBusTest, UnusableSlavesAndArgumentsAreRefusedWithoutTraffic)
{
    uint8_t byte = 0;
    int size = 1;
    const uint64_t frames = bus_.chain().frames();
    EXPECT_EQ(ec_FOEwrite(0, name_, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(2, name_, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(1, nullptr, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(1, name_, 0, -1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEread(1, name_, 0, nullptr, &byte, kAnswerTimeout), 0);
    const ec_slavet saved = ec_slave[1];
    for (uint16 length : {uint16(0), uint16(12), uint16(EC_MAXMBX + 1)}) {
        ec_slave[1].mbx_l = length;
        EXPECT_EQ(ec_FOEwrite(1, name_, 0, 1, &byte, kAnswerTimeout), 0) << length;
        EXPECT_EQ(ec_FOEread(1, name_, 0, &size, &byte, kAnswerTimeout), 0) << length;
        ec_slave[1] = saved;
        ec_slave[1].mbx_rl = length == 12 ? 11 : length;
        EXPECT_EQ(ec_FOEwrite(1, name_, 0, 1, &byte, kAnswerTimeout), 0) << length;
        ec_slave[1] = saved;
    }
    EXPECT_EQ(bus_.chain().frames(), frames);
}

TEST_F(FoeBusTest, ReadFetchesEverySizeAndStopsBeforeAnOverflow)
{
    for (int n : {0, 1, kMaxData - 1, kMaxData, kMaxData + 1, 2 * kMaxData}) {
        SCOPED_TRACE(n);
        readFile_ = foetest::pattern(static_cast<std::size_t>(n), 3);
        std::vector<uint8_t> buffer(3000, 0xEE);
        int size = static_cast<int>(buffer.size());
        EXPECT_EQ(ec_FOEread(1, name_, 0, &size, buffer.data(), kAnswerTimeout), 1);
        ASSERT_EQ(size, n);
        EXPECT_TRUE(std::equal(readFile_.begin(), readFile_.end(), buffer.begin()));
        EXPECT_EQ(buffer[static_cast<std::size_t>(n)], 0xEE);
        EXPECT_EQ(sent(FoeOp::Ack).size(), static_cast<std::size_t>(n / kMaxData + 1));
    }
    readFile_ = foetest::pattern(1200);
    std::vector<uint8_t> buffer(2 * kMaxData, 0xEE);
    int size = kMaxData + 100;
    EXPECT_EQ(
        ec_FOEread(1, name_, 0, &size, buffer.data(), kAnswerTimeout), -EC_ERR_TYPE_FOE_BUF2SMALL);
    EXPECT_EQ(size, kMaxData);
    EXPECT_TRUE(
        std::all_of(buffer.begin() + kMaxData, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(sent(FoeOp::Ack).size(), 1u);
}

TEST_F(FoeBusTest, WriteRefusesAnswersThatDoNotFit)
{
    auto file = foetest::pattern(1200);
    const std::pair<std::function<sim::Bytes(const FoeMessage&)>, int> cases[] = {
        {[](const FoeMessage& m) {
             return FoeMessage::ack(m.op == FoeOp::Write ? 0 : m.field + 1).encode();
         },
            -EC_ERR_TYPE_FOE_PACKETNUMBER},
        {[](const FoeMessage&) { return FoeMessage::data(0, {}).encode(); },
            -EC_ERR_TYPE_PACKET_ERROR},
        {[](const FoeMessage&) {
             auto b = FoeMessage::ack(0).encode();
             b[5] = 0x13;
             return b;
         },
            -EC_ERR_TYPE_PACKET_ERROR},
        {[](const FoeMessage&) { return withLength(FoeMessage::ack(0).encode(), 5); },
            -EC_ERR_TYPE_PACKET_ERROR},
        {[](const FoeMessage&) {
             return withLength(FoeMessage::ack(0).encode(), foetest::kMailboxSize - 5);
         },
            -EC_ERR_TYPE_PACKET_ERROR},
    };
    int i = 0;
    for (const auto& [answer, result] : cases) {
        script(answer);
        EXPECT_EQ(ec_FOEwrite(1, name_, 0, 1200, file.data(), kAnswerTimeout), result)
            << "case " << i++;
    }
}

TEST_F(FoeBusTest, ReadNeverCopiesAPacketWithAnImpossibleLengthOrNumber)
{
    auto data = FoeMessage::data(1, foetest::pattern(20)).encode();
    const std::pair<sim::Bytes, int> cases[] = {
        {FoeMessage::data(2, foetest::pattern(20)).encode(), -EC_ERR_TYPE_FOE_BUF2SMALL},
        {withLength(data, foetest::kMailboxSize - 5), -EC_ERR_TYPE_PACKET_ERROR},
        {withLength(data, 0xFFFF), -EC_ERR_TYPE_PACKET_ERROR},
        {withLength(data, 2), -EC_ERR_TYPE_PACKET_ERROR},
        {FoeMessage::busy(0).encode(), -EC_ERR_TYPE_PACKET_ERROR},
        {FoeMessage::error(sim::foe_error::NotFound, "gone").encode(), -EC_ERR_TYPE_FOE_ERROR},
    };
    int i = 0;
    for (const auto& [reply, result] : cases) {
        SCOPED_TRACE(i++);
        script([reply = reply](const FoeMessage&) { return reply; });
        std::vector<uint8_t> buffer(2000, 0xEE);
        int size = static_cast<int>(buffer.size());
        EXPECT_EQ(ec_FOEread(1, name_, 0, &size, buffer.data(), kAnswerTimeout), result);
        EXPECT_EQ(size, 0);
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xEE; }));
        EXPECT_TRUE(sent(FoeOp::Ack).empty());
    }
}

// The slave fills its own send mailbox, so when the two mailboxes differ a full packet of a read
// is the read mailbox's size and a full packet of a write the write mailbox's.
class FoeUnequalMailboxes : public FoeBusTest,
                            public ::testing::WithParamInterface<std::pair<uint16_t, uint16_t>>
{
protected:
    FoeUnequalMailboxes()
        : FoeBusTest(GetParam())
    {}
};

TEST_P(FoeUnequalMailboxes, WholeFilesTravelWhicheverMailboxIsLarger)
{
    const std::size_t readFull = GetParam().second - 12;
    for (std::size_t n : {std::size_t{600}, readFull, 2 * readFull}) {
        SCOPED_TRACE(n);
        readFile_ = foetest::pattern(n, 5);
        std::vector<uint8_t> buffer(2000, 0xEE);
        int size = static_cast<int>(buffer.size());
        EXPECT_EQ(ec_FOEread(1, name_, 0, &size, buffer.data(), kAnswerTimeout), 1);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + size), readFile_);
        EXPECT_EQ(ec_FOEwrite(1, name_, 0, int(n), readFile_.data(), kAnswerTimeout), 1);
        EXPECT_EQ(file_, readFile_);
    }
}

// Bytes to the slave, bytes back.
INSTANTIATE_TEST_SUITE_P(LargerEitherWay, FoeUnequalMailboxes,
    ::testing::Values(
        std::pair<uint16_t, uint16_t>{0x200, 0x100}, std::pair<uint16_t, uint16_t>{0x100, 0x200}));

} // namespace
