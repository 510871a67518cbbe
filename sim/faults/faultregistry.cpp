/*
 * The fault registry: parses a fault's name and arguments and switches the matching misbehaviour
 * on, reusing the fault switches of the chain, the slaves, the mailboxes, the FoE servers and the
 * motor controllers.
 */
#include "faults/faultregistry.h"

#include "controller/controllermodel.h"
#include "core/layouts.h"
#include "foe/foemessage.h"

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>

namespace sim {

namespace {

using Args = std::vector<std::string>;

constexpr std::size_t kEthernetHeader = 14;
constexpr std::size_t kFrameHeader = 2;
constexpr std::uint8_t kFpwr = 5;
constexpr std::uint16_t kMailboxArea = 0x1000;
/* How long a flapping link stays up between two drops: long enough for a job to get going, short
 * enough that a diagnosis of a few seconds sees a drop. */
constexpr std::uint64_t kFlapUpUs = 3000000;

const std::vector<FaultDescription> catalogue = {
    {"drop-every", "N", "every n-th frame is lost on the wire"},
    {"drop-random", "PERMILLE[:SEED]", "each frame is lost with this probability"},
    {"late", "EVERY:US", "every n-th reply arrives US microseconds late"},
    {"duplicate", "EVERY", "every n-th reply arrives twice"},
    {"corrupt", "EVERY:OFFSET", "every n-th reply has the byte at OFFSET inverted"},
    {"burst", "[SEED]", "bursts of round trips of 2 to 20 ms, so replies also come out of order"},
    {"echo", "EVERY", "every n-th frame the master sends comes back to it as sent"},
    {"other-master", "EVERY", "after every n-th reply comes a reply to another master's request"},
    {"write-twice", "EVERY", "every n-th mailbox write reaches the bus twice"},
    {"write-reply-lost", "EVERY", "every n-th mailbox write lands, but its reply is lost"},
    {"crc", "POS:PORT:PERMILLE",
        "frames arriving on that port are damaged with this probability: counted there, lost"},
    {"link-flap", "POS:PORT:MS", "the link on that port drops for MS after every 3 s it was up"},
    {"refuse-state", "POS:STATE:CODE", "the slave refuses STATE (init, preop, boot, safeop, op)"},
    {"boot-refused", "POS", "the slave refuses BOOT with AL status 0x0011"},
    {"sticky-error", "POS[:N]", "the AL error flag survives the first N acknowledges (1)"},
    {"silent-mailbox", "POS", "the mailbox takes every message and answers none"},
    {"repeat-counter", "POS[:N]", "the next N replies repeat the mailbox counter before them"},
    {"eeprom-busy", "POS", "the EEPROM interface stays busy"},
    {"eeprom-refuse", "POS[:N]", "the next N EEPROM commands are not acknowledged (1)"},
    {"sii-length", "POS", "the first SII category claims a length far beyond the EEPROM"},
    {"unplug", "POS", "the slave is off the bus (the bus changed since the last session)"},
    {"extra-slaves", "N", "N plain slaves are added at the end of the bus"},
    {"command-silent", "POS", "the controller carries commands out but answers none"},
    {"emergency-only", "POS", "the controller answers every command with an emergency only"},
    {"stale-emergency", "POS", "an old emergency waits in the read mailbox at the next PRE-OP"},
    {"power-loss", "POS:BYTES", "power fails after BYTES of an image; no application after"},
    {"power-loss-store", "POS", "power fails on the next parameter store, before it is kept"},
    {"set-not-kept", "POS[:TYPE]",
        "sets of axis parameter TYPE (of any but the password) are confirmed, the old value kept"},
    {"restart", "POS:MS", "off the bus for MS after INIT->BOOT and BOOT->INIT, address cleared"},
    {"foe-stall", "POS:BYTES", "the FoE download gets no answer after BYTES"},
    {"foe-error", "POS:CODE[:BYTES]",
        "FoE ERROR after BYTES (0): disk-full, packet-number, not-bootstrap or a number"},
    {"foe-busy", "POS:TIMES", "the FoE server answers BUSY TIMES times"},
};

unsigned long number(const std::string& text, const std::string& what)
{
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used, 0);
        if (used == text.size())
            return value;
    } catch (const std::exception&) {}
    throw std::invalid_argument(what + " is not a number: \"" + text + "\"");
}

Args split(const std::string& spec)
{
    Args parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t colon = spec.find(':', from);
        parts.push_back(spec.substr(from, colon - from));
        if (colon == std::string::npos)
            return parts;
        from = colon + 1;
    }
}

AlState stateNamed(const std::string& name)
{
    static const std::map<std::string, AlState> states
        = {{"init", AlState::Init}, {"preop", AlState::PreOp}, {"boot", AlState::Boot},
            {"safeop", AlState::SafeOp}, {"op", AlState::Op}};
    const auto it = states.find(name);
    if (it == states.end())
        throw std::invalid_argument("unknown state \"" + name + "\"");
    return it->second;
}

std::uint32_t foeCodeNamed(const std::string& name)
{
    if (name == "disk-full")
        return foe_error::DiskFull;
    if (name == "packet-number")
        return foe_error::PacketNumberWrong;
    if (name == "not-bootstrap")
        return foe_error::NotBootstrap;
    return std::uint32_t(number(name, "FoE error code"));
}

/* The first datagram of a frame is an FPWR into a mailbox area. */
bool isMailboxWrite(const Bytes& frame)
{
    const std::size_t at = kEthernetHeader + kFrameHeader;
    if (frame.size() < at + 10)
        return false;
    const std::uint16_t offset = std::uint16_t(frame[at + 4] | frame[at + 5] << 8);
    return frame[at] == kFpwr && offset >= kMailboxArea;
}

/* A rule that gives `fate` to every n-th frame `chosen` picks (all frames when none). */
FrameRule everyNth(
    unsigned long every, FrameFate fate, std::function<bool(const Bytes&)> chosen = nullptr)
{
    if (every == 0)
        throw std::invalid_argument("EVERY must be at least 1");
    auto count = std::make_shared<unsigned long>(0);
    return [=](const Bytes& frame, std::uint64_t) {
        if (chosen && !chosen(frame))
            return FrameFate{};
        return ++*count % every == 0 ? fate : FrameFate{};
    };
}

FrameRule bursts(std::uint32_t seed)
{
    struct Burst
    {
        std::mt19937 random;
        int left = 0;
        std::uint32_t delayUs = 0;
    };
    auto burst = std::make_shared<Burst>();
    burst->random.seed(seed);
    return [burst](const Bytes&, std::uint64_t) {
        FrameFate fate;
        if (burst->left == 0 && burst->random() % 64 == 0) {
            burst->left = 2 + int(burst->random() % 6);
            burst->delayUs = 2000 + burst->random() % 18001;
        }
        if (burst->left > 0) {
            --burst->left;
            fate.delayUs = burst->delayUs;
        }
        return fate;
    };
}

/* Merges what several rules decided for one frame. */
FrameFate merge(FrameFate a, const FrameFate& b)
{
    a.loseRequest = a.loseRequest || b.loseRequest;
    a.loseReply = a.loseReply || b.loseReply;
    a.delayUs = std::max(a.delayUs, b.delayUs);
    a.copies = std::max(a.copies, b.copies);
    a.repeatRequest = a.repeatRequest || b.repeatRequest;
    a.echo = a.echo || b.echo;
    a.otherMaster = a.otherMaster || b.otherMaster;
    if (a.corruptAt < 0)
        a.corruptAt = b.corruptAt;
    return a;
}

class Installer
{
public:
    Installer(const Args& args, Chain& chain, const FaultSet::Controllers& controllers)
        : args_(args)
        , chain_(chain)
        , controllers_(controllers)
    {}

    std::size_t argCount() const { return args_.size() - 1; }

    unsigned long arg(std::size_t k, const std::string& what) const
    {
        if (k >= args_.size())
            throw std::invalid_argument(args_[0] + " needs " + what);
        return number(args_[k], what);
    }
    unsigned long arg(std::size_t k, const std::string& what, unsigned long otherwise) const
    {
        return k < args_.size() ? number(args_[k], what) : otherwise;
    }
    const std::string& text(std::size_t k, const std::string& what) const
    {
        if (k >= args_.size())
            throw std::invalid_argument(args_[0] + " needs " + what);
        return args_[k];
    }

    Slave& slave() const
    {
        const unsigned long position = arg(1, "a bus position");
        if (position < 1 || position > chain_.size())
            throw std::invalid_argument("no slave at bus position " + args_[1]);
        return chain_.slave(position);
    }

    MotorController& controller() const
    {
        const unsigned long position = arg(1, "a bus position");
        if (position >= controllers_.size() || !controllers_[position])
            throw std::invalid_argument("no motor controller at bus position " + args_[1]);
        return *controllers_[position];
    }

    Chain& chain() const { return chain_; }

private:
    const Args& args_;
    Chain& chain_;
    const FaultSet::Controllers& controllers_;
};

/* Packets of the FoE download that BYTES cover. */
std::uint32_t packetsOf(unsigned long bytes)
{
    const std::size_t room = controller_layout::BootMailboxSize - kFoeOverhead;
    return std::uint32_t(bytes / room);
}

} // namespace

const std::vector<FaultDescription>& faultCatalogue()
{
    return catalogue;
}

void FaultSet::install(const std::string& spec, Chain& chain, const Controllers& controllers)
{
    const Args args = split(spec);
    const std::string& name = args[0];
    const Installer in(args, chain, controllers);
    FrameFate fate;

    if (name == "drop-every") {
        chain.faults().dropEvery = int(in.arg(1, "N"));
    } else if (name == "drop-random") {
        chain.faults().lossPerMille = int(std::min(1000ul, in.arg(1, "PERMILLE")));
        chain.faults().lossSeed = std::uint32_t(in.arg(2, "SEED", 1));
    } else if (name == "late") {
        fate.delayUs = std::uint32_t(in.arg(2, "US"));
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate));
    } else if (name == "duplicate") {
        fate.copies = 2;
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate));
    } else if (name == "corrupt") {
        fate.corruptAt = int(in.arg(2, "OFFSET"));
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate));
    } else if (name == "burst") {
        rules_.push_back(bursts(std::uint32_t(in.arg(1, "SEED", 1))));
    } else if (name == "other-master") {
        fate.otherMaster = true;
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate));
    } else if (name == "echo") {
        fate.echo = true;
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate));
    } else if (name == "write-twice") {
        fate.repeatRequest = true;
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate, isMailboxWrite));
    } else if (name == "write-reply-lost") {
        fate.loseReply = true;
        rules_.push_back(everyNth(in.arg(1, "EVERY"), fate, isMailboxWrite));
    } else if (name == "crc" || name == "link-flap") {
        in.slave();
        const unsigned long port = in.arg(2, "a PORT");
        if (port > 3)
            throw std::invalid_argument("PORT must be 0 to 3");
        if (name == "crc")
            chain.setCrcErrors(in.arg(1, "a bus position"), int(port),
                int(std::min(1000ul, in.arg(3, "PERMILLE"))));
        else
            chain.setLinkFlap(in.arg(1, "a bus position"), int(port),
                std::max(1ul, in.arg(3, "MS")) * 1000, kFlapUpUs);
    } else if (name == "refuse-state") {
        in.slave().alFaults().refuse = stateNamed(in.text(2, "a STATE"));
        in.slave().alFaults().refuseCode = std::uint16_t(in.arg(3, "CODE"));
    } else if (name == "boot-refused") {
        in.slave().alFaults().refuse = AlState::Boot;
        in.slave().alFaults().refuseCode = alcode::InvalidStateChange;
    } else if (name == "sticky-error") {
        in.slave().alFaults().ignoreAcks = int(in.arg(2, "N", 1));
    } else if (name == "silent-mailbox") {
        in.slave().mailboxFaults().neverAnswer = true;
    } else if (name == "repeat-counter") {
        in.slave().mailboxFaults().repeatCounter = int(in.arg(2, "N", 1));
    } else if (name == "eeprom-busy") {
        in.slave().eepromFaults().stayBusy = true;
    } else if (name == "eeprom-refuse") {
        in.slave().eepromFaults().refuseCommands = int(in.arg(2, "N", 1));
    } else if (name == "sii-length") {
        // Word 0x40 starts the categories; word 0x41 is the first one's length in words.
        Bytes& image = in.slave().esc().eeprom().image();
        if (image.size() > 0x83) {
            image[0x82] = 0xFF;
            image[0x83] = 0x7F;
        }
    } else if (name == "unplug") {
        in.slave().setOnline(false);
    } else if (name == "extra-slaves") {
        const unsigned long n = in.arg(1, "N");
        for (unsigned long k = 0; k < n; ++k)
            chain.add(makePlainSlave(chain.size() + 1, false));
    } else if (name == "command-silent" || name == "emergency-only" || name == "power-loss-store") {
        CommandFaults faults = in.controller().commands().faults();
        faults.noReply = faults.noReply || name == "command-silent";
        faults.emergenciesOnly = faults.emergenciesOnly || name == "emergency-only";
        faults.powerLossOnStore = faults.powerLossOnStore || name == "power-loss-store";
        in.controller().commands().setFaults(faults);
    } else if (name == "set-not-kept") {
        CommandFaults faults = in.controller().commands().faults();
        faults.setNotKept = true;
        faults.setNotKeptType = -1;
        if (in.argCount() >= 2) {
            const unsigned long type = in.arg(2, "TYPE");
            if (type > 255)
                throw std::invalid_argument("TYPE must be an axis parameter from 0 to 255");
            faults.setNotKeptType = int(type);
        }
        in.controller().commands().setFaults(faults);
    } else if (name == "stale-emergency") {
        in.controller().faults().staleEmergency = true;
    } else if (name == "power-loss") {
        in.controller().faults().powerLossAtByte = std::max(1ul, in.arg(2, "BYTES"));
    } else if (name == "restart") {
        in.controller().faults().restartUs = in.arg(2, "MS") * 1000;
    } else if (name == "foe-stall") {
        in.controller().foe().stallAfterPacket(packetsOf(in.arg(2, "BYTES")));
    } else if (name == "foe-error") {
        const std::uint32_t code = foeCodeNamed(in.text(2, "a CODE"));
        in.controller().foe().breakOffAfterPacket(
            packetsOf(in.arg(3, "BYTES", 0)), code, "fault " + in.text(2, "a CODE"));
    } else if (name == "foe-busy") {
        in.controller().foe().answerBusy(unsigned(in.arg(2, "TIMES")));
    } else {
        throw std::invalid_argument("unknown fault \"" + name + "\"");
    }
}

FrameRule FaultSet::frameRule() const
{
    if (rules_.empty())
        return nullptr;
    std::vector<FrameRule> rules = rules_;
    return [rules](const Bytes& frame, std::uint64_t sequence) {
        FrameFate fate;
        for (const FrameRule& rule : rules)
            fate = merge(fate, rule(frame, sequence));
        return fate;
    };
}

} // namespace sim
