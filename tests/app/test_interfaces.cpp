// Which host interfaces the window offers, decided on plain lists so no host is needed.
#include <gtest/gtest.h>

#include "gui.h"

namespace {

const QNetworkInterface::InterfaceFlags upRunning = QNetworkInterface::IsUp | QNetworkInterface::IsRunning;

}

TEST(InterfaceList, LoopbackIsDropped)
{
    const QList<HostInterface> host = {
        {"lo", upRunning | QNetworkInterface::IsLoopBack, 2},
        {"eth0", upRunning, 1},
    };
    EXPECT_EQ(GUI::selectableInterfaces(host), QStringList{"eth0"});
}

TEST(InterfaceList, TwoAddressEntriesListedOnce)
{
    const QList<HostInterface> host = {{"enp3s0", upRunning, 2}, {"eth1", upRunning, 3}};
    EXPECT_EQ(GUI::selectableInterfaces(host), (QStringList{"enp3s0", "eth1"}));
}

TEST(InterfaceList, RunningWithoutAddressOrUpWithoutRunningNotListed)
{
    const QList<HostInterface> host = {
        {"eth0", upRunning, 0},
        {"eth1", QNetworkInterface::IsUp, 1},
        {"eth2", QNetworkInterface::IsRunning, 1},
        {"eth3", QNetworkInterface::InterfaceFlags(), 1},
    };
    // Running alone decides; up is not asked.
    EXPECT_EQ(GUI::selectableInterfaces(host), QStringList{"eth2"});
}

TEST(InterfaceList, HostOrderKeptAndFirstOccurrenceWins)
{
    const QList<HostInterface> host = {
        {"veth1", upRunning, 1},
        {"eth0", upRunning, 1},
        {"veth1", upRunning, 1},
        {"lo", upRunning, 1},
        {"wlan0", upRunning, 1},
    };
    EXPECT_EQ(GUI::selectableInterfaces(host), (QStringList{"veth1", "eth0", "wlan0"}));
    EXPECT_TRUE(GUI::selectableInterfaces({}).isEmpty());
    EXPECT_TRUE(GUI::selectableInterfaces({{"lo", upRunning, 1}}).isEmpty());
}
