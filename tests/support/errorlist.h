/*
 * The master's error list as bus tests read it, a mailbox handler that answers with scripted
 * replies, for tests of replies whose headers lie, and the check of the master's mailbox counters.
 */
#ifndef TESTS_SUPPORT_ERRORLIST_H
#define TESTS_SUPPORT_ERRORLIST_H

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

#include "core/mailbox.h"
#include "ethercatmain.h"

/* Every error list entry, oldest first; the list is empty afterwards. */
std::vector<ec_errort> popErrors();

/* The only error on the list, or nothing when there are none or several; the list is emptied. */
std::optional<ec_errort> onlyError();

/* Success when the list held exactly one entry, a packet error with `code`; the list is emptied. */
::testing::AssertionResult onlyPacketError(uint16 code);

/* Success when every message a slave's write mailbox took carries a mailbox counter of 1 to 7 that
 * differs from the one before it. A slave drops a message whose counter repeats the last one, and
 * counter 0 would turn that protection off. */
::testing::AssertionResult countersAdvance(const std::vector<sim::Bytes>& messages);

/* Answers every message with the next scripted reply, and with nothing once they are used up. */
class ScriptedMailbox : public sim::MailboxHandler
{
public:
    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override;
    std::deque<sim::Bytes> replies;
};

#endif
