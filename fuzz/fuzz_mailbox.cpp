/*
 * Fuzz target: mailbox messages from a slave.
 *
 * A slave whose mailbox handler answers every message the master writes with fuzz-chosen replies
 * sits on the virtual bus (behind a plain slave), and the master runs one mailbox exchange against
 * it: CoE SDO upload and download (expedited, normal, segmented, complete access), SDO information
 * (object list, object and entry descriptions), the PDO mapping read through CoE, CoE PDO
 * requests, FoE write and read, SoE read, write and the IDN mapping, and the controllers'
 * command protocol (parameter and firmware version reads, error flags, confirmed writes). Messages
 * the slave posts before the exchange, such as emergencies, are part of the input too.
 *
 * Two mailbox slaves sit behind the plain one: slave 2 with 128-byte mailboxes, slave 3 with a
 * 512-byte write and a 64-byte read mailbox, so the master's size checks meet both shapes.
 *
 * Input: an operation byte (low 4 bits: the exchange; bit 7: slave 3 instead of 2), then the
 * number of unsolicited messages and those messages as chunks (see FuzzInput), then for each
 * message the master writes, the number of replies (0..3) and the replies as chunks. The virtual
 * bus answers at once and its clock runs fast, so the master's time-outs end after a few dozen
 * polls; a run that keeps the master waiting reply after reply (an object list of a thousand
 * entries, each description unanswered) meets a bound of frames, after which every wait ends at
 * once, so that no input costs more than a few milliseconds.
 *
 * The bus is enumerated once per process (and again every 5000 runs); before each run the
 * mailboxes are emptied and the master's mailbox counters reset, so a run does not depend on the
 * runs before it.
 *
 * Seeds: ZUVIAN_SEED_DIR=dir ./fuzz_mailbox runs every exchange against the virtual bus's own
 * servers (the CoE test slave's dictionary, the SoE test drive, an FoE server and a motor
 * controller's command interpreter), writes their replies as inputs and exits.
 */
#include "fuzzstdout.h"
#include "simbus.h"
#include "fuzzinput.h"

#include "coe/coeslave.h"
#include "controller/commandinterpreter.h"
#include "controller/commandmailbox.h"
#include "core/layouts.h"
#include "core/siibuilder.h"
#include "foe/foeserver.h"
#include "soe/soeslave.h"

#include "ethercatcoe.h"
#include "ethercatconfig.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "ethercatsoe.h"
#include "nicdrv.h"
#include "zuvian.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int Operations = 14;
constexpr int MaxRepliesPerMessage = 3;

/* Answers from the script, or (recording seeds) from a real server whose answers are written
 * down in the script's layout. */
class ScriptedHandler : public sim::MailboxHandler
{
public:
    std::deque<std::vector<sim::Bytes>> script;
    std::shared_ptr<sim::MailboxHandler> recordFrom;
    FuzzInputWriter* recordTo = nullptr;
    bool counts = true;

    void onMessage(const sim::Bytes& message, sim::MailboxReplies& out) override
    {
        if (recordFrom) {
            sim::MailboxReplies real;
            recordFrom->onMessage(message, real);
            const std::size_t n
                = std::min<std::size_t>(real.messages().size(), MaxRepliesPerMessage);
            recordTo->byte(std::uint8_t(n));
            for (std::size_t i = 0; i < n; ++i) {
                recordTo->chunk(real.messages()[i]);
                out.post(real.messages()[i]);
            }
            return;
        }
        if (!script.empty()) {
            for (const sim::Bytes& reply : script.front())
                out.post(reply);
            script.pop_front();
        }
    }
    bool countsMessages() const override { return counts; }
};

sim::Slave mailboxSlave(std::size_t number, std::uint16_t writeSize, std::uint16_t readSize)
{
    sim::SiiGeneral general;
    general.coeDetails = 0x3F; // SDO, SDO information, PDO assign and configuration, upload, CA
    general.foeDetails = 0x01;
    general.soeChannels = 0x01;
    sim::Bytes sii
        = sim::SiiBuilder()
              .identity(0x00000A5A, 0x00000F22, 1, std::uint32_t(number))
              .name("Fuzz Mailbox Slave " + std::to_string(number))
              .standardMailbox(0x1000, writeSize, 0x1000 + writeSize, readSize)
              .mailboxProtocols(sim::mbxproto::CoE | sim::mbxproto::FoE | sim::mbxproto::SoE)
              .general(general)
              .build();
    return sim::Slave(sii);
}

struct Bus
{
    std::unique_ptr<SimBus> bus;
    std::shared_ptr<ScriptedHandler> handler[2];
};

/* What one run may cost: far more frames than any exchange here needs when its slave answers,
 * so that only an input that keeps the master waiting reply after reply meets the bound. */
constexpr std::uint64_t FramesPerRun = 4000;

/* A fresh bus now and then, so that state the slaves build up cannot steer every later run. */
constexpr int RunsPerBus = 5000;

Bus& theBus()
{
    static Bus b;
    static int runs = 0;
    if (b.bus && ++runs >= RunsPerBus) {
        ec_close();
        b.bus.reset();
        runs = 0;
    }
    if (b.bus)
        return b;
    sim::Chain chain;
    chain.add(sim::makePlainSlave(1));
    chain.add(mailboxSlave(2, 128, 128));
    chain.add(mailboxSlave(3, 512, 64));
    b.bus = std::make_unique<SimBus>(std::move(chain));
    // Replies are posted the moment a message lands, so only the master's time-outs take
    // virtual time: they may as well pass quickly.
    b.bus->fastForward(true);
    for (int i = 0; i < 2; ++i) {
        b.handler[i] = std::make_shared<ScriptedHandler>();
        b.bus->slave(2 + std::size_t(i))
            .mailbox()
            .setHandler(
                b.handler[i], {sim::AlState::PreOp, sim::AlState::SafeOp, sim::AlState::Op});
    }
    if (ec_init(SimBus::Primary) <= 0 || ec_config_init(FALSE) != 3
        || ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE) != EC_STATE_PRE_OP) {
        std::fprintf(stderr, "fuzz_mailbox: the bus did not come up\n");
        std::abort();
    }
    return b;
}

/* Empty both sides of the slave's mailboxes and forget the counters, so every run starts alike. */
void resetMailbox(Bus& b, uint16 slave)
{
    b.bus->slave(slave).mailbox().clear();
    ec_mbxbuft scratch;
    for (int i = 0; i < 4 && ec_mbxreceive(slave, &scratch, 0) > 0; ++i) {}
    ec_slave[slave].mbx_cnt = 0;
    ec_errort e;
    while (ec_poperror(&e)) {}
}

void runOperation(int op, uint16 slave)
{
    static std::uint8_t buffer[8192];
    static ec_ODlistt odlist;
    static ec_OElistt oelist;
    int size = 0;
    int osize = 0;
    int isize = 0;
    switch (op) {
    case 0:
        size = 4;
        ec_SDOread(slave, 0x1018, 1, FALSE, &size, buffer, EC_TIMEOUT_MBXRX);
        break;
    case 1:
        size = 1000;
        ec_SDOread(slave, 0x1C12, 0, TRUE, &size, buffer, EC_TIMEOUT_MBXRX);
        size = sizeof buffer;
        ec_SDOread(slave, 0x1008, 0, FALSE, &size, buffer, EC_TIMEOUT_MBXRX);
        break;
    case 2: {
        std::uint16_t control = 0x000F;
        ec_SDOwrite(slave, 0x6040, 0, FALSE, sizeof control, &control, EC_TIMEOUT_MBXRX);
        std::uint32_t value = 0x12345678;
        ec_SDOwrite(slave, 0x7000, 2, FALSE, sizeof value, &value, EC_TIMEOUT_MBXRX);
        break;
    }
    case 3:
        std::memset(buffer, 0x5A, 600);
        ec_SDOwrite(slave, 0x2000, 0, FALSE, 600, buffer, EC_TIMEOUT_MBXRX);
        ec_SDOwrite(slave, 0x1C12, 0, TRUE, 6, buffer, EC_TIMEOUT_MBXRX);
        break;
    case 4:
        std::memset(&odlist, 0, sizeof odlist);
        if (ec_readODlist(slave, &odlist) > 0 && odlist.Entries > 0) {
            ec_readODdescription(0, &odlist);
            ec_readOE(0, &odlist, &oelist);
        }
        break;
    case 5:
        std::memset(&odlist, 0, sizeof odlist);
        odlist.Slave = slave;
        odlist.Entries = 1;
        odlist.Index[0] = 0x1018;
        ec_readODdescription(0, &odlist);
        odlist.MaxSub[0] = 4;
        ec_readOEsingle(0, 1, &odlist, &oelist);
        ec_readOE(0, &odlist, &oelist);
        break;
    case 6:
        ec_readPDOmap(slave, &osize, &isize);
        ec_readPDOmapCA(slave, &osize, &isize);
        break;
    case 7:
        size = 16;
        ec_TxPDO(slave, 0x1A00, &size, buffer, EC_TIMEOUT_MBXRX);
        ec_RxPDO(slave, 0x1600, 8, buffer);
        break;
    case 8: {
        char name[] = "TMCM-1610.bin";
        for (int i = 0; i < 700; ++i)
            buffer[i] = std::uint8_t(i * 7);
        ec_FOEwrite(slave, name, 0, 700, buffer, EC_TIMEOUT_MBXRX);
        break;
    }
    case 9: {
        char name[] = "TMCM-1610.bin";
        size = 2000;
        ec_FOEread(slave, name, 0, &size, buffer, EC_TIMEOUT_MBXRX);
        break;
    }
    case 10:
        size = 64;
        ec_SoEread(slave, 0, 0x40, 0x0010, &size, buffer, EC_TIMEOUT_MBXRX);
        size = sizeof buffer;
        ec_SoEread(slave, 0, 0x7F, 0x0017, &size, buffer, EC_TIMEOUT_MBXRX);
        break;
    case 11:
        std::memset(buffer, 0x11, 300);
        ec_SoEwrite(slave, 0, 0x40, 0x0024, 4, buffer, EC_TIMEOUT_MBXRX);
        ec_SoEwrite(slave, 0, 0x40, 0x0024, 300, buffer, EC_TIMEOUT_MBXRX);
        break;
    case 12:
        ec_readIDNmap(slave, &osize, &isize);
        break;
    case 13:
        readSingleParameter(std::uint8_t(slave), 4);
        getFirmwareVersion(std::uint8_t(slave));
        CheckParameterErrorFlags(std::uint8_t(slave));
        writeParameter(std::uint8_t(slave), 5, 1799);
        saveParameter(std::uint8_t(slave), 5, 1799);
        break;
    default:
        break;
    }
}

void runInput(Bus& b, int opByte)
{
    const int op = (opByte & 0x0F) % Operations;
    const uint16 slave = (opByte & 0x80) ? 3 : 2;
    ScriptedHandler& h = *b.handler[slave - 2];
    h.counts = op != 13; // the command protocol has no mailbox header, hence no counter
    runOperation(op, slave);
    ec_errort e;
    while (ec_poperror(&e)) {}
}

/* The server that answers operation `op` when seeds are recorded. */
std::shared_ptr<sim::MailboxHandler> realServer(int op, uint16 slave)
{
    const std::size_t write = slave == 2 ? 128 : 512;
    const std::size_t read = slave == 2 ? 128 : 64;
    if (op <= 7)
        return sim::coe::makeCoeSlave({"CoE Test Slave", true, read}).server;
    if (op <= 9)
        return std::make_shared<sim::FoeServer>();
    if (op <= 12)
        return std::make_shared<sim::soe::SoeServer>(write, read);
    return std::make_shared<sim::CommandMailbox>(std::make_shared<sim::CommandInterpreter>());
}

void writeSeeds(const char* dir)
{
    Bus& b = theBus();
    for (uint16 slave : {uint16(2), uint16(3)}) {
        for (int op = 0; op < Operations; ++op) {
            resetMailbox(b, slave);
            ScriptedHandler& h = *b.handler[slave - 2];
            FuzzInputWriter seed;
            const std::uint8_t opByte = std::uint8_t(op | (slave == 3 ? 0x80 : 0));
            seed.byte(opByte);
            // A stale emergency waiting in the mailbox before the exchange, in every other seed.
            const bool emergency = (op % 2) == 1;
            seed.byte(emergency ? 1 : 0);
            if (emergency) {
                const sim::Bytes emcy = {0x0A, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x10, 0x10, 0x23,
                    0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
                seed.chunk(emcy);
                b.bus->slave(slave).mailbox().post(emcy);
            }
            h.recordFrom = realServer(op, slave);
            h.recordTo = &seed;
            runInput(b, opByte);
            h.recordFrom.reset();
            h.recordTo = nullptr;
            const std::string path
                = std::string(dir) + "/op" + std::to_string(op) + "-slave" + std::to_string(slave);
            if (FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fwrite(seed.bytes().data(), 1, seed.bytes().size(), f);
                std::fclose(f);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSilenceStdout();
    if (const char* dir = std::getenv("ZUVIAN_SEED_DIR")) {
        writeSeeds(dir);
        std::exit(0);
    }
    theBus();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bus& b = theBus();
    FuzzInput input(data, size);
    const std::uint8_t opByte = input.byte();
    const uint16 slave = (opByte & 0x80) ? 3 : 2;
    resetMailbox(b, slave);
    ScriptedHandler& h = *b.handler[slave - 2];
    h.script.clear();
    std::vector<std::uint8_t> chunk;
    const int unsolicited = input.byte() % 4;
    for (int i = 0; i < unsolicited && input.chunk(chunk); ++i)
        b.bus->slave(slave).mailbox().post(chunk);
    while (!input.empty()) {
        const int n = input.byte() % (MaxRepliesPerMessage + 1);
        std::vector<sim::Bytes> replies;
        for (int i = 0; i < n && input.chunk(chunk); ++i)
            replies.push_back(chunk);
        h.script.push_back(std::move(replies));
    }
    b.bus->limitFrames(FramesPerRun);
    runInput(b, opByte);
    b.bus->limitFrames(0);
    h.script.clear();
    // Leave nothing allocated by this run behind (see Mailbox::forgetReceived).
    resetMailbox(b, slave);
    b.bus->slave(slave).mailbox().forgetReceived();
    return 0;
}
