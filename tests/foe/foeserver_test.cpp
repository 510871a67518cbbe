// The virtual bus's FoE server at the message level: what a slave's file service answers to each
// request, packet and fault.
#include "foe/foeserver.h"

#include <gtest/gtest.h>

#include <numeric>

using sim::FoeFile;
using sim::FoeMessage;
using sim::FoeOp;
using sim::FoeServer;
using sim::FoeVerdict;

namespace {

// 64-byte mailboxes: 52 data bytes per packet.
constexpr std::size_t kMailbox = 64;
constexpr std::size_t kRoom = kMailbox - sim::kFoeOverhead;

std::vector<uint8_t> bytes(std::size_t n, uint8_t first = 1)
{
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

struct ServerFixture : ::testing::Test {
    FoeServer server{{kMailbox, kMailbox}};
    std::vector<std::pair<std::string, std::vector<uint8_t>>> completed;

    void SetUp() override
    {
        server.setWriteAcceptor([](const std::string &name, uint32_t password) {
            if (name != "TMCM-1610.bin")
                return FoeVerdict::refuse(sim::foe_error::NotFound, "Wrong file for TMCM-1610");
            if (password != 0)
                return FoeVerdict::refuse(sim::foe_error::NoRights, "Wrong password");
            return FoeVerdict::accept();
        });
        server.setWriteCompletion([this](const std::string &name, const std::vector<uint8_t> &file) {
            completed.emplace_back(name, file);
        });
    }

    std::optional<FoeMessage> send(const FoeMessage &m)
    {
        auto reply = server.handle(m.encode());
        if (!reply)
            return std::nullopt;
        EXPECT_LE(reply->size(), kMailbox);
        auto parsed = FoeMessage::parse(*reply);
        EXPECT_TRUE(parsed.has_value());
        return parsed;
    }

    void expectAck(const std::optional<FoeMessage> &reply, uint32_t packet)
    {
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->op, FoeOp::Ack);
        EXPECT_EQ(reply->field, packet);
    }

    void expectError(const std::optional<FoeMessage> &reply, uint32_t code, const std::string &text)
    {
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->op, FoeOp::Error);
        EXPECT_EQ(reply->field, code);
        EXPECT_EQ(reply->payloadText(), text);
    }

    // Writes `file` packet by packet, every reply acknowledged in turn.
    void writeFile(const std::vector<uint8_t> &file)
    {
        expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
        std::size_t at = 0;
        uint32_t packet = 1;
        for (;;) {
            std::size_t n = std::min(kRoom, file.size() - at);
            std::vector<uint8_t> part(file.begin() + at, file.begin() + at + n);
            expectAck(send(FoeMessage::data(packet, part)), packet);
            at += n;
            ++packet;
            if (n < kRoom)
                return;
        }
    }
};

TEST(FoeMessageTest, RefusesBytesThatAreNotAWholeFoeMessage)
{
    auto good = FoeMessage::data(3, bytes(10)).encode();
    ASSERT_TRUE(FoeMessage::parse(good).has_value());

    auto coe = good;
    coe[5] = 0x13; // CoE, counter 1
    EXPECT_FALSE(FoeMessage::parse(coe).has_value());

    auto overlong = good;
    overlong[0] = static_cast<uint8_t>(good.size()); // header length past the bytes given
    EXPECT_FALSE(FoeMessage::parse(overlong).has_value());

    auto tooShortHeader = good;
    tooShortHeader[0] = 5;
    EXPECT_FALSE(FoeMessage::parse(tooShortHeader).has_value());

    EXPECT_FALSE(FoeMessage::parse(std::vector<uint8_t>(good.begin(), good.begin() + 11)).has_value());
}

TEST_F(ServerFixture, WriteDeliversTheWholeFileOnTheShortPacket)
{
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, kRoom - 1, kRoom, kRoom + 1, 3 * kRoom}) {
        completed.clear();
        auto file = bytes(size, static_cast<uint8_t>(size));
        writeFile(file);
        ASSERT_EQ(completed.size(), 1u) << "size " << size;
        EXPECT_EQ(completed[0].first, "TMCM-1610.bin");
        EXPECT_EQ(completed[0].second, file) << "size " << size;
        EXPECT_FALSE(server.transferInProgress());
    }
}

TEST_F(ServerFixture, FullLastPacketLeavesTheFileOpenUntilAnEmptyOne)
{
    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    expectAck(send(FoeMessage::data(1, bytes(kRoom))), 1);
    EXPECT_TRUE(completed.empty());
    EXPECT_TRUE(server.transferInProgress());
    expectAck(send(FoeMessage::data(2, {})), 2);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].second.size(), kRoom);
}

TEST_F(ServerFixture, RequestsAndPacketsThatAreRefused)
{
    expectError(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-174.bin")), sim::foe_error::NotFound,
                "Wrong file for TMCM-1610");
    expectError(send(FoeMessage::request(FoeOp::Write, 7, "TMCM-1610.bin")), sim::foe_error::NoRights,
                "Wrong password");
    expectError(send(FoeMessage::data(1, bytes(3))), sim::foe_error::Illegal, "No write in progress");

    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    expectAck(send(FoeMessage::data(1, bytes(kRoom))), 1);
    expectError(send(FoeMessage::data(3, bytes(kRoom))), sim::foe_error::PacketNumberWrong,
                "Packet number wrong");
    EXPECT_FALSE(server.transferInProgress());
    EXPECT_TRUE(completed.empty());

    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    expectError(send(FoeMessage::data(1, bytes(kRoom + 1))), sim::foe_error::Illegal, "Packet too long");
    EXPECT_FALSE(server.handle({1, 2, 3}).has_value());
}

TEST_F(ServerFixture, ErrorTextIsCutToTheSendMailbox)
{
    server.setWriteAcceptor([](const std::string &, uint32_t) {
        return FoeVerdict::refuse(sim::foe_error::NotDefined, std::string(200, 'x'));
    });
    auto reply = send(FoeMessage::request(FoeOp::Write, 0, "a"));
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->payload.size(), kRoom);
}

TEST_F(ServerFixture, FaultsStallBreakOffAndBusy)
{
    server.stallAfterPacket(1);
    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    expectAck(send(FoeMessage::data(1, bytes(kRoom))), 1);
    EXPECT_FALSE(send(FoeMessage::data(2, bytes(kRoom))).has_value());
    EXPECT_EQ(server.packetsReceived(), 1u);

    server.clearFaults();
    server.breakOffAfterPacket(0, sim::foe_error::DiskFull, "Flash full");
    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    expectError(send(FoeMessage::data(1, bytes(4))), sim::foe_error::DiskFull, "Flash full");
    EXPECT_TRUE(completed.empty());

    server.clearFaults();
    server.answerBusy(2);
    for (int i = 0; i < 2; ++i) {
        auto busy = send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin"));
        ASSERT_TRUE(busy.has_value());
        EXPECT_EQ(busy->op, FoeOp::Busy);
    }
    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    server.answerBusy(1);
    EXPECT_EQ(send(FoeMessage::data(1, bytes(4)))->op, FoeOp::Busy);
    expectAck(send(FoeMessage::data(1, bytes(4))), 1);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].second, bytes(4));
}

TEST_F(ServerFixture, MasterErrorEndsTheTransferSilently)
{
    expectAck(send(FoeMessage::request(FoeOp::Write, 0, "TMCM-1610.bin")), 0);
    EXPECT_FALSE(send(FoeMessage::error(sim::foe_error::NotDefined, "abort")).has_value());
    EXPECT_FALSE(server.transferInProgress());
}

TEST_F(ServerFixture, ReadServesTheFileInSegments)
{
    std::vector<uint8_t> file = bytes(2 * kRoom);
    server.setReadProvider([&file](const std::string &name, uint32_t) {
        if (name != "log.txt")
            return FoeFile{FoeVerdict::refuse(sim::foe_error::NotFound, "No such file"), {}};
        return FoeFile{FoeVerdict::accept(), file};
    });
    expectError(send(FoeMessage::request(FoeOp::Read, 0, "other")), sim::foe_error::NotFound, "No such file");

    std::vector<uint8_t> got;
    auto reply = send(FoeMessage::request(FoeOp::Read, 0, "log.txt"));
    for (uint32_t expected = 1; reply && reply->op == FoeOp::Data; ++expected) {
        EXPECT_EQ(reply->field, expected);
        got.insert(got.end(), reply->payload.begin(), reply->payload.end());
        bool last = reply->payload.size() < kRoom;
        reply = send(FoeMessage::ack(reply->field));
        if (last) {
            EXPECT_EQ(expected, 3u); // two full packets, then an empty one ends the file
            EXPECT_FALSE(reply.has_value());
        }
    }
    EXPECT_EQ(got, file);
    EXPECT_EQ(server.completedReads(), 1u);

    reply = send(FoeMessage::request(FoeOp::Read, 0, "log.txt"));
    ASSERT_TRUE(reply.has_value());
    expectError(send(FoeMessage::ack(5)), sim::foe_error::PacketNumberWrong, "Packet number wrong");
}

} // namespace
