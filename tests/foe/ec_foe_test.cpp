// ec_FOEwrite and ec_FOEread end to end: the master against an emulated slave's FoE server on the
// virtual bus, packet by packet.
#include "foebus.h"
#include "simbus.h"

#include "ethercatconfig.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "nicdrv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

using foetest::kMaxData;
using sim::FoeMessage;
using sim::FoeOp;

namespace {

const int kAnswerTimeout = 2000000;

// A slave side that answers every FoE message with what a test script says.
class ScriptedFoe : public sim::MailboxHandler
{
public:
    using Script = std::function<std::optional<sim::Bytes>(const FoeMessage &)>;
    explicit ScriptedFoe(Script script) : script_(std::move(script)) {}
    void onMessage(const sim::Bytes &message, sim::MailboxReplies &out) override
    {
        if (auto m = FoeMessage::parse(message))
            if (auto reply = script_(*m))
                out.post(*reply);
    }

private:
    Script script_;
};

sim::Chain chainOf(sim::Slave slave)
{
    sim::Chain chain;
    chain.add(std::move(slave));
    return chain;
}

// One FoE slave in PRE-OP, its server reachable through the standard mailbox.
class FoeBusTest : public ::testing::Test
{
protected:
    explicit FoeBusTest(std::shared_ptr<sim::MailboxHandler> handler = nullptr)
        : server_(std::make_shared<sim::FoeServer>(sim::FoeMailboxes{foetest::kMailboxSize, foetest::kMailboxSize})),
          bus_(chainOf(foetest::foeSlave("FoE test slave", server_, {sim::AlState::PreOp})))
    {
        if (handler)
            bus_.slave(1).mailbox().setHandler(handler, {sim::AlState::PreOp});
        server_->setWriteAcceptor([](const std::string &, uint32_t) { return sim::FoeVerdict::accept(); });
        server_->setWriteCompletion([this](const std::string &name, const std::vector<uint8_t> &file) {
            lastName_ = name;
            lastFile_ = file;
        });
    }

    void SetUp() override
    {
        ASSERT_GT(ec_init(SimBus::Primary), 0);
        ASSERT_EQ(ec_config_init(0), 1);
        ASSERT_EQ(ec_statecheck(1, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE), EC_STATE_PRE_OP);
        ASSERT_EQ(ec_slave[1].mbx_l, foetest::kMailboxSize);
    }

    void TearDown() override { ec_close(); }

    // FoE messages with `op` that the master wrote since message number `from`.
    std::vector<FoeMessage> sentSince(std::size_t from, FoeOp op)
    {
        std::vector<FoeMessage> found;
        const auto &all = bus_.slave(1).mailbox().received();
        for (std::size_t i = from; i < all.size(); ++i) {
            auto m = FoeMessage::parse(all[i]);
            if (m && m->op == op)
                found.push_back(*m);
        }
        return found;
    }

    std::size_t messagesSoFar() { return bus_.slave(1).mailbox().received().size(); }

    std::shared_ptr<sim::FoeServer> server_;
    SimBus bus_;
    std::string lastName_;
    std::vector<uint8_t> lastFile_;
};

TEST_F(FoeBusTest, WriteEndsEverySizeWithAShortPacket)
{
    struct Case {
        int size;
        std::vector<std::size_t> packets;
    };
    const Case cases[] = {
        {0, {0}},
        {1, {1}},
        {kMaxData - 1, {kMaxData - 1}},
        {kMaxData, {kMaxData, 0}},
        {kMaxData + 1, {kMaxData, 1}},
        {2 * kMaxData + 1, {kMaxData, kMaxData, 1}},
        {3 * kMaxData, {kMaxData, kMaxData, kMaxData, 0}},
    };
    char name[] = "fw.bin";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        auto file = foetest::pattern(static_cast<std::size_t>(c.size), static_cast<uint8_t>(c.size));
        lastFile_.assign(1, 0xAA);
        const std::size_t from = messagesSoFar();
        EXPECT_EQ(ec_FOEwrite(1, name, 0, c.size, file.data(), kAnswerTimeout), 1);
        EXPECT_EQ(lastName_, "fw.bin");
        EXPECT_EQ(lastFile_, file);
        auto data = sentSince(from, FoeOp::Data);
        ASSERT_EQ(data.size(), c.packets.size());
        for (std::size_t i = 0; i < data.size(); ++i) {
            EXPECT_EQ(data[i].field, i + 1);
            EXPECT_EQ(data[i].payload.size(), c.packets[i]);
        }
    }
}

TEST_F(FoeBusTest, WriteRequestCarriesPasswordAndNameWithoutNulCutToMaxdata)
{
    std::string longName(kMaxData + 40, 'n');
    longName[kMaxData - 1] = 'z';
    uint8_t byte = 1;
    std::size_t from = messagesSoFar();
    EXPECT_EQ(ec_FOEwrite(1, longName.data(), 0x12345678, 1, &byte, kAnswerTimeout), 1);
    auto requests = sentSince(from, FoeOp::Write);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].field, 0x12345678u);
    EXPECT_EQ(requests[0].payloadText(), longName.substr(0, kMaxData));

    char shortName[] = "TMCM-174.bin";
    from = messagesSoFar();
    EXPECT_EQ(ec_FOEwrite(1, shortName, 0, 1, &byte, kAnswerTimeout), 1);
    requests = sentSince(from, FoeOp::Write);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].payload.size(), 12u);

    // Every message carries a fresh mailbox counter 1..7.
    uint8_t previous = 0;
    for (const auto &raw : bus_.slave(1).mailbox().received()) {
        uint8_t counter = (raw[5] >> 4) & 0x07;
        EXPECT_GE(counter, 1);
        EXPECT_EQ(counter, previous % 7 + 1);
        previous = counter;
    }
}

TEST_F(FoeBusTest, SlaveErrorsEndTheWrite)
{
    char name[] = "fw.bin";
    auto file = foetest::pattern(1200);
    server_->setWriteAcceptor([](const std::string &, uint32_t) {
        return sim::FoeVerdict::refuse(sim::foe_error::NotFound, "Not found");
    });
    EXPECT_EQ(ec_FOEwrite(1, name, 0, 1200, file.data(), kAnswerTimeout), -EC_ERR_TYPE_FOE_ERROR);

    server_->setWriteAcceptor([](const std::string &, uint32_t) { return sim::FoeVerdict::accept(); });
    server_->breakOffAfterPacket(1, sim::foe_error::DiskFull, "Disk full");
    EXPECT_EQ(ec_FOEwrite(1, name, 0, 1200, file.data(), kAnswerTimeout), -EC_ERR_TYPE_FOE_ERROR);

    server_->clearFaults();
    server_->answerBusy(1);
    const std::size_t from = messagesSoFar();
    EXPECT_EQ(ec_FOEwrite(1, name, 0, 1200, file.data(), kAnswerTimeout), -EC_ERR_TYPE_PACKET_ERROR);
    EXPECT_TRUE(sentSince(from, FoeOp::Data).empty());
}

TEST_F(FoeBusTest, StalledWriteEndsAtTheAnswerTimeout)
{
    char name[] = "fw.bin";
    auto file = foetest::pattern(1200);
    server_->stallAfterPacket(1);
    const uint64_t start = bus_.clock().nowUs();
    EXPECT_LE(ec_FOEwrite(1, name, 0, 1200, file.data(), kAnswerTimeout), 0);
    const uint64_t took = bus_.clock().nowUs() - start;
    EXPECT_GE(took, uint64_t(kAnswerTimeout));
    EXPECT_LT(took, uint64_t(kAnswerTimeout) + 100000);
    EXPECT_EQ(server_->packetsReceived(), 1u);
}

TEST_F(FoeBusTest, UnusableSlavesAndArgumentsAreRefusedWithoutTraffic)
{
    char name[] = "fw.bin";
    uint8_t byte = 0;
    int size = 1;
    const std::size_t from = messagesSoFar();
    EXPECT_EQ(ec_FOEwrite(0, name, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(2, name, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(EC_MAXSLAVE, name, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(1, nullptr, 0, 1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(1, name, 0, -1, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEwrite(1, name, 0, 1, nullptr, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEread(1, name, 0, nullptr, &byte, kAnswerTimeout), 0);
    EXPECT_EQ(ec_FOEread(1, name, 0, &size, nullptr, kAnswerTimeout), 0);

    const ec_slavet saved = ec_slave[1];
    for (uint16 length : {uint16(0), uint16(12), uint16(EC_MAXMBX + 1), uint16(0xFFFF)}) {
        SCOPED_TRACE(length);
        ec_slave[1].mbx_l = length;
        EXPECT_EQ(ec_FOEwrite(1, name, 0, 1, &byte, kAnswerTimeout), 0);
        EXPECT_EQ(ec_FOEread(1, name, 0, &size, &byte, kAnswerTimeout), 0);
        ec_slave[1] = saved;
        ec_slave[1].mbx_rl = length == 12 ? 11 : length;
        EXPECT_EQ(ec_FOEwrite(1, name, 0, 1, &byte, kAnswerTimeout), 0);
        ec_slave[1] = saved;
    }
    EXPECT_EQ(messagesSoFar(), from);
}

TEST_F(FoeBusTest, ReadFetchesEverySize)
{
    std::vector<uint8_t> file;
    server_->setReadProvider([&file](const std::string &name, uint32_t password) {
        if (name != "log.txt" || password != 3)
            return sim::FoeFile{sim::FoeVerdict::refuse(sim::foe_error::NotFound, "Not found"), {}};
        return sim::FoeFile{sim::FoeVerdict::accept(), file};
    });
    char name[] = "log.txt";
    for (int n : {0, 1, kMaxData - 1, kMaxData, kMaxData + 1, 2 * kMaxData}) {
        SCOPED_TRACE(n);
        file = foetest::pattern(static_cast<std::size_t>(n), 3);
        std::vector<uint8_t> buffer(3000, 0xEE);
        int size = static_cast<int>(buffer.size());
        const std::size_t from = messagesSoFar();
        EXPECT_EQ(ec_FOEread(1, name, 3, &size, buffer.data(), kAnswerTimeout), 1);
        ASSERT_EQ(size, n);
        EXPECT_TRUE(std::equal(file.begin(), file.end(), buffer.begin()));
        EXPECT_EQ(buffer[static_cast<std::size_t>(n)], 0xEE);
        // Every packet acknowledged, up to the short one that ends the file.
        EXPECT_EQ(sentSince(from, FoeOp::Ack).size(), static_cast<std::size_t>(n / kMaxData + 1));
    }
    int size = 10;
    uint8_t small[10];
    char other[] = "other";
    EXPECT_EQ(ec_FOEread(1, other, 3, &size, small, kAnswerTimeout), -EC_ERR_TYPE_FOE_ERROR);
    EXPECT_EQ(size, 0);
}

TEST_F(FoeBusTest, ReadStopsBeforeThePacketThatWouldOverflow)
{
    auto file = foetest::pattern(1200);
    server_->setReadProvider([&file](const std::string &, uint32_t) {
        return sim::FoeFile{sim::FoeVerdict::accept(), file};
    });
    char name[] = "big";
    std::vector<uint8_t> buffer(2 * kMaxData + 100, 0xEE);
    int size = kMaxData + 100;
    const std::size_t from = messagesSoFar();
    EXPECT_EQ(ec_FOEread(1, name, 0, &size, buffer.data(), kAnswerTimeout), -EC_ERR_TYPE_FOE_BUF2SMALL);
    EXPECT_EQ(size, kMaxData);
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + kMaxData, buffer.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + kMaxData, buffer.end(), [](uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(sentSince(from, FoeOp::Ack).size(), 1u);
}

// The slave's answers come from a script, to send what a correct server never would.
class FoeScriptTest : public FoeBusTest
{
protected:
    FoeScriptTest() : FoeBusTest(std::make_shared<ScriptedFoe>([this](const FoeMessage &m) { return script(m); })) {}

    std::optional<sim::Bytes> script(const FoeMessage &m)
    {
        if (!answer)
            return std::nullopt;
        return answer(m);
    }

    std::function<std::optional<sim::Bytes>(const FoeMessage &)> answer;
};

sim::Bytes withLength(sim::Bytes message, uint16_t length)
{
    message[0] = static_cast<uint8_t>(length);
    message[1] = static_cast<uint8_t>(length >> 8);
    return message;
}

TEST_F(FoeScriptTest, WriteRefusesAnswersThatDoNotFit)
{
    char name[] = "fw.bin";
    auto file = foetest::pattern(1200);
    struct Case {
        const char *what;
        std::function<sim::Bytes(const FoeMessage &)> reply;
        int result;
    };
    const Case cases[] = {
        {"ack of another packet", [](const FoeMessage &m) { return FoeMessage::ack(m.op == FoeOp::Write ? 0 : m.field + 1).encode(); }, -EC_ERR_TYPE_FOE_PACKETNUMBER},
        {"busy", [](const FoeMessage &) { return FoeMessage::busy(0).encode(); }, -EC_ERR_TYPE_PACKET_ERROR},
        {"data instead of ack", [](const FoeMessage &) { return FoeMessage::data(0, {}).encode(); }, -EC_ERR_TYPE_PACKET_ERROR},
        {"CoE answer", [](const FoeMessage &) { auto b = FoeMessage::ack(0).encode(); b[5] = 0x13; return b; }, -EC_ERR_TYPE_PACKET_ERROR},
        {"length below the FoE header", [](const FoeMessage &) { return withLength(FoeMessage::ack(0).encode(), 5); }, -EC_ERR_TYPE_PACKET_ERROR},
        {"length past the mailbox", [](const FoeMessage &) { return withLength(FoeMessage::ack(0).encode(), foetest::kMailboxSize - 5); }, -EC_ERR_TYPE_PACKET_ERROR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        answer = [&c](const FoeMessage &m) -> std::optional<sim::Bytes> { return c.reply(m); };
        EXPECT_EQ(ec_FOEwrite(1, name, 0, 1200, file.data(), kAnswerTimeout), c.result);
    }
}

TEST_F(FoeScriptTest, ReadNeverCopiesAPacketWithAnImpossibleLengthOrNumber)
{
    char name[] = "log";
    auto payload = foetest::pattern(20);
    struct Case {
        const char *what;
        sim::Bytes reply;
        int result;
    };
    const Case cases[] = {
        {"packet 2 first", FoeMessage::data(2, payload).encode(), -EC_ERR_TYPE_FOE_BUF2SMALL},
        {"length past the mailbox", withLength(FoeMessage::data(1, payload).encode(), foetest::kMailboxSize - 5), -EC_ERR_TYPE_PACKET_ERROR},
        {"length past the mailbox buffer", withLength(FoeMessage::data(1, payload).encode(), 0xFFFF), -EC_ERR_TYPE_PACKET_ERROR},
        {"length below the FoE header", withLength(FoeMessage::data(1, payload).encode(), 2), -EC_ERR_TYPE_PACKET_ERROR},
        {"busy", FoeMessage::busy(0).encode(), -EC_ERR_TYPE_PACKET_ERROR},
        {"ack", FoeMessage::ack(1).encode(), -EC_ERR_TYPE_PACKET_ERROR},
        {"error", FoeMessage::error(sim::foe_error::NotFound, "gone").encode(), -EC_ERR_TYPE_FOE_ERROR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        answer = [&c](const FoeMessage &) -> std::optional<sim::Bytes> { return c.reply; };
        std::vector<uint8_t> buffer(2000, 0xEE);
        int size = static_cast<int>(buffer.size());
        const std::size_t from = messagesSoFar();
        EXPECT_EQ(ec_FOEread(1, name, 0, &size, buffer.data(), kAnswerTimeout), c.result);
        EXPECT_EQ(size, 0);
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xEE; }));
        EXPECT_TRUE(sentSince(from, FoeOp::Ack).empty());
    }
}

} // namespace
