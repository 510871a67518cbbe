/*
 * SII images and the EEPROM interface as the master reaches them through 0x0500..0x050F.
 */
#include "simtest.h"

#include <gtest/gtest.h>

using namespace simtest;
using sim::Command;

namespace {

/* One slave at station 0x1001 whose SII is `image`. */
class EepromBus : public ::testing::Test
{
protected:
    void build(const sim::Bytes &image, bool eightByte = false, std::uint32_t busyUs = 100)
    {
        sim::EscOptions hw;
        hw.eightByteEepromReads = eightByte;
        hw.eepromBusyUs = busyUs;
        chain.add(sim::Slave(image, hw));
        addressAll(chain);
    }
    std::uint16_t status() { return word(exchange(chain, Command::Fprd, station(1), 0x0502, 2)->data); }
    std::uint16_t command(std::uint16_t cmd, std::uint16_t address)
    {
        sim::Bytes block(6, 0);
        sim::putLe16(&block[0], cmd);
        sim::putLe16(&block[2], address);
        return exchange(chain, Command::Fpwr, station(1), 0x0502, block)->wkc;
    }
    sim::Bytes data(std::size_t n) { return exchange(chain, Command::Fprd, station(1), 0x0508, n)->data; }
    /* Read the word group at `address` the way the master does: command, wait, fetch. */
    sim::Bytes readGroup(std::uint16_t address, std::size_t n = 4)
    {
        command(0x0100, address);
        chain.clock().advance(1000);
        EXPECT_EQ(status() & 0x8000, 0);
        return data(n);
    }

    sim::Chain chain;
};

TEST(SiiBuilder, HeaderWordsAndCategoriesStandWhereTheStandardPutsThem)
{
    sim::SiiGeneral general;
    general.coeDetails = 0x23;
    general.foeDetails = 0x01;
    general.soeChannels = 2;
    general.flags = sim::SiiFlagBlockLrw;
    general.ebusCurrent = -200;
    sim::SiiPdo tx{0x1A00, 3, 0, 0, 0, {{0x6000, 1, 0, 7, 16, 0}, {0x6001, 2, 0, 7, 8, 0}}};
    const sim::Bytes image = sim::SiiBuilder()
                                 .identity(0x11223344, 0x55667788, 0x00010002, 0xCAFE)
                                 .alias(0x0102)
                                 .standardMailbox(0x1000, 0x80, 0x1080, 0x40)
                                 .bootstrapMailbox(0x1400, 0x200, 0x1600, 0x200)
                                 .mailboxProtocols(0x000C)
                                 .name("TMCM-1610")
                                 .general(general)
                                 .fmmus({1, 2, 3})
                                 .txPdo(tx)
                                 .eepromSize(4096)
                                 .build();
    ASSERT_EQ(image.size(), 4096u);
    auto w = [&](std::size_t at) { return word(image, at * 2); };
    EXPECT_EQ(w(0x04), 0x0102);
    EXPECT_EQ(image[0x0E], sim::siiChecksum(image));
    EXPECT_EQ(w(0x08) | (w(0x09) << 16), 0x11223344u);
    EXPECT_EQ(w(0x0A) | (w(0x0B) << 16), 0x55667788u);
    EXPECT_EQ(w(0x0C) | (w(0x0D) << 16), 0x00010002u);
    EXPECT_EQ(w(0x0E), 0xCAFE);
    EXPECT_EQ(w(0x14), 0x1400);
    EXPECT_EQ(w(0x15), 0x200);
    EXPECT_EQ(w(0x18), 0x1000);
    EXPECT_EQ(w(0x19), 0x80);
    EXPECT_EQ(w(0x1A), 0x1080);
    EXPECT_EQ(w(0x1B), 0x40);
    EXPECT_EQ(w(0x1C), 0x000C);
    EXPECT_EQ(w(0x3E), 31); // 4096 bytes = 32 KiBit

    // Strings: count 1, then "TMCM-1610".
    std::size_t a = 0x80;
    EXPECT_EQ(word(image, a), 10);
    EXPECT_EQ(image[a + 4], 1);
    EXPECT_EQ(std::string(image.begin() + long(a) + 6, image.begin() + long(a) + 15), "TMCM-1610");
    a += 4 + 2 * word(image, a + 2);
    // General: the master's offsets from the length word.
    EXPECT_EQ(word(image, a), 30);
    a += 2;
    EXPECT_EQ(image[a + 2 + 3], 1); // name index
    EXPECT_EQ(image[a + 7], 0x23);
    EXPECT_EQ(image[a + 8], 0x01);
    EXPECT_EQ(image[a + 10], 2);
    EXPECT_EQ(image[a + 13], sim::SiiFlagBlockLrw);
    EXPECT_EQ(std::int16_t(word(image, a + 14)), -200);
    a += 2 + 2 * word(image, a);
    // FMMU: padded with 0xFF to whole words.
    EXPECT_EQ(word(image, a), 40);
    EXPECT_EQ(word(image, a + 2), 2);
    EXPECT_EQ(image[a + 4 + 3], 0xFF);
    a += 4 + 4;
    // SyncManagers derived from the standard mailbox.
    EXPECT_EQ(word(image, a), 41);
    EXPECT_EQ(word(image, a + 2), 8);
    EXPECT_EQ(word(image, a + 4), 0x1000);
    EXPECT_EQ(image[a + 4 + 4], 0x26);
    EXPECT_EQ(image[a + 4 + 8 + 4], 0x22);
    EXPECT_EQ(word(image, a + 4 + 8 + 2), 0x40);
    a += 4 + 16;
    // TXPDO: 8-byte header, 8 bytes per entry, bit length at entry byte 5.
    EXPECT_EQ(word(image, a), 50);
    EXPECT_EQ(word(image, a + 2), 12);
    EXPECT_EQ(word(image, a + 4), 0x1A00);
    EXPECT_EQ(image[a + 6], 2);
    EXPECT_EQ(image[a + 7], 3);
    EXPECT_EQ(image[a + 12 + 5], 16);
    EXPECT_EQ(image[a + 20 + 5], 8);
    a += 4 + 24;
    EXPECT_EQ(word(image, a), 0xFFFF);
}

TEST(SiiBuilder, BrokenImagesCanBeBuilt)
{
    const sim::Bytes image = sim::SiiBuilder()
                                 .identity(1, 2, 3)
                                 .syncManagers({})
                                 .standardMailbox(0x1000, 0x80, 0x1080, 0x80)
                                 .rawCategory(0x0777, {1, 2, 3, 4}, 0x4000)
                                 .omitEndMarker()
                                 .eepromSize(256)
                                 .build();
    ASSERT_EQ(image.size(), 256u);
    EXPECT_EQ(word(image, 0x80), 0x0777);
    EXPECT_EQ(word(image, 0x82), 0x4000);
    EXPECT_EQ(word(image, 0x88), 0xFFFF); // erased, not an end marker written on purpose
}

TEST_F(EepromBus, ReadTakesTheBusyTimeOnTheVirtualClock)
{
    build(mailboxSii(), false, 500);
    EXPECT_EQ(status() & 0x0040, 0); // 4-byte interface
    EXPECT_EQ(command(0x0100, 0x0008), 1);
    EXPECT_EQ(status() & 0x8000, 0x8000);
    chain.clock().advance(499);
    EXPECT_EQ(status() & 0x8000, 0x8000);
    chain.clock().advance(1);
    EXPECT_EQ(status() & 0x8000, 0);
    EXPECT_EQ(status() & 0x7800, 0);
    const sim::Bytes d = data(8);
    EXPECT_EQ(sim::getLe32(&d[0]), 0x00000A5Au); // vendor
    EXPECT_EQ(sim::getLe32(&d[4]), 0u); // a 4-byte interface delivers four
}

TEST_F(EepromBus, CommandsWhileBusyAreIgnored)
{
    build(mailboxSii(), false, 500);
    command(0x0100, 0x0008);
    command(0x0100, 0x000A);
    chain.clock().advance(500);
    EXPECT_EQ(sim::getLe32(&data(4)[0]), 0x00000A5Au);
}

TEST_F(EepromBus, FaultsRefuseCommandsOrKeepTheInterfaceBusy)
{
    build(mailboxSii());
    chain.slave(1).eepromFaults().refuseCommands = 2;
    for (int i = 0; i < 2; ++i) {
        command(0x0100, 0x0008);
        chain.clock().advance(1000);
        EXPECT_EQ(status() & 0xA000, 0x2000);
    }
    EXPECT_EQ(sim::getLe32(&readGroup(0x0008)[0]), 0x00000A5Au);
    EXPECT_EQ(status() & 0x2000, 0);

    chain.slave(1).eepromFaults().stayBusy = true;
    command(0x0100, 0x000A);
    chain.clock().advance(10000000);
    EXPECT_EQ(status() & 0x8000, 0x8000);
    chain.slave(1).eepromFaults().stayBusy = false;
    EXPECT_EQ(status() & 0x8000, 0);
}

TEST_F(EepromBus, InvalidCommandAndReadsBeyondTheEnd)
{
    build(sim::SiiBuilder().identity(1, 2, 3).eepromSize(256).build());
    command(0x0700, 0);
    EXPECT_EQ(status() & 0x2000, 0x2000);
    EXPECT_EQ(sim::getLe32(&readGroup(0x0080)[0]), 0xFFFFFFFFu); // word 0x80 = byte 256: past the end
    exchange(chain, Command::Fpwr, station(1), 0x0508, le16(1));
    command(0x0201, 0x0900);
    chain.clock().advance(1000);
    EXPECT_EQ(status() & 0x2000, 0x2000);
}

TEST_F(EepromBus, AliasAndPdiControlAreLoadedFromTheSii)
{
    build(sim::SiiBuilder().identity(1, 2, 3).alias(0x0777).pdiControl(0x0C08).build());
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0012, 2)->data), 0x0777);
    EXPECT_EQ(word(exchange(chain, Command::Fprd, station(1), 0x0140, 2)->data), 0x0C08);
}

} // namespace
