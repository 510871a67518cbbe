// The cause line beside "Slaves not found!" and "Run programm as root": decided on plain facts, so
// every combination is checked without changing the host; and the probe of this host agrees with
// what the host says.
#include <gtest/gtest.h>

#include <QNetworkInterface>

#include "LinkDiagnosis.h"

using LinkDiagnosis::HostFacts;

TEST(LinkDiagnosis, NamesTheCauseThatApplies)
{
    HostFacts good;
    good.interfaceExists = true;
    good.hasLink = true;
    good.rawSocketAllowed = true;
    good.wiredInterfaces = QStringList{"eth0", "eth1"};
    good.program = "/opt/zuvian/zuvian-firmwareupdate";
    HostFacts missing = good;
    missing.interfaceExists = false;
    HostFacts noWired = missing;
    noWired.wiredInterfaces.clear();
    HostFacts noRight = good;
    noRight.rawSocketAllowed = false;
    HostFacts noLink = good;
    noLink.hasLink = false;
    HostFacts nothingKnown = noRight;
    nothingKnown.interfaceExists = false;

    struct Case
    {
        const char* name;
        QString eth;
        bool portOpened;
        HostFacts facts;
        QString line;
    };
    const Case cases[] = {
        {"none chosen", "", false, missing,
            "No network interface is chosen; wired interfaces: eth0, eth1."},
        {"unknown name", "eth7", false, missing,
            "There is no network interface eth7; wired interfaces: eth0, eth1."},
        {"no wired interface", "eth7", false, noWired,
            "There is no network interface eth7; this computer has no wired interface."},
        // A name that does not exist is named first: granting rights would not help.
        {"unknown name, no rights", "eth7", false, nothingKnown,
            "There is no network interface eth7; wired interfaces: eth0, eth1."},
        {"no rights", "eth1", false, noRight,
            "The program may not open a raw socket: start it as root, or grant it the right once "
            "with: setcap cap_net_raw+ep /opt/zuvian/zuvian-firmwareupdate"},
        {"no link, port refused", "eth1", false, noLink,
            "The interface eth1 has no link: check the cable and that the robot is switched on."},
        {"no link, port open", "eth1", true, noLink,
            "The interface eth1 has no link: check the cable and that the robot is switched on."},
        {"nobody answers", "eth1", true, good,
            "No slave answered on eth1: check the cable and that the robot is switched on."},
        // A link the host does not know (a test's virtual bus) cannot be called unlinked.
        {"not the host's", "sim0", true, missing,
            "No slave answered on sim0: check the cable and that the robot is switched on."},
        {"opens nowhere else", "eth1", false, good, "The interface eth1 could not be opened."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.line, LinkDiagnosis::cause(c.eth, c.portOpened, c.facts));
    }
}

TEST(LinkDiagnosis, ProbeAgreesWithTheHost)
{
    const HostFacts none = LinkDiagnosis::probe("no-such-if0");
    EXPECT_FALSE(none.interfaceExists);
    EXPECT_FALSE(none.wiredInterfaces.contains("lo"));
    const QNetworkInterface lo = QNetworkInterface::interfaceFromName("lo");
    if (lo.isValid()) {
        const HostFacts loopback = LinkDiagnosis::probe("lo");
        EXPECT_TRUE(loopback.interfaceExists);
        EXPECT_EQ(lo.flags().testFlag(QNetworkInterface::IsRunning), loopback.hasLink);
    }
}
