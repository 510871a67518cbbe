// What the diagnosis concludes from facts it is handed: which settings of the PC's interface hold
// replies back (and what is unknown stays unknown), and counters that were cleared in between or
// damage only the PC's interface saw.
#include "BusDiagnosis.h"
#include "ErrorCounters.h"
#include "NetworkCard.h"

#include <gtest/gtest.h>

TEST(Judging, TheSettingsOfThePcsInterfaceThatHoldRepliesBack)
{
    NetworkCard::Facts veth;
    veth.driver = "veth";
    veth.bus = "virtual";
    EXPECT_TRUE(NetworkCard::advice("zd0", veth).isEmpty());
    EXPECT_EQ("The PC's interface zd0: driver veth, bus virtual; interrupt coalescing unknown; "
              "receive offloads GRO unknown, LRO unknown.",
        NetworkCard::summary("zd0", veth).toStdString());

    const struct
    {
        int usecs, frames;
        bool adaptive;
        const char* bus;
        int lines;
        bool command;
    } cases[] = {
        {0, 0, false, "PCI", 0, false}, // interrupts at once
        {50, 1, false, "PCI", 0, false}, // every frame interrupts before the time is up
        {50, 0, false, "PCI", 1, true},
        {0, 0, true, "PCI", 1, true},
        {0, 1, false, "USB", 1, false}, // the adapter batches, no setting changes that
        {8, 4, false, "USB", 2, true},
    };
    for (const auto& c : cases) {
        NetworkCard::Facts card;
        card.bus = c.bus;
        card.coalescingKnown = true;
        card.rxUsecs = c.usecs;
        card.rxFrames = c.frames;
        card.adaptiveRx = c.adaptive;
        const QStringList advice = NetworkCard::advice("eth1", card);
        SCOPED_TRACE(advice.join('\n').toStdString());
        EXPECT_EQ(c.lines, advice.size());
        EXPECT_EQ(
            c.command, advice.join('\n').contains("ethtool -C eth1 adaptive-rx off rx-usecs 0"));
    }
}

TEST(Judging, ClearedCountersAndDamageOnlyThePcSaw)
{
    ErrorCounters::SlaveReading a, b;
    a.read = b.read = true;
    a.counts.invalidFrames[0] = 40;
    b.counts.invalidFrames[0] = 3; // cleared in between, then 3 more
    a.counts.lostLinks[1] = 2;
    b.counts.lostLinks[1] = 5;
    const ErrorCounters::Snapshot increase = ErrorCounters::increase({a, a}, {b, b});
    EXPECT_EQ(3, increase.at(0).counts.invalidFrames[0]);
    EXPECT_EQ(3, increase.at(1).counts.lostLinks[1]);

    // A line of two slaves: only the PC's interface counted damage, on the first cable's way back.
    ErrorCounters::Snapshot clean(2);
    clean[0].read = clean[1].read = true;
    const QList<ErrorCounters::Hop> line{{0, 0}, {1, 1}};
    const QList<ErrorCounters::Link> links = ErrorCounters::troubledLinks(clean, line, 4);
    ASSERT_EQ(1, links.size());
    EXPECT_EQ(0, links[0].from);
    EXPECT_EQ(1, links[0].to);
    EXPECT_EQ(4, links[0].errorsAtFrom);
    EXPECT_EQ("errors counted 4 by the PC's network interface: the cable between the PC and "
              "slave 1, or its connectors",
        ErrorCounters::meaning(links[0]).toStdString());
    EXPECT_TRUE(ErrorCounters::troubledLinks(clean, line, 0).isEmpty());

    const RoundTrips trips = RoundTrips::of({30, 10, 20, 1000, 40}, 2, 1);
    EXPECT_EQ(7, trips.sent);
    EXPECT_EQ(30, trips.medianUs);
    EXPECT_EQ(1000, trips.p99Us);
    EXPECT_EQ(1000, trips.worstUs);
}
