/*
 * Fuzz target: SII categories and strings of an EEPROM image.
 *
 * An emulated slave whose SII EEPROM holds the fuzz input is put on the virtual bus and the master
 * enumerates it as it enumerates the robot: identity and mailbox words, the name string, the
 * general, FMMU and SyncManager categories, and then the process data mapping from the PDO
 * categories (and for a slave that claims CoE or SoE, the attempt to read the mapping through a
 * mailbox nobody answers). The slave's name as the controller protocol hands it to the application
 * is read at the end.
 *
 * Input: one option byte (bit 0: the slave's EEPROM interface reads 8 bytes at a time; bit 1: a
 * plain slave sits in front of it, so the image is read at bus position 2), then the image itself.
 *
 * Seeds: ZUVIAN_SEED_DIR=dir ./fuzz_sii writes the SII images of the virtual robot's slaves (the
 * non-axis boards and every controller model) and of the protocol test slaves, and exits.
 */
#include "fuzzstdout.h"
#include "simbus.h"

#include "core/layouts.h"
#include "core/slave.h"

#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "nicdrv.h"
#include "zuvian.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

constexpr std::size_t LargestImage = 8192;

alignas(8) std::uint8_t ioMap[4096];

void writeSeeds(const char* dir)
{
    std::set<sim::Bytes> images;
    for (const char* layout : {"robot", "robot+protocols", "generic:1"}) {
        auto chain = sim::layouts().build(layout);
        if (!chain)
            continue;
        for (std::size_t n = 1; n <= chain->size(); ++n)
            images.insert(chain->slave(n).esc().eeprom().image());
    }
    int i = 0;
    for (const sim::Bytes& image : images) {
        for (std::uint8_t options : {0x00, 0x03}) {
            const std::string path
                = std::string(dir) + "/image" + std::to_string(i) + "-" + std::to_string(options);
            if (FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fputc(options, f);
                std::fwrite(image.data(), 1, image.size(), f);
                std::fclose(f);
            }
        }
        ++i;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (const char* dir = std::getenv("ZUVIAN_SEED_DIR")) {
        writeSeeds(dir);
        std::exit(0);
    }
    fuzzSilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1 || size > LargestImage + 1)
        return -1;
    const std::uint8_t options = data[0];
    sim::EscOptions hw;
    hw.eightByteEepromReads = (options & 0x01) != 0;
    sim::Chain chain;
    if (options & 0x02)
        chain.add(sim::makePlainSlave(1));
    chain.add(sim::Slave(sim::Bytes(data + 1, data + size), hw));
    {
        SimBus bus(std::move(chain));
        bus.fastForward(true);
        if (ec_init(SimBus::Primary) > 0) {
            if (ec_config_init(FALSE) > 0) {
                ec_config_map_group_size(ioMap, sizeof ioMap, 0);
                for (int slave = 1; slave <= ec_slavecount; ++slave)
                    getSlaveName(std::uint8_t(slave));
            }
            ec_close();
        }
        ec_errort e;
        while (ec_poperror(&e)) {}
    }
    return 0;
}
