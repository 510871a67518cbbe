// Which host interfaces the window offers, decided on plain lists so no host is needed.
#include <gtest/gtest.h>

#include "gui.h"

namespace {

const QNetworkInterface::InterfaceFlags upRunning = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;

}

TEST(InterfaceList, OfferedByTheListRules)
{
    const struct {
        const char* rule;
        QList<HostInterface> host;
        QStringList offered;
    } cases[] = {
        {"loopback is dropped",
         {{"lo", upRunning | QNetworkInterface::IsLoopBack, 2}, {"eth0", upRunning, 1}},
         {"eth0"}},
        {"an interface with two address entries is offered once", {{"enp3s0", upRunning, 2}}, {"enp3s0"}},
        {"running alone decides, an address is needed",
         {{"eth0", upRunning, 0},
          {"eth1", QNetworkInterface::IsUp, 1},
          {"eth2", QNetworkInterface::IsRunning, 1},
          {"eth3", QNetworkInterface::InterfaceFlags(), 1}},
         {"eth2"}},
        {"host order kept, first occurrence wins",
         {{"veth1", upRunning, 1}, {"eth0", upRunning, 1}, {"veth1", upRunning, 1}, {"lo", upRunning, 1},
          {"wlan0", upRunning, 1}},
         {"veth1", "eth0", "wlan0"}},
        {"nothing to offer", {}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GUI::selectableInterfaces(c.host), c.offered) << c.rule;
}
