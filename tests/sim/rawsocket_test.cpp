/*
 * The virtual bus served on a veth pair through a raw packet socket, as zuvian-sim serves it,
 * with a small raw-socket sender on the other end. Needs root.
 */
#include "simtest.h"

#include "core/layouts.h"
#include "core/rawserver.h"
#include "core/veth.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace simtest;
using sim::Command;

namespace {

/* Raw socket on one interface for EtherType 0x88A4 that sends frames and receives what others
 * sent. */
class Sender
{
public:
    explicit Sender(const std::string &ifname)
    {
        fd_ = socket(AF_PACKET, SOCK_RAW, htons(sim::EtherTypeEthercat));
        sockaddr_ll addr{};
        addr.sll_family = AF_PACKET;
        addr.sll_protocol = htons(sim::EtherTypeEthercat);
        addr.sll_ifindex = int(if_nametoindex(ifname.c_str()));
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Sender()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    bool send(const sim::Bytes &frame) { return ::send(fd_, frame.data(), frame.size(), 0) == ssize_t(frame.size()); }
    /* The next frame from the other end within 2 s of waiting (the bound is for a broken server
     * only; a reply normally comes at once). */
    std::optional<sim::Bytes> receive()
    {
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0)
                return std::nullopt;
            sim::Bytes frame(1600);
            sockaddr_ll from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&from), &length);
            if (n <= 0)
                return std::nullopt;
            if (from.sll_pkttype == PACKET_OUTGOING)
                continue;
            frame.resize(std::size_t(n));
            return frame;
        }
    }

private:
    int fd_ = -1;
};

class RawSocket : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0) {
            if (std::getenv("CI")) {
                FAIL() << "raw-socket tests need root";
            }
            GTEST_SKIP() << "raw-socket tests need root";
        }
        name_ = "zsr" + std::to_string(getpid() % 1000000);
        sim::VethPair::removeStale(name_);
        veth_ = std::make_unique<sim::VethPair>(name_);
        ASSERT_TRUE(veth_->ok()) << veth_->error();
    }
    void TearDown() override
    {
        stopServer();
        veth_.reset();
        if (!name_.empty()) {
            EXPECT_NE(sim::runCommand({"ip", "link", "show", name_}), 0) << "veth pair left behind";
        }
    }
    void startServer(sim::Chain chain)
    {
        chain_ = std::move(chain);
        server_ = std::make_unique<sim::RawServer>(veth_->peer());
        ASSERT_TRUE(server_->ok()) << server_->error();
        thread_ = std::thread([this] { server_->serve(chain_, stop_); });
    }
    void stopServer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    std::string name_;
    std::unique_ptr<sim::VethPair> veth_;
    sim::Chain chain_;
    std::unique_ptr<sim::RawServer> server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

TEST_F(RawSocket, ServerAnswersEachFrameOnceAndNeverItsOwn)
{
    startServer(*sim::layouts().build("generic:3"));
    Sender master(name_);
    ASSERT_TRUE(master.ok());

    sim::FrameBuilder count;
    count.add(Command::Brd, 0, 0x0000, 2);
    ASSERT_TRUE(master.send(count.frame()));
    auto reply = master.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(sim::datagramResult(*reply, 0)->workingCounter, 3);

    sim::FrameBuilder roundTrip;
    roundTrip.add(Command::Apwr, 0xFFFF, 0x0010, le16(0x1234));
    roundTrip.add(Command::Aprd, 0xFFFF, 0x0010, 2);
    ASSERT_TRUE(master.send(roundTrip.frame()));
    reply = master.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(sim::datagramResult(*reply, 0)->workingCounter, 1);
    EXPECT_EQ(word(sim::datagramResult(*reply, 1)->data), 0x1234);

    stopServer();
    EXPECT_EQ(server_->answered(), 2u);
}

TEST(RawServer, RefusesAMissingInterface)
{
    sim::RawServer server("zsr-nosuchif");
    EXPECT_FALSE(server.ok());
    EXPECT_FALSE(server.error().empty());
}

} // namespace
