// zuvianctl diag and graph against zuvian-sim on a veth pair, as a technician runs them: a cable
// into slave 7 that damages one frame in twenty is named, and the cabling is drawn as DOT that
// Graphviz renders. Needs root (veth pair, raw sockets), the programs built next to this test,
// and Graphviz's dot.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>

#include "programs.h"
#include "requires.h"

namespace {

// A veth name of this run's own (at most 10 characters).
std::string vethName(char which)
{
    return "zdg" + std::to_string(getpid() % 100000) + which;
}

class DiagPrograms : public ::testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_ROOT();
        for (const char* program : {"zuvianctl", "zuvian-sim"})
            REQUIRE_THAT(
                access(besideThisTest(program).c_str(), X_OK) == 0, program << " is not built");
    }
};

}

TEST_F(DiagPrograms, DiagNamesTheLinkIntoSlave7AndGraphDrawsIt)
{
    VirtualRobot robot(vethName('a'), {"--fault", "crc:7:0:50"});
    ASSERT_TRUE(robot.serving()) << robot.output();
    const std::string eth = robot.name();
    const std::string zuvianctl = besideThisTest("zuvianctl");

    Program diag({zuvianctl, "diag", "-i", eth, "--seconds", "2", "--json"});
    EXPECT_EQ(1, diag.finish()) << diag.err();
    const nlohmann::json doc = nlohmann::json::parse(diag.out(), nullptr, false);
    ASSERT_TRUE(doc.is_object()) << diag.out();
    ASSERT_EQ(1u, doc["links"].size()) << doc.dump(2);
    const nlohmann::json& link = doc["links"][0];
    EXPECT_EQ(6, link["from"]);
    EXPECT_EQ(1, link["fromPort"]);
    EXPECT_EQ(7, link["to"]);
    EXPECT_EQ(0, link["toPort"]);
    EXPECT_GT(link["errors"].get<int>(), 0);
    // A veth pair has no bus and no coalescing settings: said so, not guessed.
    EXPECT_EQ("virtual", doc["host"]["bus"]);
    EXPECT_EQ("veth", doc["host"]["driver"]);
    EXPECT_TRUE(doc["host"]["coalescing"].is_null());
    EXPECT_GT(doc["host"]["roundTrips"]["sent"].get<int>(), 100);
    EXPECT_NE(std::string::npos, diag.err().find("a link shows errors")) << diag.err();

    Program graph({zuvianctl, "graph", "-i", eth, "--seconds", "1"});
    EXPECT_EQ(1, graph.finish()) << graph.err();
    const std::string marked = "s6 -> s7 [taillabel=\"1\", headlabel=\"0\", color=red";
    EXPECT_NE(std::string::npos, graph.out().find(marked)) << graph.out();

    REQUIRE_THAT(access("/usr/bin/dot", X_OK) == 0, "Graphviz's dot is not installed");
    char path[] = "/tmp/zuvian-graph-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << graph.out();
    Program dot({"/usr/bin/dot", "-Tsvg", path});
    EXPECT_EQ(0, dot.finish()) << dot.err();
    std::remove(path);
    EXPECT_NE(std::string::npos, dot.out().find("<svg")) << dot.err();
    EXPECT_NE(std::string::npos, dot.out().find("TMCM&#45;ZQ&#45;841"))
        << dot.out().substr(0, 2000);
}
