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

RawServer::RawServer(const std::string& ifname)
{
    ifindex_ = int(if_nametoindex(ifname.c_str()));
    if (ifindex_ == 0) {
        error_ = "no interface \"" + ifname + "\"";
        return;
    }
    // For no protocol until bound: binding a socket that takes frames of every interface first
    // waits out a grace period of the kernel's.
    fd_ = socket(AF_PACKET, SOCK_RAW, 0);
    if (fd_ < 0) {
        error_
            = std::string("cannot open a raw socket: ") + std::strerror(errno) + " (root needed)";
        return;
    }
    sockaddr_ll addr{};
    addr.sll_family = AF_PACKET;
    addr.sll_protocol = htons(EtherTypeEthercat);
    addr.sll_ifindex = ifindex_;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
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

namespace {
std::uint64_t nanosecondsSince(std::chrono::steady_clock::time_point t)
{
    return std::uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t)
            .count());
}
} // namespace

/* One frame from the master into `frame` (sized to it): false when none came within `timeoutMs`.
 * Sleeps in poll() unless spinning. */
bool RawServer::receive(Bytes& frame, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    frame.resize(MaxFrameSize + 4);
    for (;;) {
        if (!spin_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0)
                return false;
        }
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd_, frame.data(), frame.size(), spin_ ? MSG_DONTWAIT : 0,
            reinterpret_cast<sockaddr*>(&from), &fromLength);
        // A packet socket also sees what it sends; those are our own replies.
        if (n > 0 && from.sll_pkttype != PACKET_OUTGOING) {
            frame.resize(std::size_t(n));
            return true;
        }
        if (!spin_ || std::chrono::steady_clock::now() >= until)
            return false;
    }
}

bool RawServer::serveOne(Chain& chain, int timeoutMs)
{
    if (fd_ < 0)
        return false;
    sendDue();
    if (!held_.empty())
        timeoutMs = std::min(timeoutMs, 1);
    // One buffer serves every frame: it goes through the chain and comes back as the reply.
    Bytes frame = std::move(frame_);
    if (!receive(frame, timeoutMs)) {
        frame_ = std::move(frame);
        return false;
    }
    const auto received = std::chrono::steady_clock::now();
    chain.clock().advanceTo(std::uint64_t(
        std::chrono::duration_cast<std::chrono::microseconds>(received - start_).count()));
    const FrameFate fate = rule_ ? rule_(frame, sent_) : FrameFate{};
    ++sent_;
    if (fate.loseRequest) {
        frame_ = std::move(frame);
        return false;
    }
    if (fate.echo)
        send(fd_, frame.data(), frame.size(), 0);
    const Bytes request = fate.repeatRequest ? frame : Bytes();
    auto reply = chain.process(std::move(frame), Port::Primary);
    if (fate.repeatRequest)
        chain.process(request, Port::Primary);
    if (!reply || fate.loseReply) {
        processing_.add(nanosecondsSince(received));
        return false;
    }
    if (fate.corruptAt >= 0 && std::size_t(fate.corruptAt) < reply->frame.size())
        reply->frame[std::size_t(fate.corruptAt)] ^= 0xFF;
    const int others = fate.otherMaster ? 1 : 0;
    if (fate.delayUs == 0 && fate.copies == 1 && others == 0 && held_.empty()) {
        // The usual case: the reply goes at once.
        processing_.add(nanosecondsSince(received));
        const auto sending = std::chrono::steady_clock::now();
        if (send(fd_, reply->frame.data(), reply->frame.size(), 0) >= 0)
            ++answered_;
        sending_.add(nanosecondsSince(sending));
        frame_ = std::move(reply->frame);
        return true;
    }
    const auto due = std::chrono::steady_clock::now() + std::chrono::microseconds(fate.delayUs);
    // A reply held back less than one before it overtakes that one, as on a loaded host.
    for (int i = 0; i < fate.copies + others; ++i) {
        auto at = held_.end();
        while (at != held_.begin() && std::prev(at)->due > due)
            --at;
        held_.insert(
            at, Held{i < fate.copies ? reply->frame : otherMastersReply(reply->frame), due});
    }
    processing_.add(nanosecondsSince(received));
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

void RawServer::serve(Chain& chain, const std::atomic<bool>& stop)
{
    while (!stop.load())
        serveOne(chain, 100);
}

} // namespace sim
