// SDO information answers of an emulated CoE slave.
#include "coe/sdoinfoserver.h"

#include <algorithm>

namespace sim {
namespace coe {

namespace {
constexpr std::size_t InfoDataOffset = 12;
constexpr std::uint16_t ListAllObjects = 1;
} // namespace

Bytes infoMessage(InfoOp op, std::uint16_t fragmentsLeft, const Bytes& data)
{
    Bytes message = coeMessage(std::uint16_t(6 + data.size()), Service::SdoInformation);
    message[8] = std::uint8_t(static_cast<std::uint8_t>(op) | (fragmentsLeft ? InfoIncomplete : 0));
    putLe16(&message[10], fragmentsLeft);
    std::copy(data.begin(), data.end(), message.begin() + InfoDataOffset);
    return message;
}

Bytes infoError(std::uint32_t abortCode)
{
    return infoMessage(InfoOp::Error, 0, u32(abortCode));
}

SdoInfoServer::SdoInfoServer(const ObjectDictionary& dictionary, std::size_t sendMailboxSize)
    : dictionary_(dictionary)
    , sendMailboxSize_(sendMailboxSize)
{}

std::size_t SdoInfoServer::room() const
{
    return mailboxRoom(sendMailboxSize_, InfoDataOffset);
}

std::vector<Bytes> SdoInfoServer::handle(const Bytes& mailbox, const CoeFrame& frame) const
{
    if (frame.length < 6)
        return {};
    auto op = static_cast<InfoOp>(mailbox[8] & 0x7F);
    switch (op) {
    case InfoOp::ListRequest:
        if (frame.length < 8)
            return {infoError(abort::General)};
        return objectList(getLe16(&mailbox[12]));
    case InfoOp::ObjectRequest:
        if (frame.length < 8)
            return {infoError(abort::General)};
        return {objectDescription(getLe16(&mailbox[12]))};
    case InfoOp::EntryRequest:
        if (frame.length < 10)
            return {infoError(abort::General)};
        return {entryDescription(getLe16(&mailbox[12]), mailbox[14], mailbox[15])};
    default:
        return {infoError(abort::CommandUnknown)};
    }
}

std::vector<Bytes> SdoInfoServer::objectList(std::uint16_t listType) const
{
    if (listType != ListAllObjects)
        return {infoError(abort::UnsupportedAccess)};
    // The list type leads the first fragment; the indexes follow, split at word boundaries.
    Bytes payload = u16(listType);
    for (std::uint16_t index : dictionary_.indexes())
        appendLe16(payload, index);
    std::size_t chunk = room() & ~std::size_t(1);
    if (chunk == 0)
        return {infoError(abort::General)};
    std::size_t count = (payload.size() + chunk - 1) / chunk;
    std::vector<Bytes> answers;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t begin = i * chunk;
        std::size_t end = std::min(payload.size(), begin + chunk);
        Bytes part(payload.begin() + long(begin), payload.begin() + long(end));
        answers.push_back(infoMessage(InfoOp::ListResponse, std::uint16_t(count - 1 - i), part));
    }
    return answers;
}

Bytes SdoInfoServer::objectDescription(std::uint16_t index) const
{
    const DictionaryObject* object = dictionary_.find(index);
    if (!object)
        return infoError(abort::NoObject);
    Bytes data = u16(index);
    appendLe16(data, object->dataType);
    data.push_back(object->maxSubIndex());
    data.push_back(object->objectCode);
    data.insert(data.end(), object->name.begin(), object->name.end());
    data.resize(std::min(data.size(), room()));
    return infoMessage(InfoOp::ObjectResponse, 0, data);
}

Bytes SdoInfoServer::entryDescription(
    std::uint16_t index, std::uint8_t subIndex, std::uint8_t valueInfo) const
{
    const DictionaryObject* object = dictionary_.find(index);
    if (!object)
        return infoError(abort::NoObject);
    if (subIndex >= object->entries.size())
        return infoError(abort::NoSubIndex);
    const ObjectEntry& entry = object->entries[subIndex];
    Bytes data = u16(index);
    data.push_back(subIndex);
    data.push_back(valueInfo);
    for (std::uint16_t word : {entry.dataType, entry.bitLength, entry.access})
        appendLe16(data, word);
    data.insert(data.end(), entry.name.begin(), entry.name.end());
    data.resize(std::min(data.size(), room()));
    return infoMessage(InfoOp::EntryResponse, 0, data);
}

} // namespace coe
} // namespace sim
