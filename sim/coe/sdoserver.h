// The SDO side of an emulated CoE slave: upload and download of object entries through the
// mailbox, expedited, normal and segmented, single entry or complete access, as the EtherCAT
// standard describes the server.
//
// Upload: up to four bytes of a single entry go expedited; anything longer is announced with its
// size and carries as much as the slave's send mailbox holds, the rest follows in segments on the
// master's segment requests, whose toggle bit must alternate. Download: the initiate says the
// complete size; what does not fit follows in segments; the value is stored when the last byte has
// arrived, or refused with the abort code of the dictionary. Every refusal is an abort transfer.
#pragma once

#include "coe/objectdictionary.h"

#include <cstddef>
#include <optional>

namespace sim {
namespace coe {

struct SdoFaults
{
    // Segmented uploads deliver this many bytes more than they announced.
    std::size_t overrunBytes = 0;
    // Upload responses name the next index instead of the one asked for.
    bool wrongIndex = false;
};

class SdoServer
{
public:
    // `sendMailboxSize`: bytes of the slave's read mailbox, which bound every answer.
    SdoServer(ObjectDictionary& dictionary, std::size_t sendMailboxSize);

    // The answer to one SDO request (the whole mailbox content), or nothing for an abort from the
    // master or a message too short to be a request.
    std::optional<Bytes> handle(const Bytes& mailbox, const CoeFrame& frame);

    SdoFaults& faults() { return faults_; }
    // Forget a transfer in progress.
    void reset();

private:
    struct Upload
    {
        std::uint16_t index;
        std::uint8_t subIndex;
        Bytes data;
        std::size_t sent;
        std::uint8_t toggle;
    };
    struct Download
    {
        std::uint16_t index;
        std::uint8_t subIndex;
        bool complete;
        std::size_t size;
        Bytes data;
        std::uint8_t toggle;
    };

    Bytes initiateUpload(std::uint16_t index, std::uint8_t subIndex, bool complete);
    Bytes uploadSegment(std::uint8_t command);
    Bytes initiateDownload(const Bytes& mailbox, const CoeFrame& frame);
    Bytes downloadSegment(const Bytes& mailbox, const CoeFrame& frame);
    Bytes finishDownload(const Download& download);
    // Forget the transfer in progress and refuse it with `code`.
    Bytes abortTransfer(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code);

    ObjectDictionary& dictionary_;
    std::size_t sendMailboxSize_;
    SdoFaults faults_;
    std::optional<Upload> upload_;
    std::optional<Download> download_;
};

} // namespace coe
} // namespace sim
