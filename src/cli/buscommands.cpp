// The diagnostics of zuvianctl: the master's own services on an enumerated bus (slaves and their
// states, the SII EEPROM, SDO and FoE transfers, ESC registers), for a technician who needs to see
// more than the three jobs show.
#include "commands.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "BusSession.h"
#include "LinkDiagnosis.h"
#include "RobotLayout.h"
#include "writefirmware.h"

#include "ethercatbase.h"
#include "ethercatcoe.h"
#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "eclink.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "ethercatprint.h"
#include "ethercatprocessdata.h"
#include "ethercatsoe.h"
#include "nicdrv.h"

namespace cli {

namespace {

// Register reads are short: one datagram carries them whole.
const int maxRegisterLength = 1024;
// An SDO value this tool reads or writes fits one segmented transfer into this buffer.
const int maxSdoSize = 4096;
const int foeTimeout = 5000000;
const int sdoTimeout = EC_TIMEOUT_MBXRX;
// SII word addresses as the master names them; the serial number, which the master does not read,
// follows the revision.
const int siiVendor = ECT_SII_MANUF, siiProduct = ECT_SII_ID, siiRevision = ECT_SII_REV;
const int siiSerial = ECT_SII_REV + 2;
const int siiBootRx = ECT_SII_BOOTRXMBX, siiStdRx = ECT_SII_RXMBXADR;
const int siiProtocols = ECT_SII_MBXPROTO, siiCategories = ECT_SII_START / 2;
const int siiEnd = ECT_SII_END;
// The SII's mailbox protocol word has bit n - 1 set for mailbox type n.
const unsigned protocolCoe = 1u << (ECT_MBXT_COE - 1), protocolFoe = 1u << (ECT_MBXT_FOE - 1),
               protocolSoe = 1u << (ECT_MBXT_SOE - 1);
// The firmware writer's waits: a controller may restart between application and boot loader.
const int initTimeout = WriteFirmware::InitTimeout;
const int bootTimeout = WriteFirmware::BootTimeout;
const int eepromTimeout = WriteFirmware::EepromTimeout;
// Cycles of process data exchanged while a slave is asked for OP: it wants valid outputs first.
const int opCycles = 200;
const int cycleTimeout = 2000;

// One diagnostic session: the bus session taken, the port opened and the slaves enumerated to
// PRE-OP; the port is closed again when this goes out of scope.
class Session
{
public:
    explicit Session(const Context& context)
        : context_(context)
        , lock_(context.interface())
    {}
    ~Session()
    {
        if (opened_)
            ec_close();
    }

    // Returns an empty text when the bus is up, or why it is not.
    std::string open()
    {
        if (!lock_.held())
            return str(lock_.refusal());
        if (ec_init(context_.eth.c_str()) <= 0)
            return str(LinkDiagnosis::explain(context_.interface(), false));
        opened_ = true;
        readStatesBefore();
        const int found = ec_config_init(FALSE);
        if (found == EC_SIIFAILED)
            return "the EEPROM of a slave could not be read";
        if (found == EC_TOOMANYSLAVES)
            return "more slaves on the bus than the master can hold";
        if (found <= 0)
            return str(LinkDiagnosis::explain(context_.interface(), true));
        return std::string();
    }

    // The AL state `slave` was in before this session's enumeration took every slave to INIT,
    // or 0 when it did not answer.
    int stateBefore(int slave) const
    {
        return slave >= 1 && slave < EC_MAXSLAVE ? before_[slave] : 0;
    }

    // As open, and then checkSlave unless `slave` is 0 (all slaves).
    std::string openFor(int slave)
    {
        std::string problem = open();
        if (problem.empty() && slave != 0)
            problem = checkSlave(slave);
        return problem;
    }

    // Returns an empty text when `slave` is on the bus, or the message that says it is not.
    static std::string checkSlave(int slave)
    {
        if (slave >= 1 && slave <= ec_slavecount)
            return std::string();
        return "slave " + std::to_string(slave) + " is not on the bus (it has "
            + std::to_string(ec_slavecount) + " slaves)";
    }

private:
    // The enumeration resets every slave to INIT; a slave that a command left in BOOT must be
    // found there again, so its state is read by position first.
    void readStatesBefore()
    {
        std::fill(std::begin(before_), std::end(before_), 0);
        for (int s = 1; s < EC_MAXSLAVE; ++s) {
            uint8 status[2] = {0, 0};
            if (ec_APRD(uint16(1 - s), ECT_REG_ALSTAT, sizeof status, status, EC_TIMEOUT_REPLY)
                <= 0)
                break;
            before_[s] = status[0] & 0x0F;
        }
    }

    const Context& context_;
    BusSession::Lock lock_;
    bool opened_ = false;
    int before_[EC_MAXSLAVE] = {};
};

std::string where(const Context& context, const char* command, int slave = 0)
{
    std::string text = std::string(command) + " on " + context.eth;
    if (slave > 0)
        text += ", slave " + std::to_string(slave);
    return text;
}

std::string stateName(int state)
{
    std::string name;
    switch (state & 0x0F) {
    case EC_STATE_INIT:
        name = "INIT";
        break;
    case EC_STATE_PRE_OP:
        name = "PRE-OP";
        break;
    case EC_STATE_BOOT:
        name = "BOOT";
        break;
    case EC_STATE_SAFE_OP:
        name = "SAFE-OP";
        break;
    case EC_STATE_OPERATIONAL:
        name = "OP";
        break;
    default:
        name = "NONE";
    }
    if (state & EC_STATE_ERROR)
        name += "+ERROR";
    return name;
}

std::string hex(const uint8* data, int length)
{
    std::string text;
    char byte[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        text += byte;
    }
    return text;
}

std::string hexNumber(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

nlohmann::json slaveJson(int s)
{
    const ec_slavet& slave = ec_slave[s];
    return {{"position", s}, {"name", slave.name}, {"vendor", slave.eep_man},
        {"product", slave.eep_id}, {"revision", slave.eep_rev}, {"state", stateName(slave.state)},
        {"alStatusCode", slave.ALstatuscode},
        {"alStatus", ec_ALstatuscode2string(slave.ALstatuscode)}, {"mailboxWrite", slave.mbx_l},
        {"mailboxRead", slave.mbx_rl}};
}

// Returns the value the master's SII cache holds at word `word`.
unsigned siiWord(int slave, int word)
{
    return ec_siigetbyte(uint16(slave), uint16(word * 2))
        | (unsigned(ec_siigetbyte(uint16(slave), uint16(word * 2 + 1))) << 8);
}

unsigned siiLong(int slave, int word)
{
    return siiWord(slave, word) | (siiWord(slave, word + 1) << 16);
}

const char* categoryName(unsigned type)
{
    switch (type) {
    case 10:
        return "strings";
    case 20:
        return "data types";
    case 30:
        return "general";
    case 40:
        return "FMMU";
    case 41:
        return "SyncManager";
    case 50:
        return "TxPDO";
    case 51:
        return "RxPDO";
    case 60:
        return "distributed clocks";
    default:
        return "other";
    }
}

std::string slaveName(int s)
{
    return "slave " + std::to_string(s) + " (" + ec_slave[s].name + ")";
}

std::string alStatus(uint16 code)
{
    char text[EC_MAXERRORNAME + 16];
    return std::string("AL status code ") + ec_ALstatuscode2text(code, text, sizeof text);
}

// What the master's error list holds on a failed mailbox service, popped entry by entry: the
// SDO abort code or SoE error code with its text, an emergency, or an answer that was no valid
// packet. Empty when the list holds nothing.
std::string mailboxErrors()
{
    std::string text;
    ec_errort error;
    while (ec_poperror(&error)) {
        std::string entry;
        switch (error.Etype) {
        case EC_ERR_TYPE_SDO_ERROR:
            entry = "abort code " + hexNumber(uint32(error.AbortCode), 8) + " ("
                + ec_sdoerror2string(uint32(error.AbortCode)) + ")";
            break;
        case EC_ERR_TYPE_SDOINFO_ERROR:
            entry = "SDO information abort code " + hexNumber(uint32(error.AbortCode), 8) + " ("
                + ec_sdoerror2string(uint32(error.AbortCode)) + ")";
            break;
        case EC_ERR_TYPE_EMERGENCY:
            entry = "emergency " + hexNumber(error.ErrorCode, 4) + ", error register "
                + hexNumber(error.ErrorReg, 2);
            break;
        case EC_ERR_TYPE_SOE_ERROR:
            entry = "SoE error " + hexNumber(error.ErrorCode, 4) + " ("
                + ec_soeerror2string(error.ErrorCode) + ")";
            break;
        case EC_ERR_TYPE_PACKET_ERROR:
            entry = "the answer was no valid packet (code " + std::to_string(error.AbortCode) + ")";
            break;
        default:
            entry = "error of type " + std::to_string(int(error.Etype)) + ", code "
                + hexNumber(uint32(error.AbortCode), 8);
        }
        text += (text.empty() ? "" : "; ") + entry;
    }
    return text;
}

// Returns why `slave` cannot take a `protocol` service as its SII describes it, or an empty text.
std::string lacksMailbox(int slave, unsigned protocol, const char* name)
{
    if (ec_slave[slave].mbx_l == 0)
        return slaveName(slave) + " has no mailbox, so no " + name + " (its SII describes none)";
    if ((ec_slave[slave].mbx_proto & protocol) == 0)
        return slaveName(slave) + " has no " + name + " mailbox (its SII offers protocols "
            + hexNumber(ec_slave[slave].mbx_proto, 4) + ")";
    return std::string();
}

// FoE error codes as the protocol names them.
const char* foeErrorText(uint32 code)
{
    static const std::pair<uint32, const char*> texts[]
        = {{0x8000, "Not defined"}, {0x8001, "Not found"}, {0x8002, "Access denied"},
            {0x8003, "Disk full"}, {0x8004, "Illegal"}, {0x8005, "Packet number wrong"},
            {0x8006, "Already exists"}, {0x8007, "No user"}, {0x8008, "Bootstrap only"},
            {0x8009, "Not bootstrap"}, {0x800A, "No rights"}, {0x800B, "Program error"}};
    for (const auto& text : texts)
        if (text.first == code)
            return text.second;
    return "Unknown";
}

// The master returns an FoE error answer as -5 only and does not read its code or text. This
// watches the frames coming in over the master's link while one transfer runs and keeps the last
// FoE error message the slave's mailbox held, so the command can say what the slave said.
class FoeErrorWatch
{
public:
    explicit FoeErrorWatch(int slave)
        : slave_(slave)
    {
        inner_ = *ec_link();
        const ec_linkt watching
            = {this, &FoeErrorWatch::open, &FoeErrorWatch::send, &FoeErrorWatch::recv,
                &FoeErrorWatch::close, inner_.wait ? &FoeErrorWatch::wait : nullptr};
        ec_setlink(&watching);
    }
    ~FoeErrorWatch() { ec_setlink(&inner_); }
    FoeErrorWatch(const FoeErrorWatch&) = delete;
    FoeErrorWatch& operator=(const FoeErrorWatch&) = delete;

    bool seen() const { return seen_; }
    uint32 code() const { return code_; }
    const std::string& text() const { return text_; }

    // What a failed transfer's result means, with the slave's own words when it sent an error.
    std::string explain(int result) const
    {
        switch (result) {
        case -EC_ERR_TYPE_FOE_ERROR:
            if (seen_)
                return "the slave answered with FoE error " + hexNumber(code_, 8) + " ("
                    + foeErrorText(code_) + ")" + (text_.empty() ? "" : ": \"" + text_ + "\"");
            return "the slave answered with an FoE error";
        case -EC_ERR_TYPE_PACKET_ERROR:
            return "the slave's answer was no FoE packet the transfer expected (or it stayed busy)";
        case -EC_ERR_TYPE_FOE_BUF2SMALL:
            return "a packet came out of order or the file does not fit the buffer";
        case -EC_ERR_TYPE_FOE_PACKETNUMBER:
            return "the slave acknowledged another packet than the one sent";
        default:
            return "no answer from the slave's mailbox (result " + std::to_string(result) + ")";
        }
    }

private:
    static int open(void* ctx, const char* ifname, int port)
    {
        auto* self = static_cast<FoeErrorWatch*>(ctx);
        return self->inner_.open(self->inner_.ctx, ifname, port);
    }
    static int send(void* ctx, int handle, const void* frame, int len)
    {
        auto* self = static_cast<FoeErrorWatch*>(ctx);
        return self->inner_.send(self->inner_.ctx, handle, frame, len);
    }
    static int recv(void* ctx, int handle, void* buf, int size)
    {
        auto* self = static_cast<FoeErrorWatch*>(ctx);
        const int got = self->inner_.recv(self->inner_.ctx, handle, buf, size);
        if (got > 0)
            self->inspect(static_cast<const uint8*>(buf), std::min(got, size));
        return got;
    }
    static void close(void* ctx, int handle)
    {
        auto* self = static_cast<FoeErrorWatch*>(ctx);
        self->inner_.close(self->inner_.ctx, handle);
    }
    static int wait(void* ctx, int handle, int usec)
    {
        auto* self = static_cast<FoeErrorWatch*>(ctx);
        return self->inner_.wait(self->inner_.ctx, handle, usec);
    }

    static unsigned le16(const uint8* p) { return unsigned(p[0]) | (unsigned(p[1]) << 8); }

    // Walks the frame's datagrams; every offset is checked against the frame's length.
    void inspect(const uint8* frame, int length)
    {
        const int ethernet = 14, ecatHeader = 2, datagramHeader = 10, wkcSize = 2;
        if (length < ethernet + ecatHeader || frame[12] != 0x88 || frame[13] != 0xA4)
            return;
        int at = ethernet + ecatHeader;
        while (at + datagramHeader <= length) {
            const uint8* d = frame + at;
            const unsigned command = d[0];
            const unsigned adp = le16(d + 2);
            const unsigned ado = le16(d + 4);
            const int dataLength = int(le16(d + 6) & 0x07FF);
            const bool more = (le16(d + 6) & 0x8000) != 0;
            if (at + datagramHeader + dataLength + wkcSize > length)
                return;
            const uint8* data = d + datagramHeader;
            const unsigned wkc = le16(data + dataLength);
            const ec_slavet& slave = ec_slave[slave_];
            if (command == EC_CMD_FPRD && adp == slave.configadr && ado == slave.mbx_ro && wkc > 0)
                mailbox(data, dataLength);
            if (!more)
                return;
            at += datagramHeader + dataLength + wkcSize;
        }
    }

    // One mailbox as read from the slave: an FoE error message keeps its code and text.
    void mailbox(const uint8* data, int length)
    {
        const int header = 6, foeHeader = 6;
        if (length < header + foeHeader)
            return;
        const int declared = int(le16(data));
        if ((data[5] & 0x0F) != ECT_MBXT_FOE || data[6] != ECT_FOE_ERROR || declared < foeHeader)
            return;
        seen_ = true;
        code_ = uint32(le16(data + 8)) | (uint32(le16(data + 10)) << 16);
        const int textEnd = std::min(length, header + declared);
        text_.clear();
        for (int i = header + foeHeader; i < textEnd && data[i] != 0; ++i)
            text_ += (data[i] >= 0x20 && data[i] < 0x7F) ? char(data[i]) : '?';
    }

    const int slave_;
    ec_linkt inner_{};
    bool seen_ = false;
    uint32 code_ = 0;
    std::string text_;
};

// Brings `slave` to BOOT as the firmware writer does: INIT with its error acknowledged, the
// bootstrap mailbox of its SII programmed into SyncManagers 0 and 1 and the slave table, then the
// BOOT request. Returns an empty text, or why the slave is not in BOOT.
std::string toBoot(int slave)
{
    ec_slavet& s = ec_slave[slave];
    for (int attempt = 0; attempt < 3; ++attempt) {
        s.state = EC_STATE_INIT | EC_STATE_ACK;
        ec_writestate(uint16(slave));
        ec_statecheck_recover(
            uint16(slave), EC_STATE_INIT, initTimeout, EC_TIMEOUT_RESTART, nullptr, nullptr);
        if ((s.state & EC_STATE_ERROR) == 0)
            break;
    }
    if ((s.state & 0x0F) != EC_STATE_INIT)
        return slaveName(slave) + " did not reach INIT on the way to BOOT (it is in "
            + stateName(s.state) + ", " + alStatus(s.ALstatuscode) + ")";
    const uint32 out = ec_readeeprom(uint16(slave), ECT_SII_BOOTRXMBX, eepromTimeout);
    const uint32 in = ec_readeeprom(uint16(slave), ECT_SII_BOOTTXMBX, eepromTimeout);
    const uint16 outStart = uint16(out & 0xFFFF), outLength = uint16(out >> 16);
    const uint16 inStart = uint16(in & 0xFFFF), inLength = uint16(in >> 16);
    if (outLength == 0 || inLength == 0 || !ec_mbxwindowok(outStart, outLength)
        || !ec_mbxwindowok(inStart, inLength))
        return slaveName(slave) + " has no bootstrap mailbox in its SII, so no BOOT";
    s.SM[0].StartAddr = outStart;
    s.SM[0].SMlength = outLength;
    s.SM[1].StartAddr = inStart;
    s.SM[1].SMlength = inLength;
    s.mbx_wo = outStart;
    s.mbx_l = outLength;
    s.mbx_ro = inStart;
    s.mbx_rl = inLength;
    ec_FPWR(s.configadr, ECT_REG_SM0, sizeof(ec_smt), &s.SM[0], EC_TIMEOUT_FRAME);
    ec_FPWR(s.configadr, ECT_REG_SM1, sizeof(ec_smt), &s.SM[1], EC_TIMEOUT_FRAME);
    s.state = EC_STATE_BOOT;
    ec_writestate(uint16(slave));
    const uint16 reached = ec_statecheck_recover(
        uint16(slave), EC_STATE_BOOT, bootTimeout, EC_TIMEOUT_RESTART, nullptr, nullptr);
    if (reached == EC_STATE_BOOT)
        return std::string();
    const std::string why = slaveName(slave) + " refused BOOT: it is in " + stateName(s.state)
        + ", " + alStatus(s.ALstatuscode);
    // The refusal leaves the error flag set; acknowledged, the slave is back in a clean INIT.
    s.state = EC_STATE_INIT | EC_STATE_ACK;
    ec_writestate(uint16(slave));
    ec_statecheck(uint16(slave), EC_STATE_INIT, EC_TIMEOUT_STATECHANGE);
    return why + "; it is left in INIT";
}

// The slaves `slave` names (0: all), by position.
std::vector<int> chosen(int slave)
{
    std::vector<int> list;
    for (int s = 1; s <= ec_slavecount; ++s)
        if (slave == 0 || s == slave)
            list.push_back(s);
    return list;
}

// "OP: 1-11, 13; SAFE-OP+ERROR: 12": where each of the slaves stands, as read last.
std::string standing(const std::vector<int>& slaves)
{
    std::vector<std::pair<std::string, std::string>> groups;
    for (int s : slaves) {
        const std::string state = stateName(ec_slave[s].state);
        auto group = std::find_if(
            groups.begin(), groups.end(), [&state](const auto& g) { return g.first == state; });
        if (group == groups.end()) {
            groups.push_back({state, std::to_string(s)});
            continue;
        }
        group->second += ", " + std::to_string(s);
    }
    std::string text;
    for (const auto& group : groups)
        text += (text.empty() ? "" : "; ") + group.first + ": " + group.second;
    return text;
}

}

Result slaves(Context& context)
{
    Session session(context);
    const std::string problem = session.open();
    if (!problem.empty())
        return failure(where(context, "slaves") + ": " + problem);
    ec_readstate();
    nlohmann::json list = nlohmann::json::array();
    Result result;
    for (int s = 1; s <= ec_slavecount; ++s) {
        list.push_back(slaveJson(s));
        const ec_slavet& slave = ec_slave[s];
        result.text += std::to_string(s) + "  " + slave.name + "  vendor "
            + hexNumber(slave.eep_man, 8) + " product " + hexNumber(slave.eep_id, 8) + " revision "
            + hexNumber(slave.eep_rev, 8) + "  " + stateName(slave.state) + "  AL status "
            + hexNumber(slave.ALstatuscode, 4) + " (" + ec_ALstatuscode2string(slave.ALstatuscode)
            + ")  mailbox " + std::to_string(slave.mbx_l) + "/" + std::to_string(slave.mbx_rl)
            + '\n';
    }
    result.doc = {{"command", "slaves"}, {"interface", context.eth}, {"slaves", list}};
    return result;
}

Result states(Context& context, int slave, const std::string& state)
{
    static const std::pair<const char*, int> names[]
        = {{"init", EC_STATE_INIT}, {"preop", EC_STATE_PRE_OP}, {"boot", EC_STATE_BOOT},
            {"safeop", EC_STATE_SAFE_OP}, {"op", EC_STATE_OPERATIONAL}};
    int wanted = 0;
    for (const auto& name : names)
        if (state == name.first)
            wanted = name.second;
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "states", slave) + ": " + problem);
    const std::vector<int> slaves = chosen(slave);

    // The enumeration left the slaves in PRE-OP. BOOT is reached only from INIT, with the
    // bootstrap mailbox, one slave after the other; SAFE-OP needs the process data mapped, and OP
    // is granted only while valid outputs arrive, so process data runs during the wait.
    std::vector<std::string> refusals;
    if (wanted == EC_STATE_BOOT) {
        for (int s : slaves) {
            const std::string why = toBoot(s);
            if (!why.empty())
                refusals.push_back(why);
        }
    } else {
        static uint8 ioMap[EC_IOMAPSIZE];
        if (wanted == EC_STATE_SAFE_OP || wanted == EC_STATE_OPERATIONAL)
            ec_config_map(ioMap);
        const int first = wanted == EC_STATE_OPERATIONAL ? EC_STATE_SAFE_OP : wanted;
        ec_slave[slave].state = uint16(first);
        ec_writestate(uint16(slave));
        uint16 reached = ec_statecheck(uint16(slave), uint16(first), EC_TIMEOUT_STATECHANGE);
        if (wanted == EC_STATE_OPERATIONAL && reached == EC_STATE_SAFE_OP) {
            ec_send_processdata();
            ec_receive_processdata(EC_TIMEOUT_REPLY);
            ec_slave[slave].state = EC_STATE_OPERATIONAL;
            ec_writestate(uint16(slave));
            for (int cycle = 0; cycle < opCycles && reached != EC_STATE_OPERATIONAL; ++cycle) {
                ec_send_processdata();
                ec_receive_processdata(EC_TIMEOUT_REPLY);
                reached = ec_statecheck(uint16(slave), EC_STATE_OPERATIONAL, cycleTimeout);
            }
        }
        ec_readstate();
        for (int s : slaves) {
            if ((ec_slave[s].state & 0x0F) == wanted && !(ec_slave[s].state & EC_STATE_ERROR))
                continue;
            refusals.push_back(slaveName(s) + " refused " + stateName(wanted) + ": it is in "
                + stateName(ec_slave[s].state) + ", " + alStatus(ec_slave[s].ALstatuscode));
        }
        // A refusal leaves the error flag set, and a slave with it takes no request: each is
        // acknowledged, so the bus is left in the states named below and ready for the next one.
        for (int s : slaves) {
            if (!(ec_slave[s].state & EC_STATE_ERROR))
                continue;
            ec_slave[s].state = uint16((ec_slave[s].state & 0x0F) | EC_STATE_ACK);
            ec_writestate(uint16(s));
            ec_statecheck(uint16(s), ec_slave[s].state & 0x0F, EC_TIMEOUT_STATECHANGE);
        }
    }
    ec_readstate();

    nlohmann::json list = nlohmann::json::array();
    Result result;
    for (int s : slaves) {
        list.push_back(slaveJson(s));
        result.text += std::to_string(s) + "  " + ec_slave[s].name + "  "
            + stateName(ec_slave[s].state) + "  AL status " + hexNumber(ec_slave[s].ALstatuscode, 4)
            + " (" + ec_ALstatuscode2string(ec_slave[s].ALstatuscode) + ")\n";
    }
    nlohmann::json refused = nlohmann::json::array();
    for (const std::string& why : refusals)
        refused.push_back(why);
    result.doc = {{"command", "states"}, {"interface", context.eth},
        {"requested", stateName(wanted)}, {"reached", refusals.empty()}, {"refusals", refused},
        {"left", standing(slaves)}, {"slaves", list}};
    if (!refusals.empty()) {
        std::string why;
        for (const std::string& refusal : refusals)
            why += (why.empty() ? "" : "; ") + refusal;
        result.status = Failed;
        result.error = where(context, "states", slave) + ": " + stateName(wanted)
            + " was not reached: " + why + ". The bus is left in " + standing(slaves);
        result.doc["error"] = result.error;
    }
    return result;
}

Result sii(Context& context, int slave)
{
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "sii", slave) + ": " + problem);
    if (esifailed[slave])
        return failure(where(context, "sii", slave) + ": the EEPROM could not be read");

    nlohmann::json categories = nlohmann::json::array();
    std::string text = "slave " + std::to_string(slave) + " " + ec_slave[slave].name + '\n';
    text += "vendor " + hexNumber(siiLong(slave, siiVendor), 8) + " product "
        + hexNumber(siiLong(slave, siiProduct), 8) + " revision "
        + hexNumber(siiLong(slave, siiRevision), 8) + " serial "
        + hexNumber(siiLong(slave, siiSerial), 8) + '\n';
    text += "bootstrap mailbox out " + hexNumber(siiWord(slave, siiBootRx), 4) + "/"
        + std::to_string(siiWord(slave, siiBootRx + 1)) + " in "
        + hexNumber(siiWord(slave, siiBootRx + 2), 4) + "/"
        + std::to_string(siiWord(slave, siiBootRx + 3)) + "; standard mailbox out "
        + hexNumber(siiWord(slave, siiStdRx), 4) + "/"
        + std::to_string(siiWord(slave, siiStdRx + 1)) + " in "
        + hexNumber(siiWord(slave, siiStdRx + 2), 4) + "/"
        + std::to_string(siiWord(slave, siiStdRx + 3)) + "; protocols "
        + hexNumber(siiWord(slave, siiProtocols), 4) + '\n';
    // The categories follow one another up to the end marker; the cache ends the walk, so a chain
    // of lengths that points outside it stops there.
    std::vector<uint8> dump;
    int word = siiCategories;
    while (word * 2 + 4 <= EC_MAXEEPBUF) {
        const unsigned type = siiWord(slave, word);
        if (type == siiEnd)
            break;
        const unsigned length = siiWord(slave, word + 1);
        categories.push_back(
            {{"type", type}, {"name", categoryName(type)}, {"word", word}, {"words", length}});
        text += "category " + std::to_string(type) + " (" + categoryName(type) + ") at word "
            + hexNumber(unsigned(word), 4) + ", " + std::to_string(length) + " words\n";
        word += 2 + int(length);
    }
    const int dumpBytes = std::min(word * 2 + 2, EC_MAXEEPBUF);
    for (int i = 0; i < dumpBytes; ++i)
        dump.push_back(ec_siigetbyte(uint16(slave), uint16(i)));
    for (int i = 0; i < dumpBytes; i += 16)
        text += hexNumber(unsigned(i), 4) + "  " + hex(dump.data() + i, std::min(16, dumpBytes - i))
            + '\n';

    Result result;
    result.text = text;
    result.doc = {{"command", "sii"}, {"interface", context.eth}, {"slave", slave},
        {"name", ec_slave[slave].name}, {"vendor", siiLong(slave, siiVendor)},
        {"product", siiLong(slave, siiProduct)}, {"revision", siiLong(slave, siiRevision)},
        {"serial", siiLong(slave, siiSerial)}, {"protocols", siiWord(slave, siiProtocols)},
        {"categories", categories}, {"dump", hex(dump.data(), int(dump.size()))}};
    return result;
}

Result sdoRead(Context& context, int slave, int index, int subindex)
{
    Session session(context);
    std::string problem = session.openFor(slave);
    if (problem.empty())
        problem = lacksMailbox(slave, protocolCoe, "CoE");
    if (!problem.empty())
        return failure(where(context, "sdo-read", slave) + ": " + problem);
    static uint8 data[maxSdoSize];
    int size = sizeof data;
    mailboxErrors(); // what an earlier service left is not this read's reason
    const int wkc
        = ec_SDOread(uint16(slave), uint16(index), uint8(subindex), FALSE, &size, data, sdoTimeout);
    const std::string object = hexNumber(unsigned(index), 4) + ":" + std::to_string(subindex);
    if (wkc <= 0) {
        const std::string why = mailboxErrors();
        return failure(where(context, "sdo-read", slave) + ": " + object
            + " not read: " + (why.empty() ? "no answer from the slave's mailbox" : why));
    }
    size = std::clamp(size, 0, int(sizeof data));
    Result result;
    result.text = object + " = " + hex(data, size) + '\n';
    result.doc = {{"command", "sdo-read"}, {"interface", context.eth}, {"slave", slave},
        {"index", index}, {"subindex", subindex}, {"size", size}, {"data", hex(data, size)}};
    return result;
}

Result sdoWrite(Context& context, int slave, int index, int subindex, const std::string& value)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(value));
    const QByteArray text = QByteArray::fromStdString(value).toLower();
    if (value.empty() || value.size() % 2 != 0 || bytes.toHex() != text
        || bytes.size() > maxSdoSize) {
        return usageError("sdo-write: the value must be 1 to " + std::to_string(maxSdoSize)
            + " bytes in hexadecimal, least significant first (for example e803)");
    }
    Session session(context);
    std::string problem = session.openFor(slave);
    if (problem.empty())
        problem = lacksMailbox(slave, protocolCoe, "CoE");
    if (!problem.empty())
        return failure(where(context, "sdo-write", slave) + ": " + problem);
    QByteArray data = bytes;
    mailboxErrors();
    const int wkc = ec_SDOwrite(uint16(slave), uint16(index), uint8(subindex), FALSE,
        int(data.size()), data.data(), sdoTimeout);
    const std::string object = hexNumber(unsigned(index), 4) + ":" + std::to_string(subindex);
    if (wkc <= 0) {
        const std::string why = mailboxErrors();
        return failure(where(context, "sdo-write", slave) + ": " + object
            + " not written: " + (why.empty() ? "no answer from the slave's mailbox" : why));
    }
    Result result;
    result.text = object + " written\n";
    result.doc = {{"command", "sdo-write"}, {"interface", context.eth}, {"slave", slave},
        {"index", index}, {"subindex", subindex}, {"size", data.size()}};
    return result;
}

namespace {

// Opens the session for an FoE transfer with `slave`. A slave found in BOOT (where "states boot"
// left it, and where boot loaders take files) is returned there through its bootstrap mailbox,
// since the enumeration took it out; any other slave is used as the enumeration left it.
// Returns an empty text, or why the transfer cannot begin; `inBoot` tells which way it goes.
std::string openForFoe(Session& session, int slave, bool& inBoot)
{
    std::string problem = session.openFor(slave);
    if (!problem.empty())
        return problem;
    inBoot = session.stateBefore(slave) == EC_STATE_BOOT;
    if (inBoot)
        return toBoot(slave);
    return lacksMailbox(slave, protocolFoe, "FoE");
}

std::string foeWhere(const Context& context, const char* command, int slave, bool inBoot)
{
    return where(context, command, slave) + (inBoot ? " (in BOOT)" : "");
}

}

Result foeRead(Context& context, int slave, const std::string& name, const std::string& output,
    unsigned password)
{
    Session session(context);
    bool inBoot = false;
    const std::string problem = openForFoe(session, slave, inBoot);
    if (!problem.empty())
        return failure(foeWhere(context, "foe-read", slave, inBoot) + ": " + problem);
    static uint8 data[WriteFirmware::FileBufferSize];
    int size = sizeof data;
    std::vector<char> fileName(name.begin(), name.end());
    fileName.push_back('\0');
    int result = 0;
    std::string why;
    {
        FoeErrorWatch watch(slave);
        result = ec_FOEread(uint16(slave), fileName.data(), password, &size, data, foeTimeout);
        why = watch.explain(result);
    }
    if (result <= 0)
        return failure(
            foeWhere(context, "foe-read", slave, inBoot) + ": " + name + " not read: " + why);
    size = std::clamp(size, 0, int(sizeof data));
    QSaveFile file(QString::fromStdString(output));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(reinterpret_cast<const char*>(data), size) != size || !file.commit())
        return failure("foe-read: " + output + ": " + str(file.errorString()));
    Result done;
    done.text = name + ": " + std::to_string(size) + " bytes written to " + output + '\n';
    done.doc = {{"command", "foe-read"}, {"interface", context.eth}, {"slave", slave},
        {"name", name}, {"size", size}, {"output", output}, {"boot", inBoot}};
    return done;
}

Result foeWrite(Context& context, int slave, const std::string& name, const std::string& input,
    unsigned password)
{
    // The file is read whole before the bus is touched, so a file that cannot be sent is refused
    // with nothing written.
    QFile file(QString::fromStdString(input));
    if (!file.open(QIODevice::ReadOnly))
        return failure("foe-write: " + input + ": " + str(file.errorString()));
    const QByteArray data = file.read(WriteFirmware::FileBufferSize + 1);
    if (data.size() > WriteFirmware::FileBufferSize)
        return failure("foe-write: " + input + " is larger than "
            + std::to_string(WriteFirmware::FileBufferSize) + " bytes; nothing was written");
    Session session(context);
    bool inBoot = false;
    std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "foe-write", slave) + ": " + problem);
    // A file in a motor controller's boot loader replaces its firmware: asked first.
    const QString model = QString::fromLatin1(ec_slave[slave].name);
    if (RobotLayout::modelNamed(model) != nullptr) {
        const std::string question = "Write " + input + " as \"" + name + "\" into "
            + slaveName(slave) + ", a motor controller? A wrong file leaves it without "
            + "firmware.";
        if (!confirm(context, question))
            return failure(where(context, "foe-write", slave)
                + ": not confirmed; nothing was written (give --yes to write without being "
                + "asked)");
    }
    inBoot = session.stateBefore(slave) == EC_STATE_BOOT;
    problem = inBoot ? toBoot(slave) : lacksMailbox(slave, protocolFoe, "FoE");
    if (!problem.empty())
        return failure(foeWhere(context, "foe-write", slave, inBoot) + ": " + problem);
    std::vector<char> fileName(name.begin(), name.end());
    fileName.push_back('\0');
    QByteArray buffer = data;
    int result = 0;
    std::string why;
    {
        FoeErrorWatch watch(slave);
        result = ec_FOEwrite(uint16(slave), fileName.data(), password, int(buffer.size()),
            buffer.data(), foeTimeout);
        why = watch.explain(result);
    }
    if (result <= 0)
        return failure(
            foeWhere(context, "foe-write", slave, inBoot) + ": " + name + " not written: " + why);
    Result done;
    done.text = name + ": " + std::to_string(data.size()) + " bytes written\n";
    done.doc = {{"command", "foe-write"}, {"interface", context.eth}, {"slave", slave},
        {"name", name}, {"size", data.size()}, {"boot", inBoot}};
    return done;
}

Result regRead(Context& context, int slave, int address, int length)
{
    if (length < 1 || length > maxRegisterLength || address + length > 0x10000) {
        return usageError("reg-read: the length must be 1 to " + std::to_string(maxRegisterLength)
            + " and stay below address 0x10000");
    }
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "reg-read", slave) + ": " + problem);
    static uint8 data[maxRegisterLength];
    const int wkc = ec_FPRD(
        ec_slave[slave].configadr, uint16(address), uint16(length), data, EC_TIMEOUT_REPLY);
    if (wkc <= 0)
        return failure(where(context, "reg-read", slave) + ": register "
            + hexNumber(unsigned(address), 4) + " not read");
    Result result;
    for (int i = 0; i < length; i += 16)
        result.text += hexNumber(unsigned(address + i), 4) + "  "
            + hex(data + i, std::min(16, length - i)) + '\n';
    result.doc = {{"command", "reg-read"}, {"interface", context.eth}, {"slave", slave},
        {"address", address}, {"length", length}, {"data", hex(data, length)}};
    return result;
}

namespace {

// SoE elements by the names the command line gives them.
const std::pair<const char*, uint8> soeElements[]
    = {{"value", EC_SOE_VALUE_B}, {"name", EC_SOE_NAME_B}, {"attribute", EC_SOE_ATTRIBUTE_B},
        {"unit", EC_SOE_UNIT_B}, {"min", EC_SOE_MIN_B}, {"max", EC_SOE_MAX_B},
        {"default", EC_SOE_DEFAULT_B}, {"datastate", EC_SOE_DATASTATE_B}};

uint8 soeElement(const std::string& name)
{
    for (const auto& element : soeElements)
        if (name == element.first)
            return element.second;
    return EC_SOE_VALUE_B;
}

// "S-0-0024" for the standard IDNs, "P-0-0001" for the product-specific ones (bit 15 set).
std::string idnName(unsigned idn)
{
    char text[16];
    std::snprintf(
        text, sizeof text, "%c-%u-%04u", (idn & 0x8000) ? 'P' : 'S', (idn >> 12) & 7, idn & 0x0FFF);
    return text;
}

std::string soeWhere(
    const Context& context, const char* command, int slave, unsigned idn, int drive)
{
    return where(context, command, slave) + ", drive " + std::to_string(drive) + ", "
        + idnName(idn);
}

}

Result soeRead(Context& context, int slave, int drive, int idn, const std::string& element)
{
    Session session(context);
    std::string problem = session.openFor(slave);
    if (problem.empty())
        problem = lacksMailbox(slave, protocolSoe, "SoE");
    if (!problem.empty())
        return failure(where(context, "soe-read", slave) + ": " + problem);
    static uint8 data[maxSdoSize];
    int size = sizeof data;
    mailboxErrors();
    const int wkc = ec_SoEread(
        uint16(slave), uint8(drive), soeElement(element), uint16(idn), &size, data, sdoTimeout);
    if (wkc <= 0) {
        const std::string why = mailboxErrors();
        return failure(soeWhere(context, "soe-read", slave, unsigned(idn), drive) + ": " + element
            + " not read: " + (why.empty() ? "no answer from the slave's mailbox" : why));
    }
    size = std::clamp(size, 0, int(sizeof data));
    Result result;
    result.text = idnName(unsigned(idn)) + " " + element + " = " + hex(data, size);
    result.doc = {{"command", "soe-read"}, {"interface", context.eth}, {"slave", slave},
        {"drive", drive}, {"idn", idn}, {"idnName", idnName(unsigned(idn))}, {"element", element},
        {"size", size}, {"data", hex(data, size)}};
    // A name or unit is a text, as drives send it behind its two lengths (in use, available);
    // a drive that sends the text alone is shown as well.
    if (element == "name" || element == "unit") {
        int first = 0;
        int used = size;
        if (size >= 4) {
            const int current = data[0] | (data[1] << 8);
            const int available = data[2] | (data[3] << 8);
            if (current == size - 4 && current <= available) {
                first = 4;
                used = current;
            }
        }
        std::string text;
        for (int i = first; i < first + used; ++i)
            text += (data[i] >= 0x20 && data[i] < 0x7F) ? char(data[i]) : '?';
        result.text += " (\"" + text + "\")";
        result.doc["text"] = text;
    }
    result.text += '\n';
    return result;
}

Result soeWrite(Context& context, int slave, int drive, int idn, const std::string& element,
    const std::string& value)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(value));
    if (value.empty() || value.size() % 2 != 0
        || bytes.toHex() != QByteArray::fromStdString(value).toLower() || bytes.size() > maxSdoSize)
        return usageError("soe-write: the value must be 1 to " + std::to_string(maxSdoSize)
            + " bytes in hexadecimal, least significant first (for example 78563412)");
    Session session(context);
    std::string problem = session.openFor(slave);
    if (problem.empty())
        problem = lacksMailbox(slave, protocolSoe, "SoE");
    if (!problem.empty())
        return failure(where(context, "soe-write", slave) + ": " + problem);
    QByteArray data = bytes;
    mailboxErrors();
    const int wkc = ec_SoEwrite(uint16(slave), uint8(drive), soeElement(element), uint16(idn),
        int(data.size()), data.data(), sdoTimeout);
    if (wkc <= 0) {
        const std::string why = mailboxErrors();
        return failure(soeWhere(context, "soe-write", slave, unsigned(idn), drive) + ": " + element
            + " not written: " + (why.empty() ? "no answer from the slave's mailbox" : why));
    }
    Result result;
    result.text = idnName(unsigned(idn)) + " " + element + " written\n";
    result.doc = {{"command", "soe-write"}, {"interface", context.eth}, {"slave", slave},
        {"drive", drive}, {"idn", idn}, {"idnName", idnName(unsigned(idn))}, {"element", element},
        {"size", data.size()}};
    return result;
}

Result regWrite(Context& context, int slave, int address, const std::string& value)
{
    const QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(value));
    if (value.empty() || value.size() % 2 != 0
        || bytes.toHex() != QByteArray::fromStdString(value).toLower()
        || bytes.size() > maxRegisterLength || address + bytes.size() > 0x10000)
        return usageError("reg-write: the value must be 1 to " + std::to_string(maxRegisterLength)
            + " bytes in hexadecimal, least significant first, below address 0x10000");
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "reg-write", slave) + ": " + problem);
    // A register write can stop a slave's mailbox, its process data or its link.
    const std::string question = "Write " + value + " to register "
        + hexNumber(unsigned(address), 4) + " of " + slaveName(slave) + "?";
    if (!confirm(context, question))
        return failure(where(context, "reg-write", slave)
            + ": not confirmed; nothing was written (give --yes to write without being asked)");
    QByteArray data = bytes;
    const int wkc = ec_FPWR(ec_slave[slave].configadr, uint16(address), uint16(data.size()),
        data.data(), EC_TIMEOUT_REPLY);
    if (wkc <= 0)
        return failure(where(context, "reg-write", slave) + ": register "
            + hexNumber(unsigned(address), 4) + " not written: the slave did not take it "
            + "(working counter " + std::to_string(wkc) + ")");
    Result result;
    result.text = hexNumber(unsigned(address), 4) + " written\n";
    result.doc = {{"command", "reg-write"}, {"interface", context.eth}, {"slave", slave},
        {"address", address}, {"data", value}};
    return result;
}

namespace {

// One mapped object as the slave's description gives it.
struct PdoEntry
{
    unsigned pdo = 0;
    std::string object;
    int bits = 0;
};

// The PDOs a SyncManager carries, from wherever the master took the slave's sizes.
struct SmEntries
{
    int sm = 0;
    std::vector<PdoEntry> entries;
};

std::string objectName(unsigned index, unsigned subindex)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x:%02x", index, subindex);
    return text;
}

// The CoE description: the assignment object 0x1C10+SM and each assigned PDO's mapping.
std::vector<PdoEntry> coeEntries(int slave, int sm)
{
    std::vector<PdoEntry> entries;
    uint8 count = 0;
    int size = sizeof count;
    if (ec_SDOread(uint16(slave), uint16(0x1C10 + sm), 0, FALSE, &size, &count, sdoTimeout) <= 0)
        return entries;
    for (int i = 1; i <= count; ++i) {
        uint8 pdoBytes[2] = {0, 0};
        size = sizeof pdoBytes;
        if (ec_SDOread(
                uint16(slave), uint16(0x1C10 + sm), uint8(i), FALSE, &size, pdoBytes, sdoTimeout)
            <= 0)
            continue;
        const unsigned pdo = unsigned(pdoBytes[0]) | (unsigned(pdoBytes[1]) << 8);
        uint8 mapped = 0;
        size = sizeof mapped;
        if (ec_SDOread(uint16(slave), uint16(pdo), 0, FALSE, &size, &mapped, sdoTimeout) <= 0)
            continue;
        for (int e = 1; e <= mapped; ++e) {
            uint8 entry[4] = {0, 0, 0, 0};
            size = sizeof entry;
            if (ec_SDOread(uint16(slave), uint16(pdo), uint8(e), FALSE, &size, entry, sdoTimeout)
                <= 0)
                continue;
            entries.push_back({pdo,
                objectName(unsigned(entry[2]) | (unsigned(entry[3]) << 8), entry[1]), entry[0]});
        }
    }
    return entries;
}

// The SoE description: the first word (control word out, status word in), then each IDN of the
// list that is not a list itself, with the length its attribute gives.
std::vector<PdoEntry> soeEntries(int slave, bool outputs)
{
    std::vector<PdoEntry> entries;
    static ec_SoEmappingt list;
    std::memset(&list, 0, sizeof list);
    int size = sizeof list;
    const uint16 listIdn = outputs ? EC_IDN_MDTCONFIG : EC_IDN_ATCONFIG;
    if (ec_SoEread(uint16(slave), 0, EC_SOE_VALUE_B, listIdn, &size, &list, sdoTimeout) <= 0
        || size < 4)
        return entries;
    entries.push_back({listIdn, outputs ? "control word" : "status word", 16});
    const int count = std::min({int(list.currentlength / 2), (size - 4) / 2, EC_SOE_MAXMAPPING});
    for (int i = 0; i < count; ++i) {
        ec_SoEattributet attribute;
        std::memset(&attribute, 0, sizeof attribute);
        int attributeSize = sizeof attribute;
        if (ec_SoEread(uint16(slave), 0, EC_SOE_ATTRIBUTE_B, list.idn[i], &attributeSize,
                &attribute, sdoTimeout)
                <= 0
            || attributeSize != int(sizeof attribute) || attribute.list)
            continue;
        entries.push_back({listIdn, idnName(list.idn[i]), 8 << attribute.length});
    }
    return entries;
}

// The SII description: the PDO category of the direction (RxPDO for outputs), each PDO's entries
// where its SyncManager is `sm`. Every offset stays within the category and the SII cache.
std::vector<PdoEntry> siiEntries(int slave, int sm, bool outputs)
{
    std::vector<PdoEntry> entries;
    const unsigned wanted = outputs ? 51 : 50;
    auto byte = [slave](int at) { return unsigned(ec_siigetbyte(uint16(slave), uint16(at))); };
    int word = siiCategories;
    while (word * 2 + 4 <= EC_MAXEEPBUF) {
        const unsigned type = siiWord(slave, word);
        if (type == siiEnd)
            break;
        const int length = int(siiWord(slave, word + 1));
        if (type == wanted) {
            const int end = std::min((word + 2 + length) * 2, EC_MAXEEPBUF);
            int at = (word + 2) * 2;
            while (at + 8 <= end) {
                const unsigned pdo = byte(at) | (byte(at + 1) << 8);
                const int count = int(byte(at + 2));
                const int pdoSm = int(byte(at + 3));
                at += 8;
                for (int e = 0; e < count && at + 8 <= end; ++e, at += 8) {
                    if (pdoSm != sm)
                        continue;
                    const unsigned index = byte(at) | (byte(at + 1) << 8);
                    entries.push_back(
                        {pdo, index == 0 ? std::string("gap") : objectName(index, byte(at + 2)),
                            int(byte(at + 5))});
                }
            }
        }
        word += 2 + length;
    }
    return entries;
}

// "12.3": byte 12, bit 3 of the process image.
std::string imagePlace(long bit)
{
    return std::to_string(bit / 8) + "." + std::to_string(bit % 8);
}

}

Result pdos(Context& context, int slave)
{
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "pdos", slave) + ": " + problem);
    // The image is laid out as the bring-up lays it: outputs of every slave, then the inputs.
    static uint8 ioMap[EC_IOMAPSIZE];
    const int imageSize = ec_config_map(ioMap);
    if (imageSize > EC_IOMAPSIZE)
        return failure(where(context, "pdos", slave) + ": the process image needs "
            + std::to_string(imageSize) + " bytes, more than the " + std::to_string(EC_IOMAPSIZE)
            + " it may use");
    // The mapping asked every slave for SAFE-OP; the slaves go back to PRE-OP, where the
    // session found them, so nothing runs on what was only looked at.
    ec_slave[0].state = EC_STATE_PRE_OP;
    ec_writestate(0);
    ec_statecheck(0, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE);

    nlohmann::json list = nlohmann::json::array();
    Result result;
    for (int s : chosen(slave)) {
        const ec_slavet& sl = ec_slave[s];
        const bool coe = (sl.mbx_proto & protocolCoe) != 0;
        const bool soe = (sl.mbx_proto & protocolSoe) != 0;
        // The master takes the sizes from CoE first, then SoE, then the SII; so does this.
        std::string source = "SII";
        if (coe)
            source = "CoE";
        else if (soe)
            source = "SoE";
        nlohmann::json sms = nlohmann::json::array();
        std::string text = std::to_string(s) + "  " + sl.name + "  outputs "
            + std::to_string(sl.Obits) + " bits, inputs " + std::to_string(sl.Ibits)
            + " bits (described by " + source + ")\n";
        for (int direction = 0; direction < 2; ++direction) {
            const bool outputs = direction == 0;
            const uint8* start = outputs ? sl.outputs : sl.inputs;
            const int bits = outputs ? int(sl.Obits) : int(sl.Ibits);
            if (bits == 0 || start == nullptr)
                continue;
            long bit = long(start - ioMap) * 8 + (outputs ? sl.Ostartbit : sl.Istartbit);
            bool firstSm = true;
            for (int k = 2; k < EC_MAXSM; ++k) {
                if (sl.SMtype[k] != (outputs ? 3 : 4) || sl.SM[k].SMlength == 0)
                    continue;
                // A further SyncManager of a byte-oriented slave begins on the next byte.
                if (!firstSm && bit % 8 != 0)
                    bit += 8 - bit % 8;
                firstSm = false;
                const long smStart = bit;
                std::vector<PdoEntry> entries;
                if (source == "CoE")
                    entries = coeEntries(s, k);
                else if (source == "SoE")
                    entries = soeEntries(s, outputs);
                else
                    entries = siiEntries(s, k, outputs);
                text += "  SM" + std::to_string(k) + " " + hexNumber(sl.SM[k].StartAddr, 4) + " "
                    + std::to_string(sl.SM[k].SMlength) + " bytes "
                    + (outputs ? "outputs" : "inputs") + " at image byte " + imagePlace(smStart)
                    + "\n";
                nlohmann::json entryList = nlohmann::json::array();
                unsigned pdo = 0;
                for (const PdoEntry& entry : entries) {
                    if (entry.pdo != pdo || entryList.empty()) {
                        pdo = entry.pdo;
                        text
                            += "    " + (source == "SoE" ? idnName(pdo) : hexNumber(pdo, 4)) + "\n";
                    }
                    text += "      " + entry.object + "  " + std::to_string(entry.bits)
                        + " bits at " + imagePlace(bit) + "\n";
                    entryList.push_back({{"pdo", pdo}, {"object", entry.object},
                        {"bits", entry.bits}, {"byte", bit / 8}, {"bit", bit % 8}});
                    bit += entry.bits;
                }
                // The next SyncManager's data follow this one's bytes; a bit-oriented slave
                // has only its bits.
                bit = smStart + (bits >= 8 ? long(sl.SM[k].SMlength) * 8 : long(bits));
                // Copied: the table's records are packed, and JSON takes references.
                sms.push_back({{"sm", k}, {"start", unsigned(sl.SM[k].StartAddr)},
                    {"length", unsigned(sl.SM[k].SMlength)},
                    {"direction", outputs ? "outputs" : "inputs"}, {"byte", smStart / 8},
                    {"bit", smStart % 8}, {"entries", entryList}});
            }
        }
        nlohmann::json fmmus = nlohmann::json::array();
        for (int f = 0; f < EC_MAXFMMU; ++f) {
            const ec_fmmut& fmmu = sl.FMMU[f];
            if (!fmmu.FMMUactive)
                continue;
            fmmus.push_back({{"fmmu", f}, {"logicalStart", uint32(fmmu.LogStart)},
                {"length", unsigned(fmmu.LogLength)}, {"startBit", unsigned(fmmu.LogStartbit)},
                {"endBit", unsigned(fmmu.LogEndbit)}, {"physicalStart", unsigned(fmmu.PhysStart)},
                {"type", fmmu.FMMUtype == 2 ? "outputs" : "inputs"}});
            text += "  FMMU" + std::to_string(f) + " logical " + hexNumber(fmmu.LogStart, 8) + "."
                + std::to_string(fmmu.LogStartbit) + ", " + std::to_string(fmmu.LogLength)
                + " bytes to " + hexNumber(fmmu.PhysStart, 4) + "\n";
        }
        result.text += text;
        list.push_back(
            {{"position", s}, {"name", sl.name}, {"source", source}, {"outputBits", sl.Obits},
                {"inputBits", sl.Ibits}, {"syncManagers", sms}, {"fmmus", fmmus}});
    }
    result.doc = {{"command", "pdos"}, {"interface", context.eth}, {"imageBytes", imageSize},
        {"slaves", list}};
    return result;
}

}
