/*
 * Raw packet socket server of the virtual bus.
 */
#include "core/rawserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

RawServer::RawServer(const std::string &ifname)
{
    ifindex_ = int(if_nametoindex(ifname.c_str()));
    if (ifindex_ == 0) {
        error_ = "no interface \"" + ifname + "\"";
        return;
    }
    fd_ = socket(AF_PACKET, SOCK_RAW, htons(EtherTypeEthercat));
    if (fd_ < 0) {
        error_ = std::string("cannot open a raw socket: ") + std::strerror(errno)
            + " (root needed)";
        return;
    }
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(EtherTypeEthercat);
    addr.sll_ifindex = ifindex_;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        error_ = std::string("cannot bind to \"") + ifname + "\": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
    }
}

RawServer::~RawServer()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawServer::serveOne(Chain &chain, int timeoutMs)
{
    if (fd_ < 0)
        return false;
    sendDue();
    if (!held_.empty())
        timeoutMs = std::min(timeoutMs, 1);
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    Bytes frame(MaxFrameSize + 4);
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(fd_, frame.data(), frame.size(), 0,
                               reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n <= 0)
        return false;
    // A packet socket also sees what it sends; those are our own replies.
    if (from.sll_pkttype == PACKET_OUTGOING)
        return false;
    frame.resize(std::size_t(n));
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start_);
    chain.clock().advanceTo(std::uint64_t(elapsed.count()));
    const FrameFate fate = rule_ ? rule_(frame, sent_) : FrameFate{};
    ++sent_;
    if (fate.loseRequest)
        return false;
    if (fate.echo)
        send(fd_, frame.data(), frame.size(), 0);
    auto reply = chain.process(frame, Port::Primary);
    if (fate.repeatRequest)
        chain.process(frame, Port::Primary);
    if (!reply || fate.loseReply)
        return false;
    if (fate.corruptAt >= 0 && std::size_t(fate.corruptAt) < reply->frame.size())
        reply->frame[std::size_t(fate.corruptAt)] ^= 0xFF;
    const auto due = std::chrono::steady_clock::now() + std::chrono::microseconds(fate.delayUs);
    // A reply held back less than one before it overtakes that one, as on a loaded host.
    const int others = fate.otherMaster ? 1 : 0;
    for (int i = 0; i < fate.copies + others; ++i) {
        auto at = held_.end();
        while (at != held_.begin() && std::prev(at)->due > due)
            --at;
        held_.insert(at, Held{i < fate.copies ? reply->frame : otherMastersReply(reply->frame), due});
    }
    sendDue();
    return true;
}

/* Sends the held replies whose time has come. */
void RawServer::sendDue()
{
    const auto now = std::chrono::steady_clock::now();
    while (!held_.empty() && held_.front().due <= now) {
        if (send(fd_, held_.front().frame.data(), held_.front().frame.size(), 0) >= 0)
            ++answered_;
        held_.pop_front();
    }
}

void RawServer::serve(Chain &chain, const std::atomic<bool> &stop)
{
    while (!stop.load())
        serveOne(chain, 100);
}

} // namespace sim
