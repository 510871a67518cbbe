// The master's real raw packet socket on a veth pair whose other end a thread serves the virtual
// bus on. Needs root: in CI a missing right is a failure, elsewhere the tests are skipped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>

#include "core/rawserver.h"
#include "core/veth.h"
#include "eclink.h"
#include "ethercatbase.h"
#include "nicdrv.h"
#include "rawsocket.h"
#include "requires.h"
#include "simbus.h"

namespace {

/* A veth pair with the chain served on its peer end by a thread, for the life of the object. */
class ServedVeth
{
public:
    explicit ServedVeth(std::size_t slaves)
        : name_("zvr" + std::to_string(getpid() % 100000))
        , chain_(SimBus::plainChain(slaves))
    {
        sim::VethPair::removeStale(name_);
        pair_.reset(new sim::VethPair(name_));
        if (pair_->ok())
            server_.reset(new sim::RawServer(pair_->peer()));
        if (ok())
            thread_ = std::thread([this] { server_->serve(chain_, stop_); });
    }

    ~ServedVeth()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    bool ok() const { return pair_->ok() && server_->ok(); }
    std::string error() const { return pair_->ok() ? server_->error() : pair_->error(); }
    const std::string& master() const { return name_; }

private:
    std::string name_;
    sim::Chain chain_;
    std::unique_ptr<sim::VethPair> pair_;
    std::unique_ptr<sim::RawServer> server_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class RawSocket : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The product's link and clock, whatever an earlier test installed.
        ec_setlink(nullptr);
        ec_setclock(nullptr);
    }
    void TearDown() override { ec_close(); }
};

TEST_F(RawSocket, AnInterfaceThatDoesNotExistIsNotOpened)
{
    EXPECT_EQ(0, ec_init("zvnosuchif9"));
    EXPECT_EQ(-1, sockhandle);
    EXPECT_EQ(0, ec_init("an-interface-name-longer-than-the-kernel-allows"));
    EXPECT_EQ(-1, sockhandle);

    // The virtual bus's server likewise refuses to serve where there is nothing to serve on.
    sim::RawServer server("zsr-nosuchif");
    EXPECT_FALSE(server.ok());
    EXPECT_FALSE(server.error().empty());
}

TEST_F(RawSocket, CountsTheSlavesAndRoundTripsARegisterOverVeth)
{
    REQUIRE_ROOT();
    ServedVeth veth(3);
    ASSERT_TRUE(veth.ok()) << veth.error();
    ASSERT_EQ(1, ec_init(veth.master().c_str()));

    // The served end may take a moment to come up, and on a busy host its thread may wait its
    // turn: every exchange is allowed a second of retries, so only a lost bus fails the test.
    const int patient = 1000000;
    uint16 type = 0;
    EXPECT_EQ(3, ec_BRD(0, ECT_REG_TYPE, sizeof type, &type, patient));
    EXPECT_NE(0, type);

    for (int n = 1; n <= 3; n++)
        ASSERT_EQ(1, ec_APWRw(uint16(1 - n), ECT_REG_STADR, uint16(0x1000 + n), patient));
    EXPECT_EQ(1, ec_FPWRw(0x1002, 0x1000, 0xC0DE, patient));
    EXPECT_EQ(0xC0DE, ec_FPRDw(0x1002, 0x1000, patient));
    EXPECT_EQ(0, ec_FPRDw(0x1003, 0x1000, patient));
    EXPECT_EQ(0x1003, ec_APRDw(uint16(-2), ECT_REG_STADR, patient));

    ec_close();
    EXPECT_EQ(-1, sockhandle);
}

/* The sockets this process holds open. */
int openSockets()
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        n += !error && target.string().rfind("socket:", 0) == 0 ? 1 : 0;
    }
    return n;
}

/* Sends EtherCAT frames out of `ifname` as fast as it can, from a thread, for the life of the
 * object. */
class Flood
{
public:
    explicit Flood(const std::string& ifname)
    {
        fd_ = socket(PF_PACKET, SOCK_RAW, htons(ETH_P_ECAT));
        struct sockaddr_ll sll = {};
        sll.sll_family = AF_PACKET;
        sll.sll_protocol = htons(ETH_P_ECAT);
        sll.sll_ifindex = int(if_nametoindex(ifname.c_str()));
        if (fd_ < 0 || sll.sll_ifindex == 0
            || bind(fd_, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0)
            return;
        thread_ = std::thread([this] {
            std::uint8_t frame[60] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0, 0, 0, 0, 0x09,
                0x88, 0xA4, 0x0E, 0x10, EC_CMD_BRD, 0, 0, 0, 0, 0, 2, 0};
            while (!stop_)
                if (send(fd_, frame, sizeof frame, 0) > 0)
                    ++sent_;
        });
    }
    ~Flood()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return thread_.joinable(); }
    long sent() const { return sent_; }

private:
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

// A packet socket opened for the EtherCAT type takes such frames of every interface until it is
// bound. Whatever another interface carried while the port opened must never reach the master as
// if its bus had sent it. The flood is under way before the first open and goes on through the
// opens, however fast they come.
TEST_F(RawSocket, FramesOfAnotherInterfaceNeverReachAPortJustOpened)
{
    REQUIRE_ROOT();
    const std::string id = std::to_string(getpid() % 100000);
    sim::VethPair quiet("zvq" + id);
    sim::VethPair busy("zvb" + id);
    ASSERT_TRUE(quiet.ok()) << quiet.error();
    ASSERT_TRUE(busy.ok()) << busy.error();
    Flood flood(busy.peer());
    ASSERT_TRUE(flood.ok());
    // A safety net only: the flood sends from its first moment.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (flood.sent() == 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::yield();
    ASSERT_GT(flood.sent(), 0) << "the flood sends nothing";
    const long before = flood.sent();
    const int sockets = openSockets();
    int strays = 0;
    for (int open = 0; open < 100 || flood.sent() - before < 1000; open++) {
        ASSERT_LT(std::chrono::steady_clock::now(), giveUp) << "the flood stopped";
        ASSERT_EQ(1, ec_init(quiet.name().c_str()));
        std::uint8_t buf[EC_BUFSIZE];
        while (ec_link()->recv(nullptr, sockhandle, buf, sizeof buf) > 0)
            ++strays;
        ec_close();
    }
    EXPECT_EQ(0, strays);
    // Closing goes on beside the master, but never piles up.
    EXPECT_LE(openSockets(), sockets + RAWSOCKET_CLOSING_MAX);
}

TEST_F(RawSocket, OpeningWithoutTheRightsFails)
{
    REQUIRE_ROOT();
    sim::VethPair pair("zvn" + std::to_string(getpid() % 100000));
    ASSERT_TRUE(pair.ok()) << pair.error();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // An unprivileged user has no raw sockets.
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        _exit(ec_init(pair.name().c_str()) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

} // namespace
