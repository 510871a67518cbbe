/*
 * Slave side of the mailbox: message hand-over, reply queue, repeat, faults.
 */
#include "core/mailbox.h"

#include "core/mailboxheader.h"

namespace sim {

namespace {
constexpr int WriteMailbox = 0;
constexpr int ReadMailbox = 1;
} // namespace

void Mailbox::setHandler(
    std::shared_ptr<MailboxHandler> handler, std::initializer_list<AlState> states)
{
    for (AlState s : states)
        handlers_[std::uint8_t(s) & 0x0F] = handler;
}

MailboxHandler* Mailbox::handlerFor(AlState state) const
{
    return handlers_[std::uint8_t(state) & 0x0F].get();
}

void Mailbox::post(Bytes message)
{
    queue_.push_back({std::move(message), 0});
}

void Mailbox::clear()
{
    queue_.clear();
    last_.clear();
    haveLast_ = false;
    lastCounter_ = 0;
}

bool Mailbox::service(SyncManagers& sms, Bytes& memory, AlState state)
{
    if (sms.count() <= ReadMailbox)
        return false;
    bool lose = false;
    // A read that emptied the read mailbox happened in this frame: the fault loses that frame
    // after the slave has already let go of the message.
    const std::uint32_t reads = sms.readsCompleted(ReadMailbox);
    if (reads > readsSeen_ && sms.at(ReadMailbox).mailbox() && faults_.loseReads > 0) {
        --faults_.loseReads;
        lose = true;
    }
    readsSeen_ = reads;

    takeMessage(sms, memory, state);
    if (sms.repeatRequested(ReadMailbox)) {
        if (haveLast_)
            sms.repost(ReadMailbox, last_, memory);
        sms.acknowledgeRepeat(ReadMailbox);
    }
    postNext(sms, memory);
    return lose;
}

void Mailbox::takeMessage(SyncManagers& sms, Bytes& memory, AlState state)
{
    const SyncManager& sm = sms.at(WriteMailbox);
    if (!sm.mailbox() || !sm.masterWrites() || !sms.full(WriteMailbox) || faults_.holdWriteMailbox)
        return;
    Bytes message = sms.take(WriteMailbox, memory);
    if (keepReceived_)
        received_.push_back(message);
    MailboxHandler* handler = handlerFor(state);
    if (handler && handler->countsMessages() && message.size() >= MailboxHeader::Size) {
        const std::uint8_t counter = (message[MailboxHeader::Size - 1] >> 4) & 0x07;
        const bool repeated = counter != 0 && counter == lastCounter_;
        lastCounter_ = counter;
        if (repeated)
            return;
    }
    if (faults_.neverAnswer || !handler)
        return;
    MailboxReplies out;
    handler->onMessage(message, out);
    for (const Bytes& reply : out.messages()) {
        if (faults_.dropReplies > 0) {
            --faults_.dropReplies;
            continue;
        }
        const std::uint32_t delay = std::uint32_t(std::max(0, faults_.delayPolls));
        queue_.push_back({reply, sms.statusReads(ReadMailbox) + delay, handler->countsMessages()});
    }
}

void Mailbox::postNext(SyncManagers& sms, Bytes& memory)
{
    if (queue_.empty() || sms.full(ReadMailbox))
        return;
    Pending& next = queue_.front();
    if (sms.statusReads(ReadMailbox) < next.readyAfterPolls)
        return;
    const std::size_t counterAt = MailboxHeader::Size - 1;
    if (faults_.repeatCounter > 0 && next.counted && haveLast_ && last_.size() > counterAt
        && next.message.size() > counterAt) {
        --faults_.repeatCounter;
        next.message[counterAt]
            = std::uint8_t((next.message[counterAt] & 0x8F) | (last_[counterAt] & 0x70));
    }
    if (!sms.post(ReadMailbox, next.message, memory))
        return;
    last_ = next.message;
    haveLast_ = true;
    queue_.pop_front();
}

} // namespace sim
