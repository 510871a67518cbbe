// The controller's end of the command mailbox: it takes the bytes the master wrote into the write
// mailbox, lets the interpreter answer, and hands the reply out when it is due, bent by whatever
// faults a test switched on.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "controller/commandinterpreter.h"

namespace sim {

// Faults of the command mailbox, in force until cleared.
struct CommandFaults {
    bool noReply = false;          // requests are taken and carried out, but never answered
    bool wrongEcho = false;        // the reply value has its lowest bit flipped
    std::uint64_t replyDelayUs = 0; // the reply shows up this long after the request
    unsigned answerEveryNth = 0;   // 0 or 1: every request; n: only requests n, 2n, ... are answered
};

class CommandEndpoint {
public:
    explicit CommandEndpoint(CommandInterpreter &interpreter) : interpreter_(interpreter) {}

    // One mailbox write of the master at bus time `nowUs`. A write shorter than a command record
    // is ignored, as are the bytes after the record.
    void receive(const std::vector<uint8_t> &mailbox, std::uint64_t nowUs);

    // The oldest reply that is due at `nowUs`, as the 8 bytes at the start of the read mailbox.
    std::optional<std::vector<uint8_t>> takeReply(std::uint64_t nowUs);
    // Bus time at which the next reply is due, if any is waiting.
    std::optional<std::uint64_t> nextReplyDue() const;

    // Forgets replies not yet taken (the slave left the state that serves the mailbox).
    void reset() { pending_.clear(); }

    // Counting for answerEveryNth starts anew with every call.
    void setFaults(const CommandFaults &faults)
    {
        faults_ = faults;
        counted_ = 0;
    }
    const CommandFaults &faults() const { return faults_; }
    void clearFaults() { faults_ = {}; }

    // Every request taken, in order, for tests that look at what reached the controller.
    const std::vector<CommandRequest> &requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }

private:
    struct Pending {
        std::uint64_t dueUs;
        std::vector<uint8_t> bytes;
    };

    bool answers();

    CommandInterpreter &interpreter_;
    CommandFaults faults_;
    std::deque<Pending> pending_;
    std::vector<CommandRequest> requests_;
    std::size_t counted_ = 0;
};

} // namespace sim
