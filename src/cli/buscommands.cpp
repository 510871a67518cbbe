// The diagnostics of zuvianctl: the master's own services on an enumerated bus (slaves and their
// states, the SII EEPROM, SDO and FoE transfers, ESC registers), for a technician who needs to see
// more than the three jobs show.
#include "commands.h"

#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <vector>

#include "BusSession.h"
#include "LinkDiagnosis.h"
#include "writefirmware.h"

#include "ethercatbase.h"
#include "ethercatcoe.h"
#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "ethercatprint.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"

namespace cli {

namespace {

// Register reads are short: one datagram carries them whole.
const int maxRegisterLength = 1024;
// An SDO value this tool reads or writes fits one segmented transfer into this buffer.
const int maxSdoSize = 4096;
const int foeTimeout = 5000000;
const int sdoTimeout = EC_TIMEOUT_MBXRX;
// SII word addresses of the identity and the mailbox layouts, and where the categories begin.
const int siiVendor = 0x08, siiProduct = 0x0A, siiRevision = 0x0C, siiSerial = 0x0E;
const int siiBootRx = 0x14, siiStdRx = 0x18, siiProtocols = 0x1C, siiCategories = 0x40;
const int siiEnd = 0xFFFF;

// One diagnostic session: the bus session taken, the port opened and the slaves enumerated to
// PRE-OP; the port is closed again when this goes out of scope.
class Session
{
public:
    explicit Session(const Context& context) : context_(context), lock_(context.interface()) {}
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
        const int found = ec_config_init(FALSE);
        if (found == EC_SIIFAILED)
            return "the EEPROM of a slave could not be read";
        if (found == EC_TOOMANYSLAVES)
            return "more slaves on the bus than the master can hold";
        if (found <= 0)
            return str(LinkDiagnosis::explain(context_.interface(), true));
        return std::string();
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
    const Context& context_;
    BusSession::Lock lock_;
    bool opened_ = false;
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
        {"product", slave.eep_id}, {"revision", slave.eep_rev},
        {"state", stateName(slave.state)}, {"alStatusCode", slave.ALstatuscode},
        {"alStatus", ec_ALstatuscode2string(slave.ALstatuscode)},
        {"mailboxWrite", slave.mbx_l}, {"mailboxRead", slave.mbx_rl}};
}

std::string errorList()
{
    std::string text;
    while (ec_iserror())
        text += std::string(ec_elist2string());
    return text;
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
            + hexNumber(slave.eep_man, 8) + " product " + hexNumber(slave.eep_id, 8)
            + " revision " + hexNumber(slave.eep_rev, 8) + "  " + stateName(slave.state)
            + "  AL status " + hexNumber(slave.ALstatuscode, 4) + " ("
            + ec_ALstatuscode2string(slave.ALstatuscode) + ")  mailbox "
            + std::to_string(slave.mbx_l) + "/" + std::to_string(slave.mbx_rl) + '\n';
    }
    result.doc = {{"command", "slaves"}, {"interface", context.eth}, {"slaves", list}};
    return result;
}

Result states(Context& context, int slave, const std::string& state)
{
    static const std::pair<const char*, int> names[] = {{"init", EC_STATE_INIT},
        {"preop", EC_STATE_PRE_OP}, {"boot", EC_STATE_BOOT}, {"safeop", EC_STATE_SAFE_OP},
        {"op", EC_STATE_OPERATIONAL}};
    int wanted = 0;
    for (const auto& name : names)
        if (state == name.first)
            wanted = name.second;
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "states", slave) + ": " + problem);

    // SAFE-OP and OP need the process data mapped, and OP one exchange of it first.
    static uint8 ioMap[EC_IOMAPSIZE];
    if (wanted == EC_STATE_SAFE_OP || wanted == EC_STATE_OPERATIONAL)
        ec_config_map(ioMap);
    ec_slave[slave].state = uint16(wanted);
    ec_writestate(uint16(slave));
    if (wanted == EC_STATE_OPERATIONAL) {
        ec_send_processdata();
        ec_receive_processdata(EC_TIMEOUT_REPLY);
    }
    const uint16 reached = ec_statecheck(uint16(slave), uint16(wanted), EC_TIMEOUT_STATECHANGE);
    ec_readstate();
    nlohmann::json list = nlohmann::json::array();
    Result result;
    for (int s = 1; s <= ec_slavecount; ++s) {
        if (slave != 0 && s != slave)
            continue;
        list.push_back(slaveJson(s));
        result.text += std::to_string(s) + "  " + ec_slave[s].name + "  "
            + stateName(ec_slave[s].state) + "  AL status "
            + hexNumber(ec_slave[s].ALstatuscode, 4) + " ("
            + ec_ALstatuscode2string(ec_slave[s].ALstatuscode) + ")\n";
    }
    result.doc = {{"command", "states"}, {"interface", context.eth},
        {"requested", stateName(wanted)},
        {"reached", reached == wanted}, {"slaves", list}};
    if (reached != wanted) {
        result.status = Failed;
        result.error = where(context, "states", slave) + ": " + stateName(wanted)
            + " was not reached (the bus is in " + stateName(reached) + ")";
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
        + std::to_string(siiWord(slave, siiStdRx + 1))
        + " in " + hexNumber(siiWord(slave, siiStdRx + 2), 4) + "/"
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
        categories.push_back({{"type", type}, {"name", categoryName(type)}, {"word", word},
            {"words", length}});
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
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "sdo-read", slave) + ": " + problem);
    static uint8 data[maxSdoSize];
    int size = sizeof data;
    const int wkc = ec_SDOread(uint16(slave), uint16(index), uint8(subindex), FALSE, &size, data,
        sdoTimeout);
    const std::string object = hexNumber(unsigned(index), 4) + ":" + std::to_string(subindex);
    if (wkc <= 0)
        return failure(where(context, "sdo-read", slave) + ": " + object + ": no value ("
            + errorList() + ")");
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
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "sdo-write", slave) + ": " + problem);
    QByteArray data = bytes;
    const int wkc = ec_SDOwrite(uint16(slave), uint16(index), uint8(subindex), FALSE,
        int(data.size()), data.data(), sdoTimeout);
    const std::string object = hexNumber(unsigned(index), 4) + ":" + std::to_string(subindex);
    if (wkc <= 0)
        return failure(where(context, "sdo-write", slave) + ": " + object + ": not written ("
            + errorList() + ")");
    Result result;
    result.text = object + " written\n";
    result.doc = {{"command", "sdo-write"}, {"interface", context.eth}, {"slave", slave},
        {"index", index}, {"subindex", subindex}, {"size", data.size()}};
    return result;
}

Result foeRead(Context& context, int slave, const std::string& name, const std::string& output,
    unsigned password)
{
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "foe-read", slave) + ": " + problem);
    static uint8 data[WriteFirmware::FileBufferSize];
    int size = sizeof data;
    std::vector<char> fileName(name.begin(), name.end());
    fileName.push_back('\0');
    const int wkc = ec_FOEread(uint16(slave), fileName.data(), password, &size, data, foeTimeout);
    if (wkc <= 0)
        return failure(where(context, "foe-read", slave) + ": " + name + ": not read ("
            + errorList() + ")");
    QSaveFile file(QString::fromStdString(output));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(reinterpret_cast<const char*>(data), size) != size
        || !file.commit())
        return failure("foe-read: " + output + ": " + str(file.errorString()));
    Result result;
    result.text = name + ": " + std::to_string(size) + " bytes written to " + output + '\n';
    result.doc = {{"command", "foe-read"}, {"interface", context.eth}, {"slave", slave},
        {"name", name}, {"size", size}, {"output", output}};
    return result;
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
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "foe-write", slave) + ": " + problem);
    std::vector<char> fileName(name.begin(), name.end());
    fileName.push_back('\0');
    QByteArray buffer = data;
    const int wkc = ec_FOEwrite(uint16(slave), fileName.data(), password, int(buffer.size()),
        buffer.data(), foeTimeout);
    if (wkc <= 0)
        return failure(where(context, "foe-write", slave) + ": " + name + ": not written ("
            + errorList() + ")");
    Result result;
    result.text = name + ": " + std::to_string(data.size()) + " bytes written\n";
    result.doc = {{"command", "foe-write"}, {"interface", context.eth}, {"slave", slave},
        {"name", name}, {"size", data.size()}};
    return result;
}

Result regRead(Context& context, int slave, int address, int length)
{
    if (length < 1 || length > maxRegisterLength || address + length > 0x10000) {
        return usageError("reg-read: the length must be 1 to "
            + std::to_string(maxRegisterLength) + " and stay below address 0x10000");
    }
    Session session(context);
    const std::string problem = session.openFor(slave);
    if (!problem.empty())
        return failure(where(context, "reg-read", slave) + ": " + problem);
    static uint8 data[maxRegisterLength];
    const int wkc = ec_FPRD(ec_slave[slave].configadr, uint16(address), uint16(length), data,
        EC_TIMEOUT_REPLY);
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

}
