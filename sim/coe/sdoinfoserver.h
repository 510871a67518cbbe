// The SDO information service of an emulated CoE slave: the list of all objects (in as many
// fragments as the send mailbox needs), the description of one object and of one entry, and the
// information error answer for what the dictionary does not hold.
#pragma once

#include "coe/objectdictionary.h"

#include <cstddef>
#include <vector>

namespace sim {
namespace coe {

class SdoInfoServer
{
public:
    SdoInfoServer(const ObjectDictionary& dictionary, std::size_t sendMailboxSize);

    // The answers to one SDO information request, in the order they are to be read; empty for a
    // message that is not a request.
    std::vector<Bytes> handle(const Bytes& mailbox, const CoeFrame& frame) const;

private:
    std::vector<Bytes> objectList(std::uint16_t listType) const;
    Bytes objectDescription(std::uint16_t index) const;
    Bytes entryDescription(
        std::uint16_t index, std::uint8_t subIndex, std::uint8_t valueInfo) const;
    std::size_t room() const;

    const ObjectDictionary& dictionary_;
    std::size_t sendMailboxSize_;
};

// An SDO information message with `data` behind the 6 bytes of CoE and information header.
Bytes infoMessage(InfoOp op, std::uint16_t fragmentsLeft, const Bytes& data);
// An SDO information error answer.
Bytes infoError(std::uint32_t abortCode);

} // namespace coe
} // namespace sim
