// The firmware writer end to end: a board and four controllers (FoE in BOOT behind a bootstrap
// mailbox unlike the standard one), every result code with its text, image sizes at the edges.
#include "BusSession.h"
#include "core/layouts.h"
#include "foebus.h"
#include "qtfiles.h"
#include "simbus.h"
#include "writefirmware.h"

#include "eclink.h"
#include "ethercatmain.h"

#include <gtest/gtest.h>

using sim::AlState;

namespace {

// An image file in the working directory, where the writer opens it by its bare name.
void putImage(const char* name, const std::vector<std::uint8_t>& image)
{
    putFile(QString::fromLatin1(name),
        QByteArray(reinterpret_cast<const char*>(image.data()), qsizetype(image.size())));
}

// Bus positions: 1 board, 2..5 these models, then two names that only look like a model.
const std::pair<const char*, const char*> kModels[] = {
    {"TMCM-174", "TMCM-174.bin"},
    {"TMCM-1632", "TMCM-1632.bin"},
    {"TMCM-ZQ-841", "TMCM-841.bin"},
    {"TMCM-1610", "TMCM-1610.bin"},
    {"tmcm-174", "TMCM-174.bin"},
    {"TMCM-174 ", "TMCM-174.bin"},
};

class WriteFirmwareTest : public ::testing::Test
{
protected:
    WriteFirmwareTest()
        : bus_(chain())
    {}

    // The writer is the bus's entry here: the test holds the session as a single-threaded
    // program does.
    const BusSession::Lock session_;

    sim::Chain chain()
    {
        sim::Chain c;
        c.add(sim::makePlainSlave(1));
        for (const auto& [model, file] : kModels) {
            auto server = std::make_shared<sim::FoeServer>(
                sim::FoeMailboxes{foetest::kBootSize, foetest::kBootSize});
            server->setWriteAcceptor(
                [file = std::string(file)](const std::string& name, uint32_t password) {
                    return name == file && password == 0
                        ? sim::FoeVerdict::accept()
                        : sim::FoeVerdict::refuse(sim::foe_error::NotFound, "Not found");
                });
            server->setWriteCompletion(
                [this](const std::string&, const std::vector<uint8_t>& f) { received_ = f; });
            servers_.push_back(server);
            c.add(foetest::foeSlave(model, server, {AlState::Boot}));
        }
        return c;
    }

    sim::FoeServer& server(int position)
    {
        return *servers_.at(static_cast<std::size_t>(position - 2));
    }

    // Runs the writer; its standard output lands in `out_`. The port is closed on every return.
    int write(int position, const QString& eth = SimBus::Primary)
    {
        testing::internal::CaptureStdout();
        int result = WriteFirmware().writeFirmware(eth, position);
        out_ = testing::internal::GetCapturedStdout();
        EXPECT_EQ(bus_.openHandles(), 0);
        return result;
    }

    TestDirs dirs_;
    std::vector<std::shared_ptr<sim::FoeServer>> servers_;
    SimBus bus_;
    std::vector<uint8_t> received_;
    std::string out_;
};

TEST_F(WriteFirmwareTest, ImagesUpToTheBufferSizeAreSentWholeLargerOnesRefused)
{
    const std::size_t packet = foetest::kBootMaxData;
    for (std::size_t size : {std::size_t{1}, packet, packet + 1, 3 * packet,
             std::size_t(WriteFirmware::FileBufferSize)}) {
        SCOPED_TRACE(size);
        auto image = foetest::pattern(size, 42);
        putImage("TMCM-1610.bin", image);
        received_.assign(1, 0xAA);
        EXPECT_EQ(write(5), WriteFirmware::Written);
        EXPECT_EQ(out_, "write successfull\n");
        EXPECT_EQ(received_, image);
        EXPECT_EQ(bus_.slave(5).state(), AlState::Init);
    }
    // The slave table now describes the bootstrap mailbox.
    EXPECT_EQ(uint16_t(ec_slave[5].mbx_wo), foetest::kBootOut);
    EXPECT_EQ(uint16_t(ec_slave[5].mbx_l), foetest::kBootSize);
    EXPECT_EQ(uint16_t(ec_slave[5].SM[1].StartAddr), foetest::kBootIn);
    EXPECT_EQ(uint16_t(ec_slave[5].SM[1].SMlength), foetest::kBootSize);

    // Too large and empty images are refused before the controller is touched.
    const std::size_t writes = server(5).completedWrites();
    putImage("TMCM-1610.bin", foetest::pattern(WriteFirmware::FileBufferSize + 1, 42));
    EXPECT_EQ(write(5), WriteFirmware::FileNotRead);
    EXPECT_NE(out_.find("File not read OK.\n"), std::string::npos);
    putImage("TMCM-1610.bin", {});
    EXPECT_EQ(write(5), WriteFirmware::EmptyImage);
    EXPECT_EQ(out_, "File is empty.\n");
    EXPECT_EQ(server(5).completedWrites(), writes);
    EXPECT_NE(bus_.slave(5).state(), AlState::Boot);
}

TEST_F(WriteFirmwareTest, FailuresReportTheirCodeAndText)
{
    putImage("TMCM-174.bin", foetest::pattern(3000));

    EXPECT_EQ(write(2, "nosuchif"), WriteFirmware::NoSocket);
    EXPECT_EQ(out_, "No socket connection on nosuchif\nExcecute as root\n");

    // The board, numbers off the bus or off the table, and names that are not exact.
    for (int position : {0, 1, -1, 8, 200, 5000, 6, 7}) {
        EXPECT_EQ(write(position), WriteFirmware::WrongSlave) << position;
        EXPECT_EQ(out_, "wrong slave detected!\n");
    }

    EXPECT_EQ(write(3), WriteFirmware::FileNotRead); // no TMCM-1632.bin in the directory
    EXPECT_EQ(out_, "File not read OK.\n");
    EXPECT_NE(bus_.slave(3).state(), AlState::Boot);

    server(2).breakOffAfterPacket(2, sim::foe_error::DiskFull, "Disk full");
    EXPECT_EQ(write(2), WriteFirmware::WriteFailed);
    EXPECT_EQ(out_, "write not successfull\n");
    EXPECT_EQ(bus_.slave(2).state(), AlState::Init);
    server(2).clearFaults();

    bus_.slave(2).alFaults().refuse = AlState::Boot;
    const std::size_t messages = bus_.slave(2).mailbox().received().size();
    bus_.slave(2).alFaults().refuseCode = 0x0024;
    WriteFirmware refused;
    testing::internal::CaptureStdout();
    EXPECT_EQ(refused.writeFirmware(SimBus::Primary, 2), WriteFirmware::BootRefused);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Slave did not enter BOOT state.\n");
    EXPECT_EQ(refused.alStatusCode(), 0x0024);
    EXPECT_EQ(bus_.slave(2).mailbox().received().size(), messages);
    EXPECT_EQ(bus_.slave(2).state(), AlState::Init);
    EXPECT_FALSE(bus_.slave(2).esc().al().error());
}

TEST_F(WriteFirmwareTest, StalledTransferEndsAtTheAnswerTimeoutAndLeavesTheSlaveInInit)
{
    putImage("TMCM-841.bin", foetest::pattern(10 * foetest::kBootMaxData));
    server(4).stallAfterPacket(3);
    const uint64_t start = bus_.clock().nowUs();
    EXPECT_EQ(write(4), WriteFirmware::WriteFailed);
    const uint64_t took = bus_.clock().nowUs() - start;
    EXPECT_EQ(out_, "write not successfull\n");
    EXPECT_EQ(server(4).packetsReceived(), 3u);
    EXPECT_EQ(bus_.slave(4).state(), AlState::Init);
    // 2 s for the answer that never comes; enumeration and the state changes take a small part of
    // a second on the virtual bus.
    EXPECT_GE(took, 2000000u);
    EXPECT_LT(took, 3000000u);
}

// The controller an earlier download switched out of BOOT may still be restarting when the next
// session counts the bus: it cuts the bus at its position. Such a controller is waited for up to
// its bound from the switch, and must be the same one; one that is simply missing is not.
TEST_F(WriteFirmwareTest, NextSessionWaitsForTheControllerThatIsRestarting)
{
    putImage("TMCM-841.bin", foetest::pattern(1000));
    const struct
    {
        uint64_t offlineUs; // how long position 3 stays off the bus
        bool announced; // the writer was told that it may be restarting
        const char* expectedName; // the name the restarting controller had
        int expected;
    } cases[] = {
        {10000000, true, "TMCM-1632", WriteFirmware::Written},
        {29000000, true, "TMCM-1632", WriteFirmware::Written},
        {10000000, false, "TMCM-1632", WriteFirmware::WrongSlave},
        {40000000, true, "TMCM-1632", WriteFirmware::RestartLost},
        {10000000, true, "TMCM-174", WriteFirmware::RestartLost},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offlineUs);
        const int64_t switched = ec_clock_now();
        bus_.slave(3).goOffline(bus_.clock().nowUs() + c.offlineUs);
        WriteFirmware writer;
        std::vector<int> told;
        writer.setRestartNotice([&told](int position) { told.push_back(position); });
        if (c.announced)
            writer.awaitRestart(3, QString::fromLatin1(c.expectedName), switched, 7);
        testing::internal::CaptureStdout();
        EXPECT_EQ(writer.writeFirmware(SimBus::Primary, 4), c.expected);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(told, c.announced ? std::vector<int>{3} : std::vector<int>{});
        EXPECT_EQ(writer.lostPosition(), c.expected == WriteFirmware::RestartLost ? 3 : 0);
        // Past any restart, for the next case.
        bus_.clock().advance(c.offlineUs);
    }
}

TEST(WriteFirmwareEmptyBus, NoSlavesFound)
{
    SimBus bus{sim::Chain{}};
    const BusSession::Lock session;
    testing::internal::CaptureStdout();
    EXPECT_EQ(WriteFirmware().writeFirmware(SimBus::Primary, 1), WriteFirmware::NoSlaves);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No slaves found!\n");
    EXPECT_EQ(bus.openHandles(), 0);
}

} // namespace
