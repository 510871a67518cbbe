// The master's error list as bus tests read it, scripted mailbox replies, mailbox counters.
#include "errorlist.h"

std::vector<ec_errort> popErrors()
{
    std::vector<ec_errort> list;
    ec_errort e;
    while (ec_poperror(&e))
        list.push_back(e);
    return list;
}

std::optional<ec_errort> onlyError()
{
    auto list = popErrors();
    if (list.size() != 1)
        return std::nullopt;
    return list.front();
}

::testing::AssertionResult onlyPacketError(uint16 code)
{
    auto list = popErrors();
    if (list.size() != 1)
        return ::testing::AssertionFailure() << list.size() << " errors on the list, expected one";
    const ec_errort& e = list.front();
    if (e.Etype != EC_ERR_TYPE_PACKET_ERROR || e.ErrorCode != code)
        return ::testing::AssertionFailure()
            << "error type " << int(e.Etype) << " code " << e.ErrorCode;
    return ::testing::AssertionSuccess();
}

void ScriptedMailbox::onMessage(const sim::Bytes&, sim::MailboxReplies& out)
{
    if (replies.empty())
        return;
    out.post(replies.front());
    replies.pop_front();
}

::testing::AssertionResult countersAdvance(const std::vector<sim::Bytes>& messages)
{
    int previous = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const int counter = messages[i].size() >= 6 ? (messages[i][5] >> 4) & 0x07 : 0;
        if (counter == 0 || counter == previous)
            return ::testing::AssertionFailure()
                << "message " << i << " has counter " << counter << " after " << previous;
        previous = counter;
    }
    return ::testing::AssertionSuccess();
}
