// IDN reads and writes of an emulated SoE drive.
#include "soe/soeserver.h"

#include <algorithm>

namespace sim {
namespace soe {

SoeServer::SoeServer(std::size_t receiveMailboxSize, std::size_t sendMailboxSize)
    : receiveMailboxSize_(receiveMailboxSize)
    , sendMailboxSize_(sendMailboxSize)
{}

const Idn* SoeServer::find(std::uint16_t number) const
{
    auto it = idns_.find(number);
    return it == idns_.end() ? nullptr : &it->second;
}

void SoeServer::onMessage(const Bytes& message, MailboxReplies& out)
{
    Bytes mailbox(
        message.begin(), message.begin() + long(std::min(message.size(), receiveMailboxSize_)));
    auto request = SoeHeader::parse(mailbox);
    if (!request)
        return;
    if (request->op == Op::ReadRequest) {
        for (auto& reply : read(*request))
            out.post(std::move(reply));
    } else if (request->op == Op::WriteRequest) {
        if (auto reply = write(*request, mailbox))
            out.post(std::move(*reply));
    }
}

Bytes SoeServer::failure(Op op, const SoeHeader& request, std::uint16_t code) const
{
    SoeHeader h = request;
    h.op = op;
    h.incomplete = false;
    h.error = true;
    return h.encode(u16(code));
}

std::vector<Bytes> SoeServer::read(const SoeHeader& request) const
{
    if (request.driveNo != 0)
        return {failure(Op::ReadResponse, request, error::InvalidDrive)};
    const Idn* idn = find(request.idn);
    if (!idn)
        return {failure(Op::ReadResponse, request, error::NoIdn)};
    Bytes data;
    if (request.elements == element::Value)
        data = idn->value;
    else if (request.elements == element::Attribute)
        data = u32(idn->attribute);
    else if (request.elements == element::Name)
        data.assign(idn->name.begin(), idn->name.end());
    else
        return {failure(Op::ReadResponse, request, error::InvalidElement)};
    const std::size_t room = mailboxRoom(sendMailboxSize_, HeaderSize);
    if (room == 0)
        return {};
    std::size_t count = data.empty() ? 1 : (data.size() + room - 1) / room;
    std::vector<Bytes> replies;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t begin = i * room;
        std::size_t end = std::min(data.size(), begin + room);
        SoeHeader h = request;
        h.op = Op::ReadResponse;
        h.error = false;
        h.incomplete = i + 1 < count;
        h.idn = h.incomplete ? std::uint16_t(count - 1 - i) : request.idn;
        replies.push_back(h.encode(Bytes(data.begin() + long(begin), data.begin() + long(end))));
    }
    return replies;
}

std::optional<Bytes> SoeServer::write(const SoeHeader& request, const Bytes& mailbox)
{
    std::size_t bytes = request.length - SoeHeaderSize;
    fragments_.push_back({request.incomplete, request.idn, bytes});
    if (!collecting_)
        collecting_ = Bytes();
    collecting_->insert(collecting_->end(), mailbox.begin() + HeaderSize,
        mailbox.begin() + long(HeaderSize + bytes));
    if (request.incomplete)
        return std::nullopt; // more fragments follow; only the last is answered
    Bytes data = std::move(*collecting_);
    collecting_.reset();
    std::uint16_t code
        = request.driveNo != 0 ? error::InvalidDrive : apply(request.idn, request.elements, data);
    if (code)
        return failure(Op::WriteResponse, request, code);
    SoeHeader h = request;
    h.op = Op::WriteResponse;
    h.error = false;
    return h.encode({});
}

std::uint16_t SoeServer::apply(std::uint16_t number, std::uint8_t elements, const Bytes& data)
{
    if (failWrites_)
        return failWrites_;
    auto it = idns_.find(number);
    if (it == idns_.end())
        return error::NoIdn;
    if (elements != element::Value)
        return error::InvalidElement;
    Idn& idn = it->second;
    if (!idn.writable)
        return error::ReadOnly;
    bool list = (idn.attribute >> 18) & 1u;
    if (!list) {
        std::size_t size = std::size_t(1) << ((idn.attribute >> 16) & 0x03);
        if (data.size() < size)
            return error::DataTooShort;
        if (data.size() > size)
            return error::DataTooLong;
    }
    idn.value = data;
    return 0;
}

} // namespace soe
} // namespace sim
