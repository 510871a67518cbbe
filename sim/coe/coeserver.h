// The CoE endpoint of an emulated slave: a mailbox handler that hands SDO requests to the SDO
// server and SDO information requests to the information server, answers a TxPDO remote request
// with the slave's TxPDO data, keeps the last RxPDO, and sends emergencies when a test asks.
//
//   auto coe = std::make_shared<sim::coe::CoeServer>(sim::coe::demoDictionary(...), 128, 128);
//   slave.mailbox().setHandler(coe, {sim::AlState::PreOp, sim::AlState::SafeOp, sim::AlState::Op});
//   coe->emergencyBeforeNextReply(0x8110, 0x11);   // the next answer is preceded by an emergency
//
// A message that is not CoE, or a CoE service the slave does not offer, gets no answer.
#pragma once

#include "coe/objectdictionary.h"
#include "coe/sdoinfoserver.h"
#include "coe/sdoserver.h"
#include "core/mailbox.h"

#include <cstddef>
#include <deque>

namespace sim {
namespace coe {

class CoeServer : public MailboxHandler
{
public:
    // `receiveMailboxSize` and `sendMailboxSize`: the slave's write and read mailbox lengths.
    CoeServer(
        ObjectDictionary dictionary, std::size_t receiveMailboxSize, std::size_t sendMailboxSize);

    void onMessage(const Bytes& message, MailboxReplies& out) override;

    ObjectDictionary& dictionary() { return dictionary_; }
    SdoFaults& faults() { return sdo_.faults(); }

    // The next answer is preceded by this emergency (manufacturer bytes zero unless given).
    void emergencyBeforeNextReply(std::uint16_t errorCode, std::uint8_t errorRegister,
        const std::uint8_t (&data)[5] = {0, 0, 0, 0, 0});
    // Data sent in answer to a TxPDO remote request.
    void setTxPdo(Bytes data) { txPdo_ = std::move(data); }
    // The data of the last RxPDO received.
    const Bytes& lastRxPdo() const { return rxPdo_; }
    // CoE messages taken, of every service.
    std::size_t messagesTaken() const { return taken_; }

    // Forget transfers in progress.
    void reset() { sdo_.reset(); }

private:
    void answer(std::vector<Bytes> replies, MailboxReplies& out);

    ObjectDictionary dictionary_;
    std::size_t receiveMailboxSize_;
    SdoServer sdo_;
    SdoInfoServer info_;
    Bytes txPdo_;
    Bytes rxPdo_;
    std::deque<Bytes> emergencies_;
    std::size_t taken_ = 0;
};

} // namespace coe
} // namespace sim
