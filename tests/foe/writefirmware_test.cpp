// The firmware writer end to end on the virtual bus: a non-axis board and the four controller
// models (test slaves with an FoE server in BOOT behind their bootstrap mailbox), every result
// code with its text, and the image sizes at the edges of the buffer.
#include "foebus.h"
#include "simbus.h"
#include "workdir.h"
#include "writefirmware.h"

#include "ethercatmain.h"

#include <gtest/gtest.h>

#include <map>

using sim::AlState;

namespace {

struct Model {
    const char *name;
    const char *file;
};
const Model kModels[] = {
    {"TMCM-174", "TMCM-174.bin"},
    {"TMCM-1632", "TMCM-1632.bin"},
    {"TMCM-ZQ-841", "TMCM-841.bin"},
    {"TMCM-1610", "TMCM-1610.bin"},
};
// Bus positions: 1 board, 2..5 the models above, then two names that only look like a model.
const int kLowerCase = 6;
const int kTrailingBlank = 7;

class WriteFirmwareTest : public ::testing::Test
{
protected:
    WriteFirmwareTest() : bus_(buildChain()) {}

    sim::Chain buildChain()
    {
        sim::Chain chain;
        chain.add(foetest::plainBoard());
        for (const Model &m : kModels)
            chain.add(foetest::foeSlave(m.name, serverFor(m.file), {AlState::Boot}));
        chain.add(foetest::foeSlave("tmcm-174", serverFor("TMCM-174.bin"), {AlState::Boot}));
        chain.add(foetest::foeSlave("TMCM-174 ", serverFor("TMCM-174.bin"), {AlState::Boot}));
        return chain;
    }

    // An FoE server that takes only `file`, with password 0, and keeps what it received.
    std::shared_ptr<sim::FoeServer> serverFor(const std::string &file)
    {
        auto server = std::make_shared<sim::FoeServer>(sim::FoeMailboxes{foetest::kBootSize, foetest::kBootSize});
        const std::size_t position = servers_.size() + 2;
        server->setWriteAcceptor([file](const std::string &name, uint32_t password) {
            if (name != file || password != 0)
                return sim::FoeVerdict::refuse(sim::foe_error::NotFound, "Not found");
            return sim::FoeVerdict::accept();
        });
        server->setWriteCompletion([this, position](const std::string &, const std::vector<uint8_t> &image) {
            received_[position] = image;
        });
        servers_.push_back(server);
        return server;
    }

    sim::FoeServer &server(int position) { return *servers_.at(static_cast<std::size_t>(position - 2)); }

    // Runs the writer and returns its result; its standard output lands in `out_`.
    int write(int position, const QString &eth = SimBus::Primary)
    {
        testing::internal::CaptureStdout();
        int result = WriteFirmware().writeFirmware(eth, position);
        out_ = testing::internal::GetCapturedStdout();
        return result;
    }

    foetest::WorkDir dir_;
    std::vector<std::shared_ptr<sim::FoeServer>> servers_;
    std::map<std::size_t, std::vector<uint8_t>> received_;
    SimBus bus_;
    std::string out_;
};

TEST_F(WriteFirmwareTest, EachModelReceivesItsOwnImageThroughTheBootstrapMailbox)
{
    for (int i = 0; i < 4; ++i)
        dir_.put(kModels[i].file, foetest::pattern(5000 + 100 * static_cast<std::size_t>(i), static_cast<uint8_t>(i)));
    for (int i = 0; i < 4; ++i) {
        const int position = i + 2;
        SCOPED_TRACE(kModels[i].name);
        EXPECT_EQ(write(position), WriteFirmware::Written);
        EXPECT_EQ(out_, "write successfull\n");
        EXPECT_EQ(received_[static_cast<std::size_t>(position)],
                  foetest::pattern(5000 + 100 * static_cast<std::size_t>(i), static_cast<uint8_t>(i)));
        EXPECT_EQ(bus_.slave(static_cast<std::size_t>(position)).state(), AlState::Init);
        EXPECT_EQ(bus_.openHandles(), 0);
        // The slave table describes the bootstrap mailbox now.
        EXPECT_EQ(uint16_t(ec_slave[position].mbx_wo), foetest::kBootOut);
        EXPECT_EQ(uint16_t(ec_slave[position].mbx_l), foetest::kBootSize);
        EXPECT_EQ(uint16_t(ec_slave[position].mbx_ro), foetest::kBootIn);
        EXPECT_EQ(uint16_t(ec_slave[position].mbx_rl), foetest::kBootSize);
        EXPECT_EQ(uint16_t(ec_slave[position].SM[0].StartAddr), foetest::kBootOut);
        EXPECT_EQ(uint16_t(ec_slave[position].SM[1].SMlength), foetest::kBootSize);
    }
    EXPECT_EQ(received_.size(), 4u);
}

TEST_F(WriteFirmwareTest, ImageSizesUpToTheBufferAreSentWholeLargerOnesRefused)
{
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t(foetest::kBootMaxData),
                             std::size_t(WriteFirmware::FileBufferSize)}) {
        SCOPED_TRACE(size);
        received_.clear();
        auto image = foetest::pattern(size, 42);
        dir_.put("TMCM-1610.bin", image);
        EXPECT_EQ(write(5), WriteFirmware::Written);
        EXPECT_EQ(received_[5], image);
    }

    received_.clear();
    const std::size_t writes = server(5).completedWrites();
    dir_.put("TMCM-1610.bin", foetest::pattern(WriteFirmware::FileBufferSize + 1, 42));
    EXPECT_EQ(write(5), WriteFirmware::FileNotRead);
    EXPECT_NE(out_.find("File not read OK.\n"), std::string::npos);
    EXPECT_EQ(server(5).completedWrites(), writes);
    EXPECT_TRUE(received_.empty());
    EXPECT_EQ(bus_.openHandles(), 0);
}

TEST_F(WriteFirmwareTest, FailuresReportTheirCodeAndText)
{
    dir_.put("TMCM-174.bin", foetest::pattern(3000));

    EXPECT_EQ(write(2, "nosuchif"), WriteFirmware::NoSocket);
    EXPECT_EQ(out_, "No socket connection on nosuchif\nExcecute as root\n");

    for (int position : {0, 1, -1, 8, 199, 200, 5000, kLowerCase, kTrailingBlank}) {
        SCOPED_TRACE(position);
        EXPECT_EQ(write(position), WriteFirmware::WrongSlave);
        EXPECT_EQ(out_, "wrong slave detected!\n");
        EXPECT_EQ(bus_.openHandles(), 0);
    }

    EXPECT_EQ(write(3), WriteFirmware::FileNotRead); // no TMCM-1632.bin in the directory
    EXPECT_EQ(out_, "File not read OK.\n");
    EXPECT_EQ(bus_.slave(3).state(), AlState::Boot);
    EXPECT_EQ(bus_.openHandles(), 0);

    server(2).breakOffAfterPacket(2, sim::foe_error::DiskFull, "Disk full");
    EXPECT_EQ(write(2), WriteFirmware::WriteFailed);
    EXPECT_EQ(out_, "write not successfull\n");
    EXPECT_EQ(bus_.slave(2).state(), AlState::Init);
    EXPECT_EQ(bus_.openHandles(), 0);
    server(2).clearFaults();

    bus_.slave(2).alFaults().refuse = AlState::Boot;
    const std::size_t messages = bus_.slave(2).mailbox().received().size();
    EXPECT_EQ(write(2), WriteFirmware::BootRefused);
    EXPECT_EQ(out_, "Slave did not enter BOOT state.\n");
    EXPECT_EQ(bus_.slave(2).mailbox().received().size(), messages);
    EXPECT_NE(bus_.slave(2).state(), AlState::Boot);
    EXPECT_EQ(bus_.openHandles(), 0);
}

TEST_F(WriteFirmwareTest, StalledTransferEndsAtTheAnswerTimeoutAndLeavesTheSlaveInInit)
{
    dir_.put("TMCM-841.bin", foetest::pattern(10 * foetest::kBootMaxData));
    server(4).stallAfterPacket(3);
    const uint64_t start = bus_.clock().nowUs();
    EXPECT_EQ(write(4), WriteFirmware::WriteFailed);
    const uint64_t took = bus_.clock().nowUs() - start;
    EXPECT_EQ(out_, "write not successfull\n");
    EXPECT_EQ(server(4).packetsReceived(), 3u);
    EXPECT_EQ(bus_.slave(4).state(), AlState::Init);
    EXPECT_EQ(bus_.openHandles(), 0);
    // 2 s for the answer that never comes; enumeration and the state changes take a small part of
    // a second on the virtual bus.
    EXPECT_GE(took, 2000000u);
    EXPECT_LT(took, 3000000u);
}

TEST(WriteFirmwareEmptyBus, NoSlavesFound)
{
    SimBus bus{sim::Chain{}};
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteFirmware().writeFirmware(SimBus::Primary, 1), WriteFirmware::NoSlaves);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No slaves found!\n");
    EXPECT_EQ(bus.openHandles(), 0);
}

} // namespace
