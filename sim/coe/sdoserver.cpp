// SDO upload and download of an emulated CoE slave.
#include "coe/sdoserver.h"

#include <algorithm>

namespace sim {
namespace coe {

namespace {

constexpr std::uint8_t Toggle = 0x10;
constexpr std::uint8_t AbortCommand = 0x80;
constexpr std::uint8_t CompleteAccess = 0x10;
// A segment carries at least seven bytes; a shorter last one says how many of them are unused.
constexpr std::size_t MinSegmentData = 7;
constexpr std::size_t SegmentDataOffset = 9;
constexpr std::size_t SizedDataOffset = 16;

// Client command specifiers in bits 5..7 of the command byte.
enum Ccs : std::uint8_t {
    DownloadSegment = 0,
    InitiateDownload = 1,
    InitiateUpload = 2,
    UploadSegment = 3,
    Abort = 4
};

Bytes sdoResponse(
    std::uint16_t length, std::uint8_t command, std::uint16_t index, std::uint8_t subIndex)
{
    Bytes message = coeMessage(length, Service::SdoResponse);
    message[8] = command;
    putLe16(&message[9], index);
    message[11] = subIndex;
    return message;
}

} // namespace

SdoServer::SdoServer(ObjectDictionary& dictionary, std::size_t sendMailboxSize)
    : dictionary_(dictionary)
    , sendMailboxSize_(sendMailboxSize)
{}

void SdoServer::reset()
{
    upload_.reset();
    download_.reset();
}

std::optional<Bytes> SdoServer::handle(const Bytes& mailbox, const CoeFrame& frame)
{
    if (frame.length < 3)
        return std::nullopt;
    std::uint8_t command = mailbox[8];
    switch (command >> 5) {
    case Abort:
        reset();
        return std::nullopt;
    case UploadSegment:
        return uploadSegment(command);
    case DownloadSegment:
        return downloadSegment(mailbox, frame);
    default:
        break;
    }
    if (frame.length < 10)
        return sdoAbort(0, 0, abort::CommandUnknown);
    std::uint16_t index = getLe16(&mailbox[9]);
    std::uint8_t subIndex = mailbox[11];
    switch (command >> 5) {
    case InitiateUpload:
        return initiateUpload(index, subIndex, (command & CompleteAccess) != 0);
    case InitiateDownload:
        return initiateDownload(mailbox, frame);
    default:
        return sdoAbort(index, subIndex, abort::CommandUnknown);
    }
}

Bytes SdoServer::initiateUpload(std::uint16_t index, std::uint8_t subIndex, bool complete)
{
    reset();
    ReadResult read = dictionary_.read(index, subIndex, complete);
    if (read.abortCode)
        return sdoAbort(index, subIndex, read.abortCode);
    std::uint16_t answeredIndex = faults_.wrongIndex ? std::uint16_t(index + 1) : index;
    std::size_t size = read.data.size();
    if (size <= 4 && !complete && size > 0) {
        Bytes message
            = sdoResponse(10, std::uint8_t(0x43 | ((4 - size) << 2)), answeredIndex, subIndex);
        std::copy(read.data.begin(), read.data.end(), message.begin() + 12);
        return message;
    }
    const std::size_t room = mailboxRoom(sendMailboxSize_, SizedDataOffset);
    std::size_t first = std::min(size, room);
    Bytes message = sdoResponse(std::uint16_t(10 + first),
        std::uint8_t(0x41 | (complete ? CompleteAccess : 0)), answeredIndex, subIndex);
    putLe32(&message[12], std::uint32_t(size));
    std::copy(
        read.data.begin(), read.data.begin() + long(first), message.begin() + SizedDataOffset);
    if (first < size) {
        read.data.resize(size + faults_.overrunBytes, 0xA5);
        upload_ = Upload{index, subIndex, std::move(read.data), first, 0};
    }
    return message;
}

Bytes SdoServer::uploadSegment(std::uint8_t command)
{
    if (!upload_)
        return sdoAbort(0, 0, abort::CommandUnknown);
    Upload& up = *upload_;
    if ((command & Toggle) != up.toggle)
        return abortTransfer(up.index, up.subIndex, abort::ToggleNotChanged);
    const std::size_t room = mailboxRoom(sendMailboxSize_, SegmentDataOffset);
    std::size_t size = std::min(up.data.size() - up.sent, room);
    bool last = up.sent + size == up.data.size();
    std::uint8_t reply = std::uint8_t(up.toggle | (last ? 0x01 : 0x00));
    std::size_t length = 3 + size;
    if (size < MinSegmentData) {
        reply = std::uint8_t(reply | ((MinSegmentData - size) << 1));
        length = 3 + MinSegmentData;
    }
    Bytes message = coeMessage(std::uint16_t(length), Service::SdoResponse);
    message[8] = reply;
    std::copy(up.data.begin() + long(up.sent), up.data.begin() + long(up.sent + size),
        message.begin() + SegmentDataOffset);
    up.sent += size;
    up.toggle ^= Toggle;
    if (last)
        reset();
    return message;
}

Bytes SdoServer::initiateDownload(const Bytes& mailbox, const CoeFrame& frame)
{
    reset();
    std::uint8_t command = mailbox[8];
    std::uint16_t index = getLe16(&mailbox[9]);
    std::uint8_t subIndex = mailbox[11];
    bool complete = (command & CompleteAccess) != 0;
    if (std::uint32_t refused = dictionary_.checkWritable(index, subIndex, complete))
        return sdoAbort(index, subIndex, refused);
    Download down{index, subIndex, complete, 0, {}, 0};
    if (command & 0x02) {
        // Expedited: the data word itself, less the unused bytes when the size is indicated.
        down.size = (command & 0x01) ? 4 - ((command >> 2) & 0x03) : 4;
        down.data.assign(mailbox.begin() + 12, mailbox.begin() + 12 + long(down.size));
        return finishDownload(down);
    }
    down.size = getLe32(&mailbox[12]);
    std::size_t carried = frame.length - 10u;
    down.data.assign(mailbox.begin() + SizedDataOffset,
        mailbox.begin() + long(SizedDataOffset + std::min(carried, down.size)));
    if (carried >= down.size)
        return finishDownload(down);
    download_ = std::move(down);
    return sdoResponse(10, 0x60, index, subIndex);
}

Bytes SdoServer::downloadSegment(const Bytes& mailbox, const CoeFrame& frame)
{
    std::uint8_t command = mailbox[8];
    if (!download_)
        return sdoAbort(0, 0, abort::CommandUnknown);
    Download& down = *download_;
    if ((command & Toggle) != down.toggle)
        return abortTransfer(down.index, down.subIndex, abort::ToggleNotChanged);
    bool last = (command & 0x01) != 0;
    std::size_t size = frame.length - 3u;
    if (last && size == MinSegmentData)
        size -= (command >> 1) & 0x07;
    if (down.data.size() + size > down.size)
        return abortTransfer(down.index, down.subIndex, abort::LengthTooHigh);
    down.data.insert(down.data.end(), mailbox.begin() + SegmentDataOffset,
        mailbox.begin() + long(SegmentDataOffset + size));
    down.toggle ^= Toggle;
    Bytes acknowledge = coeMessage(10, Service::SdoResponse);
    acknowledge[8] = std::uint8_t(0x20 | (command & Toggle));
    if (!last)
        return acknowledge;
    Download finished = std::move(down);
    reset();
    Bytes answer = finishDownload(finished);
    return answer[8] == AbortCommand ? answer : acknowledge;
}

Bytes SdoServer::abortTransfer(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code)
{
    reset();
    return sdoAbort(index, subIndex, code);
}

Bytes SdoServer::finishDownload(const Download& download)
{
    if (download.data.size() != download.size)
        return sdoAbort(download.index, download.subIndex, abort::LengthTooLow);
    if (std::uint32_t refused
        = dictionary_.write(download.index, download.subIndex, download.complete, download.data))
        return sdoAbort(download.index, download.subIndex, refused);
    return sdoResponse(10, 0x60, download.index, download.subIndex);
}

} // namespace coe
} // namespace sim
