// Frames no master of ours sends: malformed ones are destroyed, garbled ones never make the chain
// touch a byte outside the frame, other EtherTypes pass untouched.
#include "core/chain.h"
#include "core/frame.h"

#include "core/layouts.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using sim::Command;

namespace {

TEST(Frame, MalformedFramesAreDestroyedPaddingAndOtherTypesPass)
{
    sim::Chain chain = *sim::layouts().build("generic:2");
    sim::FrameBuilder f;
    f.add(Command::Brd, 0, 0, 2);
    const sim::Bytes good = f.frame();

    struct Case
    {
        const char* what;
        std::function<void(sim::Bytes&)> spoil;
    };
    const Case destroyed[] = {
        {"truncated", [](sim::Bytes& b) { b.resize(b.size() - 3); }},
        {"datagram longer than the frame", [](sim::Bytes& b) { sim::putLe16(&b[22], 0x0200); }},
        {"another datagram announced", [](sim::Bytes& b) { b[23] |= 0x80; }},
        {"not a datagram frame", [](sim::Bytes& b) { b[15] = 0x20; }},
        {"header only", [](sim::Bytes& b) { b.resize(15); }},
    };
    for (const Case& c : destroyed) {
        sim::Bytes frame = good;
        c.spoil(frame);
        EXPECT_FALSE(chain.process(frame, sim::Port::Primary)) << c.what;
    }

    sim::Bytes padded = good;
    padded.resize(60, 0);
    auto out = chain.process(padded, sim::Port::Primary);
    ASSERT_TRUE(out);
    EXPECT_EQ(sim::datagramResult(out->frame, 0)->workingCounter, 2);

    sim::Bytes other = good;
    other[13] = 0x00;
    out = chain.process(other, sim::Port::Primary);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->frame, other);
}

TEST(Frame, GarbledFramesNeverReachOutsideTheFrame)
{
    // Valid frames cut to random lengths with random bytes changed: the chain refuses those whose
    // lengths no longer fit, processes the rest in place, and never touches a byte outside.
    sim::Chain chain = *sim::layouts().build("generic:3");
    chain.slave(2).esc().memory()[0x0600 + 12] = 1; // an active FMMU to walk through
    std::mt19937 random(12345);
    sim::FrameBuilder f;
    f.add(Command::Lrw, 0, 0, 8);
    f.add(Command::Fprw, 0x1002, 0x0800, 16);
    f.add(Command::Brd, 0, 0x0FF0, 40);
    int returned = 0;
    for (int round = 0; round < 5000; ++round) {
        sim::Bytes frame = f.frame();
        frame.resize(std::size_t(random() % (frame.size() + 8)), 0);
        for (int k = 0; k < 3 && !frame.empty(); ++k)
            frame[random() % frame.size()] = std::uint8_t(random());
        const std::size_t size = frame.size();
        auto out = chain.process(frame, sim::Port::Primary);
        if (out) {
            ++returned;
            EXPECT_EQ(out->frame.size(), size);
        }
    }
    EXPECT_GT(returned, 0);
    EXPECT_LT(returned, 5000);
}

} // namespace
