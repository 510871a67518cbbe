// A generic FoE server for an emulated slave: it takes the mailbox messages the master writes and
// answers them as a slave's file service would.
//
// Use:
//   sim::FoeServer foe({/*receiveMailboxSize*/ 512, /*sendMailboxSize*/ 512});
//   foe.setWriteAcceptor([](const std::string &name, uint32_t password) {
//       return name == "TMCM-1610.bin" ? sim::FoeVerdict::accept()
//                                      : sim::FoeVerdict::refuse(sim::foe_error::NotFound, "wrong file");
//   });
//   foe.setWriteCompletion([](const std::string &name, const Bytes &file) { ... });
//   foe.setReadProvider([](const std::string &name, uint32_t password) -> sim::FoeFile { ... });
//   std::optional<Bytes> reply = foe.handle(bytesWrittenByTheMaster);
//
// On an emulated slave it is a mailbox handler, typically for BOOT through the bootstrap mailbox:
//   auto foe = std::make_shared<sim::FoeServer>(sim::FoeMailboxes{0x200, 0x200});
//   slave.mailbox().setHandler(foe, {sim::AlState::Boot});
// A slave that leaves BOOT should call foe->reset() (from its stateChanged hook) so that a transfer
// broken off by the state change does not linger.
//
// Protocol:
//   write request -> the acceptor decides: ACK 0, or ERROR with its code and text (no acceptor:
//                    every write is refused with "Not found");
//   DATA n        -> ACK n when n is the next packet number; ERROR "Packet number wrong" (0x8005)
//                    otherwise, which ends the transfer. A data packet shorter than the receive
//                    mailbox's data room (receiveMailboxSize - 12) ends the file, and the
//                    completion callback gets the whole file;
//   read request  -> the provider decides: DATA 1.. of (sendMailboxSize - 12) bytes, each sent
//                    after the ACK of the one before; the first short (possibly empty) packet
//                    ends the file. A wrong ACK number ends the transfer with ERROR 0x8005;
//   ERROR         -> the master breaks off: the transfer ends without an answer;
//   anything else -> ERROR "Illegal" (0x8004).
//   A message that is not FoE gets no answer.
//
// Faults, each in force until clearFaults():
//   stallAfterPacket(n)        data packets after packet n get no answer at all;
//   breakOffAfterPacket(n,c,t) a data packet after packet n is answered with ERROR c and text t;
//   answerBusy(k)              the next k messages of a transfer are answered BUSY and not taken,
//                              so the same message sent again goes through.
#pragma once

#include "core/mailbox.h"
#include "foe/foemessage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// What an acceptor or provider says to a request.
struct FoeVerdict
{
    bool accepted = true;
    uint32_t errorCode = 0;
    std::string errorText;

    static FoeVerdict accept() { return {}; }
    static FoeVerdict refuse(uint32_t code, std::string text)
    {
        return {false, code, std::move(text)};
    }
};

// Sizes of the mailbox the server answers through; they decide the packet size.
struct FoeMailboxes
{
    std::size_t receiveMailboxSize = 512; // master to slave
    std::size_t sendMailboxSize = 512; // slave to master
};

// A file served to a read request, or the refusal.
struct FoeFile
{
    FoeVerdict verdict;
    Bytes content;
};

class FoeServer : public MailboxHandler
{
public:
    using Mailboxes = FoeMailboxes;

    using WriteAcceptor = std::function<FoeVerdict(const std::string& fileName, uint32_t password)>;
    using WriteCompletion = std::function<void(const std::string& fileName, const Bytes& file)>;
    using ReadProvider = std::function<FoeFile(const std::string& fileName, uint32_t password)>;

    FoeServer() = default;
    explicit FoeServer(Mailboxes mailboxes);

    void setWriteAcceptor(WriteAcceptor acceptor) { acceptor_ = std::move(acceptor); }
    void setWriteCompletion(WriteCompletion completion) { completion_ = std::move(completion); }
    void setReadProvider(ReadProvider provider) { provider_ = std::move(provider); }
    // The mailbox sizes decide the packet size; a slave that switches to its bootstrap mailbox
    // sets them anew.
    void setMailboxes(Mailboxes mailboxes) { mailboxes_ = mailboxes; }

    void stallAfterPacket(uint32_t packet) { stallAfter_ = packet; }
    void breakOffAfterPacket(uint32_t packet, uint32_t code, std::string text);
    void answerBusy(unsigned times) { busyAnswers_ = times; }
    void clearFaults();

    // The answer to one message written by the master: its mailbox bytes, or nothing.
    std::optional<Bytes> handle(const Bytes& mailbox);

    // MailboxHandler: posts the answer to `message`, if there is one.
    void onMessage(const Bytes& message, MailboxReplies& out) override;

    // Forgets a transfer in progress (the slave left the state that serves FoE).
    void reset();

    bool transferInProgress() const { return mode_ != Mode::Idle; }
    // Data packets taken so far in the current (or last) write.
    uint32_t packetsReceived() const { return lastPacket_; }
    std::size_t completedWrites() const { return completedWrites_; }
    std::size_t completedReads() const { return completedReads_; }
    // The last error this server answered with (code 0: none yet).
    uint32_t lastErrorCode() const { return lastErrorCode_; }
    const std::string& lastErrorText() const { return lastErrorText_; }

private:
    enum class Mode { Idle, Writing, Reading };

    std::optional<FoeMessage> onWriteRequest(const FoeMessage& request);
    std::optional<FoeMessage> onData(const FoeMessage& packet);
    std::optional<FoeMessage> onReadRequest(const FoeMessage& request);
    std::optional<FoeMessage> onAck(const FoeMessage& ack);
    FoeMessage nextReadPacket();
    FoeMessage fail(uint32_t code, const std::string& text);
    Bytes send(FoeMessage message);
    std::size_t receiveRoom() const;
    std::size_t sendRoom() const;

    Mailboxes mailboxes_;
    WriteAcceptor acceptor_;
    WriteCompletion completion_;
    ReadProvider provider_;

    Mode mode_ = Mode::Idle;
    std::string fileName_;
    Bytes file_;
    uint32_t lastPacket_ = 0;
    std::size_t readOffset_ = 0;
    bool lastReadPacketSent_ = false;

    std::optional<uint32_t> stallAfter_;
    std::optional<uint32_t> breakOffAfter_;
    uint32_t breakOffCode_ = 0;
    std::string breakOffText_;
    unsigned busyAnswers_ = 0;

    std::size_t completedWrites_ = 0;
    std::size_t completedReads_ = 0;
    uint32_t lastErrorCode_ = 0;
    std::string lastErrorText_;
    uint8_t counter_ = 0;
};

} // namespace sim
