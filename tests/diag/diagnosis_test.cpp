// The diagnosis of the cabling on the virtual bus: for each place a cable can damage frames or
// drop its link (first, middle and last slave, every port in use, on a line and on a junction), it
// names that link and no other, in what a failed job left and in its own measured interval; a
// clean bus shows nothing; and only the enumeration and --clear write the error counters.
#include "BusDiagnosis.h"
#include "CheckJob.h"
#include "zuvianctlrun.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "controller/controllerlayouts.h"
#include "core/layouts.h"
#include "core/registers.h"
#include "simbus.h"

namespace {

using ErrorCounters::Link;

// A drop of this long comes back well within the diagnosis' wait for missing slaves.
const std::uint64_t kFlapDownUs = 300000;
const std::uint64_t kFlapUpUs = 3000000;

// Four plain slaves on one junction: slave 1 has slave 2 on port 3, slave 3 on port 1 and slave 4
// on port 2 (the order a frame takes), so every port of a slave is in use.
sim::Chain junction()
{
    sim::Chain chain;
    chain.add(sim::makePlainSlave(1));
    chain.attach(sim::makePlainSlave(2), 1, 3);
    chain.attach(sim::makePlainSlave(3), 1, 1);
    chain.attach(sim::makePlainSlave(4), 1, 2);
    return chain;
}

std::unique_ptr<SimBus> busOf(bool robot)
{
    if (robot)
        return std::make_unique<SimBus>(sim::robotBus());
    return std::make_unique<SimBus>(junction());
}

DiagnosisOutcome diagnose(int seconds, bool clear = false)
{
    BusDiagnosis job(QString::fromLatin1(SimBus::Primary), seconds, clear);
    return job.run();
}

std::string linksText(const QList<Link>& links)
{
    std::string text;
    for (const Link& l : links)
        text += "[" + std::to_string(l.from) + ":" + std::to_string(l.fromPort) + " -> "
            + std::to_string(l.to) + ":" + std::to_string(l.toPort) + " errors "
            + std::to_string(l.errors()) + " lost " + std::to_string(l.lostLinks) + "] ";
    return text;
}

// `links` names exactly the cable from `from`:`fromPort` to `to`, with errors (crc) or lost links.
void expectOnly(const QList<Link>& links, int from, int fromPort, int to, bool errors)
{
    ASSERT_EQ(1, links.size()) << linksText(links);
    const Link& link = links.first();
    EXPECT_EQ(from, link.from) << linksText(links);
    EXPECT_EQ(fromPort, link.fromPort) << linksText(links);
    EXPECT_EQ(to, link.to) << linksText(links);
    EXPECT_EQ(0, link.toPort);
    if (errors) {
        EXPECT_GT(link.errors(), 0);
        EXPECT_EQ(0, link.lostLinks);
    } else {
        EXPECT_EQ(0, link.errors());
        EXPECT_GT(link.lostLinks, 0);
    }
}

struct Placement
{
    bool robot;
    int position;
    int port;
    // The link this port belongs to.
    int from, fromPort, to;
};

// Robot: 11 slaves in a line (ports 0 and 1; the last has only port 0). Junction: above.
const Placement placements[] = {
    {true, 1, 0, 0, 0, 1},
    {true, 1, 1, 1, 1, 2},
    {true, 6, 0, 5, 1, 6},
    {true, 6, 1, 6, 1, 7},
    {true, 11, 0, 10, 1, 11},
    {false, 1, 3, 1, 3, 2},
    {false, 1, 1, 1, 1, 3},
    {false, 1, 2, 1, 2, 4},
    {false, 4, 0, 1, 2, 4},
};

std::string where(const Placement& p)
{
    return std::string(p.robot ? "robot" : "junction") + " slave " + std::to_string(p.position)
        + " port " + std::to_string(p.port);
}

}

// A cable that damages every frame while a job runs makes it fail; then it damages one in twenty.
// What the job left and the interval's increase both point at that cable alone.
TEST(Diagnosis, DamagedFramesNameTheirCableAfterAFailedJobAndInTheInterval)
{
    for (const Placement& p : placements) {
        SCOPED_TRACE(where(p));
        auto bus = busOf(p.robot);
        bus->chain().setCrcErrors(size_t(p.position), p.port, 1000, 7);
        {
            CheckJob check(QString::fromLatin1(SimBus::Primary));
            EXPECT_FALSE(check.run().readOut.ok);
        }
        bus->chain().setCrcErrors(size_t(p.position), p.port, 50, 7);
        const DiagnosisOutcome o = diagnose(2);
        ASSERT_TRUE(o.ok) << o.failure.toStdString();
        expectOnly(o.beforeLinks, p.from, p.fromPort, p.to, true);
        expectOnly(o.links, p.from, p.fromPort, p.to, true);
        EXPECT_GT(o.roundTrips.unanswered, 0);
        // Counted where the damage is, on the side the port faces.
        const Link& link = o.links.first();
        EXPECT_EQ(link.errors(), p.port == 0 ? link.errorsAtTo : link.errorsAtFrom);
        EXPECT_TRUE(o.troubled());
    }
}

// A link that drops while a job runs (for long enough to fail it), then again every few seconds:
// the lost links since power-on and those of the interval are counted on that cable alone.
TEST(Diagnosis, LostLinksNameTheirCableAfterAFailedJobAndInTheInterval)
{
    for (const Placement& p : placements) {
        SCOPED_TRACE(where(p));
        auto bus = busOf(p.robot);
        bus->chain().setLinkFlap(size_t(p.position), p.port, 60000000, 1000);
        {
            CheckJob check(QString::fromLatin1(SimBus::Primary));
            EXPECT_FALSE(check.run().readOut.ok);
        }
        bus->chain().setLinkFlap(size_t(p.position), p.port, kFlapDownUs, kFlapUpUs);
        const DiagnosisOutcome o = diagnose(4);
        ASSERT_TRUE(o.ok) << o.failure.toStdString();
        expectOnly(o.beforeLinks, p.from, p.fromPort, p.to, false);
        expectOnly(o.links, p.from, p.fromPort, p.to, false);
        EXPECT_EQ(1, o.links.first().lostLinks);
        EXPECT_GT(o.roundTrips.incomplete + o.roundTrips.unanswered, 0);
    }
}

// Nothing wrong: no link, no lost reply, every slave read, and the cabling as built.
TEST(Diagnosis, ACleanBusReportsNoLink)
{
    for (const bool robot : {true, false}) {
        auto bus = busOf(robot);
        {
            CheckJob check(QString::fromLatin1(SimBus::Primary));
            check.run();
        }
        const DiagnosisOutcome o = diagnose(1);
        ASSERT_TRUE(o.ok) << o.failure.toStdString();
        EXPECT_TRUE(o.links.isEmpty()) << linksText(o.links);
        EXPECT_TRUE(o.beforeLinks.isEmpty()) << linksText(o.beforeLinks);
        EXPECT_EQ(0, o.roundTrips.unanswered);
        EXPECT_EQ(0, o.roundTrips.incomplete);
        EXPECT_GT(o.roundTrips.sent, 1000);
        EXPECT_FALSE(o.troubled());
        const int slaves = robot ? 11 : 4;
        ASSERT_EQ(slaves, o.hops.size());
        for (const auto* snapshot : {&o.before, &o.start, &o.end}) {
            ASSERT_EQ(slaves, snapshot->size());
            for (const auto& reading : *snapshot)
                EXPECT_TRUE(reading.read);
        }
        for (int s = 2; s <= slaves; ++s) {
            const int parent = robot ? s - 1 : 1;
            const int port = robot ? 1 : (s == 2 ? 3 : s == 3 ? 1 : 2);
            EXPECT_EQ(parent, o.hops.at(s - 1).parent) << "slave " << s;
            EXPECT_EQ(port, o.hops.at(s - 1).parentPort) << "slave " << s;
        }
        EXPECT_NE(std::string::npos, o.report.toStdString().find("none"));
    }
}

namespace {

// The datagrams of a frame that write into the error counters, as "BWR 0x0300+8".
std::vector<std::string> counterWrites(const sim::Bytes& frame)
{
    std::vector<std::string> writes;
    size_t at = 16; // Ethernet header, EtherCAT frame header
    while (at + 12 <= frame.size()) {
        const auto command = sim::Command(frame[at]);
        const unsigned ado = frame[at + 4] | unsigned(frame[at + 5]) << 8;
        const unsigned word = frame[at + 6] | unsigned(frame[at + 7]) << 8;
        const unsigned length = word & 0x07FF;
        const bool write = command == sim::Command::Apwr || command == sim::Command::Fpwr
            || command == sim::Command::Bwr || command == sim::Command::Aprw
            || command == sim::Command::Fprw || command == sim::Command::Brw
            || command == sim::Command::Armw || command == sim::Command::Frmw;
        if (write && ado < sim::reg::ErrorCountersEnd && ado + length > sim::reg::RxErrorCounters)
            writes.push_back((command == sim::Command::Bwr ? "BWR " : "one slave ")
                + std::to_string(ado) + "+" + std::to_string(length));
        if (!(word & 0x8000))
            break;
        at += 10 + length + 2;
    }
    return writes;
}

}

// Counts planted in every slave: the enumeration clears the receive error counters (and what it
// leaves is reported as what the last job left), nothing else is written unless --clear, which
// clears the rest once per slave.
TEST(Diagnosis, OnlyTheEnumerationAndClearWriteTheCounters)
{
    for (const bool clear : {false, true}) {
        SCOPED_TRACE(clear ? "--clear" : "without --clear");
        SimBus bus(sim::robotBus());
        for (size_t s = 1; s <= 11; ++s) {
            sim::Bytes& memory = bus.slave(s).esc().memory();
            for (std::uint16_t a = sim::reg::RxErrorCounters; a < sim::reg::ErrorCountersEnd; ++a)
                memory[a] = std::uint8_t(s + a - sim::reg::RxErrorCounters);
        }
        std::vector<std::string> writes;
        bus.link().setRule([&writes](const sim::Bytes& frame, std::uint64_t) {
            for (const std::string& w : counterWrites(frame))
                writes.push_back(w);
            return sim::FrameFate{};
        });
        const DiagnosisOutcome o = diagnose(1, clear);
        ASSERT_TRUE(o.ok);
        EXPECT_EQ(clear, o.cleared);

        std::vector<std::string> expected{"BWR 768+8"};
        for (int s = 1; clear && s <= 11; ++s)
            expected.push_back("one slave 768+20");
        EXPECT_EQ(expected, writes);

        for (size_t s = 1; s <= 11; ++s) {
            SCOPED_TRACE("slave " + std::to_string(s));
            const sim::Bytes& memory = bus.slave(s).esc().memory();
            for (std::uint16_t a = sim::reg::RxErrorCounters; a < sim::reg::ErrorCountersEnd; ++a) {
                const bool leftByEnumeration = a >= sim::reg::ForwardedRxErrors;
                const int planted = int(s) + a - sim::reg::RxErrorCounters;
                EXPECT_EQ(leftByEnumeration && !clear ? planted : 0, memory[a])
                    << "0x" << std::hex << a;
            }
            const ErrorCounters::Counts& before = o.before.at(int(s) - 1).counts;
            EXPECT_EQ(int(s), before.invalidFrames[0]);
            EXPECT_EQ(int(s) + 7, before.rxErrors[3]);
            EXPECT_EQ(int(s) + 0x0B, before.forwardedErrors[3]);
            EXPECT_EQ(int(s) + 0x0C, before.processingUnitErrors);
            EXPECT_EQ(int(s) + 0x10, before.lostLinks[0]);
        }
        // Counts on ports that lead nowhere (port 2 and 3 of a line) are still reported.
        EXPECT_NE(std::string::npos, o.report.toStdString().find("nothing answers behind it"));
        EXPECT_NE(std::string::npos, o.report.toStdString().find("processing unit rejected"));
    }
}

// zuvianctl diag and graph on the virtual bus: the document's shape, the DOT's marked link and
// the exit statuses.
TEST(Diagnosis, ZuvianctlDocumentsAndExitStatuses)
{
    const auto run = [](std::vector<std::string> args, nlohmann::json& doc) {
        const ZuvianctlRun ran = runZuvianctl(std::move(args));
        doc = ran.doc();
        return ran.status;
    };
    {
        SimBus bus(sim::robotBus());
        nlohmann::json doc;
        EXPECT_EQ(0, run({"diag", "-i", SimBus::Primary, "--seconds", "1", "--json"}, doc));
        EXPECT_EQ(nlohmann::json::array(), doc["links"]);
        EXPECT_EQ(nlohmann::json::array(), doc["before"]);
        EXPECT_EQ(11u, doc["slaves"].size());
        EXPECT_EQ(0, doc["host"]["roundTrips"]["unanswered"]);
    }
    SimBus bus(sim::robotBus());
    bus.chain().setCrcErrors(7, 0, 50);
    nlohmann::json doc;
    EXPECT_EQ(1, run({"diag", "-i", SimBus::Primary, "--seconds", "1", "--json"}, doc));
    ASSERT_EQ(1u, doc["links"].size()) << doc.dump(2);
    const nlohmann::json& link = doc["links"][0];
    EXPECT_EQ(6, link["from"]);
    EXPECT_EQ(7, link["to"]);
    EXPECT_EQ(1, link["fromPort"]);
    EXPECT_EQ(0, link["toPort"]);
    EXPECT_GT(link["errors"].get<int>(), 0);
    EXPECT_EQ(0, link["lostLinks"]);
    const nlohmann::json& slave7 = doc["slaves"][6];
    EXPECT_EQ("TMCM-ZQ-841", slave7["name"]);
    EXPECT_EQ(0x1007, slave7["address"]);
    EXPECT_EQ(link["errors"], slave7["interval"]["invalidFrames"][0]);
    EXPECT_GT(doc["slaves"][7]["interval"]["forwardedErrors"][0].get<int>(), 0);

    EXPECT_EQ(1, run({"graph", "-i", SimBus::Primary, "--seconds", "1", "--json"}, doc));
    const std::string dot = doc.value("dot", std::string());
    EXPECT_NE(std::string::npos, dot.find("s6 -> s7 [taillabel=\"1\", headlabel=\"0\", color=red"))
        << dot;
    EXPECT_NE(std::string::npos, dot.find("s7 [label=\"7: TMCM-ZQ-841\\n0x1007\"]")) << dot;
    EXPECT_EQ(std::string::npos, dot.find("s7 -> s8 [taillabel=\"1\", headlabel=\"0\", color"))
        << dot;

    EXPECT_EQ(1, run({"diag", "-i", "nosuch0", "--seconds", "1", "--json"}, doc));
    EXPECT_NE(std::string::npos, doc.value("error", std::string()).find("nosuch0")) << doc.dump();
    EXPECT_EQ(2, run({"diag", "-i", SimBus::Primary, "--seconds", "0"}, doc));
}
