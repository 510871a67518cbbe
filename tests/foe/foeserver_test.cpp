// The virtual bus's FoE server where the master cannot reach it: malformed messages, packets out of
// order, a master that breaks off, error texts longer than the mailbox.
#include "foe/foeserver.h"

#include <gtest/gtest.h>

using sim::FoeMessage;
using sim::FoeOp;

namespace {

TEST(FoeServer, RefusesWhatAWellBehavedMasterNeverSends)
{
    sim::FoeServer server({64, 64});
    server.setWriteAcceptor([](const std::string &name, uint32_t) {
        return name == "a" ? sim::FoeVerdict::accept()
                           : sim::FoeVerdict::refuse(sim::foe_error::NotFound, std::string(100, 'x'));
    });
    auto answer = [&server](const FoeMessage &m) {
        auto reply = server.handle(m.encode());
        return reply ? FoeMessage::parse(*reply) : std::nullopt;
    };

    // Not FoE, cut short, or a header length past the bytes: no answer at all.
    auto coe = FoeMessage::ack(0).encode();
    coe[5] = 0x13;
    auto overlong = FoeMessage::ack(0).encode();
    overlong[0] = 40;
    for (const sim::Bytes &bad : {coe, overlong, sim::Bytes{4, 0, 0, 0, 0, 4}})
        EXPECT_FALSE(server.handle(bad).has_value());

    // The refusal's text is cut to the 52 bytes the send mailbox holds.
    auto refused = answer(FoeMessage::request(FoeOp::Write, 0, "b"));
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->op, FoeOp::Error);
    EXPECT_EQ(refused->payload.size(), 52u);

    auto stray = answer(FoeMessage::data(1, {1}));
    EXPECT_EQ(stray->field, sim::foe_error::Illegal);

    EXPECT_EQ(answer(FoeMessage::request(FoeOp::Write, 0, "a"))->op, FoeOp::Ack);
    auto skipped = answer(FoeMessage::data(2, {1}));
    EXPECT_EQ(skipped->op, FoeOp::Error);
    EXPECT_EQ(skipped->field, sim::foe_error::PacketNumberWrong);
    EXPECT_FALSE(server.transferInProgress());

    EXPECT_EQ(answer(FoeMessage::request(FoeOp::Write, 0, "a"))->op, FoeOp::Ack);
    EXPECT_FALSE(answer(FoeMessage::error(sim::foe_error::NotDefined, "abort")).has_value());
    EXPECT_FALSE(server.transferInProgress());
    EXPECT_EQ(server.completedWrites(), 0u);
}

} // namespace
