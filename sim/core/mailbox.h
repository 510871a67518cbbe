/*
 * The slave side of the mailbox: hands each message the master writes into the write mailbox
 * (SyncManager 0) to a protocol handler and returns the handler's replies, and any unsolicited
 * message such as an emergency, through the read mailbox (SyncManager 1), one at a time.
 *
 * The core does not look inside messages: a handler receives the raw content of the write mailbox
 * (its whole configured length; usually a 6-byte mailbox header and payload, but the motor
 * controllers' command protocol writes 8 bytes without header) and posts raw replies. A handler is
 * attached for a set of AL states, so one slave can answer its command protocol in PRE-OP, SAFE-OP
 * and OP and FoE in BOOT; a message that arrives in a state without handler is taken and dropped.
 *
 * Faults switch off or distort the answers: a mailbox that never answers, replies dropped or held
 * back for a number of status polls, a read mailbox whose content is lost on the way back (the
 * master then has to use the repeat request), a write mailbox the slave never empties.
 */
#ifndef SIM_CORE_MAILBOX_H
#define SIM_CORE_MAILBOX_H

#include "core/frame.h"
#include "core/registers.h"
#include "core/syncmanager.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <vector>

namespace sim {

/* Where a handler puts its answers to one message. */
class MailboxReplies
{
public:
    /* Queue one reply; it is cut to the read mailbox length if longer, zero-padded if shorter. */
    void post(Bytes message) { messages_.push_back(std::move(message)); }
    const std::vector<Bytes>& messages() const { return messages_; }

private:
    std::vector<Bytes> messages_;
};

/* A mailbox protocol endpoint (CoE, FoE, SoE, the command protocol, ...). */
class MailboxHandler
{
public:
    virtual ~MailboxHandler() = default;
    /* `message`: the raw write-mailbox content. Post zero or more replies to `out`. */
    virtual void onMessage(const Bytes& message, MailboxReplies& out) = 0;
    /* True for messages with a mailbox header: the slave then takes a message whose counter
     * repeats the one before for a repetition of a write whose confirmation the master lost, and
     * drops it. A protocol without header has no counter and takes every message. */
    virtual bool countsMessages() const { return true; }
};

/* Faults of one slave's mailbox, switchable by a test at any time. */
struct MailboxFaults
{
    bool neverAnswer = false; /* messages are taken, nothing is ever answered */
    int dropReplies = 0; /* the next n replies are thrown away */
    int delayPolls = 0; /* each reply waits this many reads of the SM1 status before it is posted */
    int loseReads = 0; /* the next n frames that empty the read mailbox do not come back */
    /* the slave does not take messages: the write mailbox stays full */
    bool holdWriteMailbox = false;
    /* the next n replies with a header carry the counter of the one before */
    int repeatCounter = 0;
};

class Mailbox
{
public:
    /* Attach `handler` for the given AL states (replacing what those states had). */
    void setHandler(std::shared_ptr<MailboxHandler> handler, std::initializer_list<AlState> states);
    /* Send an unsolicited message (an emergency, say) after the replies already queued. */
    void post(Bytes message);

    MailboxFaults& faults() { return faults_; }
    /* Every message the master wrote, in order (for tests), repetitions that were dropped too. */
    const std::vector<Bytes>& received() const { return received_; }
    /* Drop that record and its memory: a fuzz run must free what it allocated, or every run
     * looks like a leak to the fuzzer and pays for a full leak scan. */
    void forgetReceived() { std::vector<Bytes>().swap(received_); }
    /* Keep that record (the default) or not: a long-running server has no reader for it, and a
     * record that grows by every message touches fresh memory every few frames. */
    void keepReceived(bool keep) { keepReceived_ = keep; }
    /* Replies waiting for the read mailbox. */
    std::size_t pending() const { return queue_.size(); }

    /* Run the slave's side after a frame has passed: take a written message, repeat on request,
     * move the next reply into the read mailbox. Returns true when the frame that just passed
     * must be lost (fault `loseReads`). */
    bool service(SyncManagers& sms, Bytes& memory, AlState state);

    /* Forget queued replies and the last reply (the mailbox is reset with the AL state INIT or
     * a power cycle); handlers and faults stay. */
    void clear();

private:
    struct Pending
    {
        Bytes message;
        std::uint32_t readyAfterPolls;
        bool counted = false; /* it has a mailbox header with a counter */
    };
    MailboxHandler* handlerFor(AlState state) const;
    void takeMessage(SyncManagers& sms, Bytes& memory, AlState state);
    void postNext(SyncManagers& sms, Bytes& memory);

    std::shared_ptr<MailboxHandler> handlers_[16];
    MailboxFaults faults_;
    std::vector<Bytes> received_;
    bool keepReceived_ = true;
    std::deque<Pending> queue_;
    Bytes last_;
    bool haveLast_ = false;
    std::uint32_t readsSeen_ = 0;
    std::uint8_t lastCounter_ = 0; /* of the last message taken; 0: none */
};

} // namespace sim

#endif
