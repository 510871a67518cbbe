/*
 * Raw packet socket server of the virtual bus.
 */
#include "core/rawserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
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
        error_ = std::string("cannot open a raw socket: ") + std::strerror(errno) + " (root needed)";
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
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    Bytes frame(MaxFrameSize + 4);
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n <= 0)
        return false;
    // A packet socket also sees what it sends; those are our own replies.
    if (from.sll_pkttype == PACKET_OUTGOING)
        return false;
    frame.resize(std::size_t(n));
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_);
    chain.clock().advanceTo(std::uint64_t(elapsed.count()));
    auto reply = chain.process(std::move(frame), Port::Primary);
    if (!reply)
        return false;
    if (send(fd_, reply->frame.data(), reply->frame.size(), 0) < 0)
        return false;
    ++answered_;
    return true;
}

void RawServer::serve(Chain &chain, const std::atomic<bool> &stop)
{
    while (!stop.load())
        serveOne(chain, 100);
}

} // namespace sim
