// The controller's end of the command mailbox: it takes the 8-byte request the master wrote at the
// start of the write mailbox, has the interpreter carry it out and posts the 8-byte reply, bent by
// whatever faults a test switched on. Attached to the standard mailbox in PRE-OP, SAFE-OP and OP.
//
// A reply held back in time is the core mailbox's business (MailboxFaults::delayPolls); the faults
// here are those of the controller itself.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "controller/commandinterpreter.h"
#include "core/mailbox.h"

namespace sim {

// Faults of the command protocol, in force until cleared.
struct CommandFaults
{
    bool noReply = false; // requests are carried out but never answered
    bool wrongEcho = false; // the reply value has its lowest bit flipped
    unsigned answerEveryNth = 0; // 0 or 1: every request; n: only requests n, 2n, ... are answered
    bool powerLossOnStore = false; // the next store is not carried out: power fails first
    bool emergenciesOnly = false; // requests are dropped; each is answered by an emergency
    // A set of an axis parameter (of `setNotKeptType`, or of any when it is -1) is confirmed as
    // usual, but the value in use stays what it was, and a store then keeps the old one. The
    // password is still taken: without it the controller would refuse, not pretend.
    bool setNotKept = false;
    int setNotKeptType = -1;
};

class CommandMailbox : public MailboxHandler
{
public:
    explicit CommandMailbox(std::shared_ptr<CommandInterpreter> interpreter)
        : interpreter_(std::move(interpreter))
    {}

    // A message shorter than a command record is dropped unanswered; bytes after the record are
    // not looked at.
    void onMessage(const Bytes& message, MailboxReplies& out) override;
    // The records have no mailbox header and so no counter: every one is a request of its own.
    bool countsMessages() const override { return false; }

    // Counting for answerEveryNth starts anew with every call.
    void setFaults(const CommandFaults& faults);
    const CommandFaults& faults() const { return faults_; }
    void clearFaults() { setFaults({}); }

    // Every request taken, in order, for tests that look at what reached the controller.
    const std::vector<CommandRequest>& requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }

    // True once after a store met powerLossOnStore: the controller must now lose power.
    bool takePowerLoss() { return std::exchange(powerLost_, false); }
    // A CoE emergency (mailbox header and all) as a controller in trouble sends it unasked.
    static Bytes emergency();

private:
    bool answers();

    std::shared_ptr<CommandInterpreter> interpreter_;
    CommandFaults faults_;
    std::vector<CommandRequest> requests_;
    std::size_t counted_ = 0;
    bool powerLost_ = false;
};

} // namespace sim
