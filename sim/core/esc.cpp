/*
 * Emulated EtherCAT slave controller: address space and datagram processing.
 */
#include "core/esc.h"

#include "core/fmmu.h"
#include "core/siibuilder.h"

#include <algorithm>
#include <vector>

namespace sim {

namespace {
constexpr std::size_t AddressSpace = 0x10000;

bool within(std::uint16_t address, std::uint16_t first, std::uint32_t count)
{
    return address >= first && std::uint32_t(address - first) < count;
}
} // namespace

Esc::Esc(Bytes sii, const EscOptions& options)
    : options_(options)
    , memory_(AddressSpace, 0)
    , eeprom_(std::move(sii), options.eightByteEepromReads, options.eepromBusyUs)
    , sms_(std::min<int>(options.syncManagers, 16))
{
    if (options.distributedClocks)
        dc_.emplace(options.dcClock);
    options_.fmmus = std::min<std::uint8_t>(options_.fmmus, 16);
    loadFromSii();
}

void Esc::reset()
{
    std::fill(memory_.begin(), memory_.end(), 0);
    eeprom_.reset();
    al_.reset();
    sms_.reset();
    if (dc_)
        dc_->reset();
    loadFromSii();
}

void Esc::loadFromSii()
{
    memory_[reg::Type] = options_.type;
    memory_[reg::Revision] = options_.revision;
    putLe16(&memory_[reg::Build], options_.build);
    memory_[reg::FmmuCount] = options_.fmmus;
    memory_[reg::SyncManagerCount] = std::uint8_t(sms_.count());
    memory_[reg::RamSize] = 60; // KiB of process memory above 0x1000
    memory_[reg::PortDescriptor] = options_.portDescriptor;
    putLe16(&memory_[reg::Features], options_.distributedClocks ? 0x000C : 0x0000);
    memory_[reg::DlControl] = 0x01;
    // What a controller loads from its EEPROM at power-up: PDI control and the station alias.
    putLe16(&memory_[reg::PdiControl], eeprom_.word(siiword::PdiControl));
    putLe16(&memory_[reg::StationAlias], eeprom_.word(siiword::Alias));
}

void Esc::setPortLinks(std::uint8_t mask)
{
    portLinks_ = mask;
}

void Esc::setFrameArrivals(const PortArrivals& arrivals)
{
    if (dc_)
        dc_->setFrameArrivals(arrivals);
}

void Esc::count(PortCounter counter, int port)
{
    if (port < 0 || port > 3)
        return;
    std::uint16_t address = 0;
    switch (counter) {
    case PortCounter::InvalidFrame:
        address = std::uint16_t(reg::RxErrorCounters + 2 * port);
        break;
    case PortCounter::RxError:
        address = std::uint16_t(reg::RxErrorCounters + 2 * port + 1);
        break;
    case PortCounter::ForwardedRxError:
        address = std::uint16_t(reg::ForwardedRxErrors + port);
        break;
    case PortCounter::LostLink:
        address = std::uint16_t(reg::LostLinkCounters + port);
        break;
    }
    if (memory_[address] < 0xFF)
        ++memory_[address];
}

bool Esc::matchesStation(std::uint16_t adp) const
{
    if (adp == stationAddress())
        return true;
    const bool aliasEnabled = (memory_[reg::DlControl + 3] & 0x01) != 0;
    return aliasEnabled && adp == alias();
}

bool Esc::plainWritable(std::uint16_t address) const
{
    return within(address, reg::StationAddress, 2) || within(address, reg::DlControl, 4)
        || within(address, 0x0108, 2) || within(address, reg::EventMask, 4)
        || within(address, reg::RxErrorCounters, 0x10) || within(address, 0x0400, 0x44)
        || within(address, reg::Fmmu0, 16u * options_.fmmus) || within(address, 0x0F00, 0x100)
        || address >= reg::ProcessRam;
}

std::uint8_t Esc::plainRead(std::uint16_t address) const
{
    if (within(address, reg::DlStatus, 2)) {
        std::uint16_t status = 0x0001; // PDI operational
        for (int p = 0; p < 4; ++p) {
            const bool link = (portLinks_ >> p) & 1;
            status |= std::uint16_t(link ? (0x10 << p) | (0x0200 << (2 * p)) : (0x0100 << (2 * p)));
        }
        return std::uint8_t(address == reg::DlStatus ? status : status >> 8);
    }
    return memory_[address];
}

bool Esc::masterRead(std::uint16_t address, std::uint8_t& value, std::uint64_t nowUs)
{
    if (within(address, reg::AlControl, 0x16)) {
        value = al_.read(address);
        return true;
    }
    if (within(address, reg::EepromConfig, 0x10)) {
        value = eeprom_.read(address, nowUs);
        return true;
    }
    if (within(address, reg::SyncManager0, 8u * std::uint32_t(sms_.count()))) {
        value = sms_.readRegister(address);
        return true;
    }
    if (within(address, DcUnit::First, DcUnit::Size)) {
        value = dc_ ? dc_->read(address) : 0;
        return true;
    }
    // A SyncManager may guard any memory, also the output bytes at 0x0F00 of a simple slave.
    const Access a = sms_.masterRead(address, memory_, value);
    if (a != Access::Unguarded)
        return a == Access::Done;
    value = plainRead(address);
    return true;
}

bool Esc::masterWrite(std::uint16_t address, std::uint8_t value, std::uint64_t nowUs)
{
    if (within(address, reg::AlControl, 0x16)) {
        al_.write(address, value);
        return true;
    }
    if (within(address, reg::EepromConfig, 0x10)) {
        eeprom_.write(address, value, nowUs);
        return true;
    }
    if (within(address, reg::SyncManager0, 8u * std::uint32_t(sms_.count()))) {
        sms_.writeRegister(address, value);
        return true;
    }
    if (within(address, DcUnit::First, DcUnit::Size)) {
        if (dc_)
            dc_->write(address, value);
        return true;
    }
    if (within(address, reg::RxErrorCounters, reg::ErrorCountersEnd - reg::RxErrorCounters)) {
        memory_[address] = 0; // a write clears a counter, whatever is written
        return true;
    }
    const Access a = sms_.masterWrite(address, value, memory_);
    if (a != Access::Unguarded)
        return a == Access::Done;
    if (plainWritable(address))
        memory_[address] = value;
    return true;
}

void Esc::endDatagram(std::uint64_t nowUs)
{
    eeprom_.commit(nowUs);
    if (dc_)
        dc_->endDatagram();
}

std::optional<bool> Esc::readProcessMemory(
    std::uint16_t ado, std::uint8_t* out, std::uint16_t length, bool orInto)
{
    // No register lies above the process memory's start: only SyncManagers guard it.
    if (!options_.wholeRanges || length == 0 || ado < reg::ProcessRam
        || std::uint32_t(ado) + length > AddressSpace)
        return std::nullopt;
    const std::optional<Access> a = sms_.readRange(ado, out, length, orInto, memory_);
    if (!a)
        return std::nullopt;
    if (*a != Access::Unguarded)
        return *a == Access::Done;
    const std::uint8_t* from = &memory_[ado];
    if (orInto) {
        for (std::uint16_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(out[i] | from[i]);
    } else {
        std::copy(from, from + length, out);
    }
    return true;
}

std::optional<bool> Esc::writeProcessMemory(
    std::uint16_t ado, const std::uint8_t* in, std::uint16_t length)
{
    if (!options_.wholeRanges || length == 0 || ado < reg::ProcessRam
        || std::uint32_t(ado) + length > AddressSpace)
        return std::nullopt;
    const std::optional<Access> a = sms_.writeRange(ado, in, length, memory_);
    if (!a)
        return std::nullopt;
    if (*a == Access::Unguarded)
        std::copy(in, in + length, &memory_[ado]);
    return *a != Access::Refused;
}

bool Esc::readRange(
    std::uint16_t ado, std::uint8_t* out, std::uint16_t length, bool orInto, std::uint64_t nowUs)
{
    // A mailbox message or a process data area is read whole.
    if (const auto counted = readProcessMemory(ado, out, length, orInto))
        return *counted;
    bool any = false;
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint32_t address = std::uint32_t(ado) + i;
        if (address >= AddressSpace)
            break;
        std::uint8_t value = 0;
        if (!masterRead(std::uint16_t(address), value, nowUs))
            continue;
        out[i] = orInto ? std::uint8_t(out[i] | value) : value;
        any = true;
    }
    return any;
}

bool Esc::writeRange(
    std::uint16_t ado, const std::uint8_t* in, std::uint16_t length, std::uint64_t nowUs)
{
    if (const auto counted = writeProcessMemory(ado, in, length))
        return *counted;
    bool any = false;
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint32_t address = std::uint32_t(ado) + i;
        if (address >= AddressSpace)
            break;
        any = masterWrite(std::uint16_t(address), in[i], nowUs) || any;
    }
    return any;
}

void Esc::access(DatagramView& d, std::uint64_t nowUs, bool read, bool write, bool orReads)
{
    const std::uint16_t n = d.dataLength();
    if (read && write) {
        // Read-write: the frame carries away what was there, the slave keeps what came in. Bytes
        // the slave cannot read leave the frame as they came.
        Bytes found(d.data(), d.data() + n);
        const bool didRead = readRange(d.ado(), found.data(), n, orReads, nowUs);
        const bool didWrite = writeRange(d.ado(), d.data(), n, nowUs);
        std::copy(found.begin(), found.end(), d.data());
        d.addWorkingCounter(std::uint16_t((didRead ? 1 : 0) + (didWrite ? 2 : 0)));
        return;
    }
    if (read && readRange(d.ado(), d.data(), n, orReads, nowUs))
        d.addWorkingCounter(1);
    if (write && writeRange(d.ado(), d.data(), n, nowUs))
        d.addWorkingCounter(1);
}

/* Datagram bytes [first, first + count) that a byte-aligned FMMU maps onto whole physical bytes
 * from `phys` on: true when the FMMU is byte-aligned at both ends, whatever the overlap. */
static bool byteAligned(const Fmmu& f)
{
    return f.logicalStartBit == 0 && f.logicalEndBit == 7 && f.physicalStartBit == 0;
}

namespace {
/* The most FMMUs a controller has (0x0600..0x06FF). */
constexpr int MaxFmmus = 16;

/* The part of a logical datagram that one FMMU of whole bytes maps: `length` bytes from physical
 * address `phys` to and from the datagram's bytes from `byte` on. */
struct LogicalSpan
{
    std::uint16_t phys;
    std::uint16_t byte;
    std::uint16_t length;
};

/* Whether any two of the spans share a physical byte; sorts them by their first one. */
bool overlapping(LogicalSpan* spans, int count)
{
    std::sort(spans, spans + count,
        [](const LogicalSpan& x, const LogicalSpan& y) { return x.phys < y.phys; });
    for (int i = 1; i < count; ++i)
        if (std::uint32_t(spans[i - 1].phys) + spans[i - 1].length > spans[i].phys)
            return true;
    return false;
}
} // namespace

/* The usual logical datagram: every FMMU it meets maps whole bytes, and no physical byte is
 * reached twice. Each FMMU's part is then one range of whole bytes, read or written at once, in
 * the same order and with the same effect as the byte-by-byte walk of `logical`. False, having
 * done nothing, for any other datagram. */
bool Esc::logicalBySpans(DatagramView& d, std::uint64_t nowUs, bool wantRead, bool wantWrite)
{
    LogicalSpan reads[MaxFmmus], writes[MaxFmmus];
    int nReads = 0, nWrites = 0;
    const std::uint32_t dgFirst = d.logicalAddress();
    const std::uint64_t dgEnd = std::uint64_t(dgFirst) + d.dataLength();
    for (int n = 0; n < options_.fmmus && n < MaxFmmus; ++n) {
        const Fmmu f = Fmmu::fromRegisters(&memory_[reg::Fmmu0 + 16 * n]);
        const bool w = wantWrite && f.writes();
        const bool r = wantRead && f.reads();
        if (!w && !r)
            continue;
        const std::uint64_t first = std::max<std::uint64_t>(f.logicalStart, dgFirst);
        const std::uint64_t end
            = std::min<std::uint64_t>(std::uint64_t(f.logicalStart) + f.length, dgEnd);
        if (first >= end)
            continue;
        if (!byteAligned(f))
            return false;
        const std::uint64_t phys = f.physicalStart + (first - f.logicalStart);
        if (phys > 0xFFFF)
            continue; // the physical window ends with the address space
        const LogicalSpan span{std::uint16_t(phys), std::uint16_t(first - dgFirst),
            std::uint16_t(std::min<std::uint64_t>(end - first, AddressSpace - phys))};
        if (r)
            reads[nReads++] = span;
        if (w)
            writes[nWrites++] = span;
    }
    if (overlapping(reads, nReads) || overlapping(writes, nWrites))
        return false;
    // The slave takes what the datagram brought before it puts back what it read.
    const std::uint8_t* incoming = d.data();
    if (nReads > 0 && nWrites > 0) {
        logicalIncoming_.assign(d.data(), d.data() + d.dataLength());
        incoming = logicalIncoming_.data();
    }
    // A real controller hands back what the memory held before the datagram wrote it, which
    // matters where one FMMU both reads and writes the same bytes.
    bool didRead = false;
    for (int i = 0; i < nReads; ++i)
        didRead = readRange(reads[i].phys, d.data() + reads[i].byte, reads[i].length, false, nowUs)
            || didRead;
    bool didWrite = false;
    for (int i = 0; i < nWrites; ++i)
        didWrite = writeRange(writes[i].phys, incoming + writes[i].byte, writes[i].length, nowUs)
            || didWrite;
    countLogical(d, didRead, didWrite);
    return true;
}

void Esc::countLogical(DatagramView& d, bool didRead, bool didWrite)
{
    if (d.command() == Command::Lrw)
        d.addWorkingCounter(std::uint16_t((didRead ? 1 : 0) + (didWrite ? 2 : 0)));
    else if (didRead || didWrite)
        d.addWorkingCounter(1);
}

void Esc::logical(DatagramView& d, std::uint64_t nowUs)
{
    const bool wantRead = d.command() != Command::Lwr;
    const bool wantWrite = d.command() != Command::Lrd;
    if (options_.wholeRanges && logicalBySpans(d, nowUs, wantRead, wantWrite))
        return;
    const std::uint8_t* incoming = d.data();
    std::vector<LogicalWrite>& writes = logicalWrites_;
    std::vector<LogicalRead>& reads = logicalReads_;
    writes.clear();
    reads.clear();
    // Gather per physical byte which bits to change or fetch, so that each byte is accessed once
    // and in address order, as the SyncManagers expect. An FMMU of whole bytes maps byte to byte;
    // any other bit by bit. The datagram's bytes are read before anything is written back into
    // them.
    const std::uint32_t dgFirst = d.logicalAddress();
    const std::uint64_t dgEnd = std::uint64_t(dgFirst) + d.dataLength();
    for (int n = 0; n < options_.fmmus; ++n) {
        const Fmmu f = Fmmu::fromRegisters(&memory_[reg::Fmmu0 + 16 * n]);
        const bool w = wantWrite && f.writes();
        const bool r = wantRead && f.reads();
        if (!w && !r)
            continue;
        if (byteAligned(f)) {
            const std::uint64_t first = std::max<std::uint64_t>(f.logicalStart, dgFirst);
            const std::uint64_t end
                = std::min<std::uint64_t>(std::uint64_t(f.logicalStart) + f.length, dgEnd);
            for (std::uint64_t l = first; l < end; ++l) {
                const std::uint64_t phys = f.physicalStart + (l - f.logicalStart);
                if (phys > 0xFFFF)
                    break; // the physical window ends with the address space
                const std::uint32_t byte = std::uint32_t(l - dgFirst);
                if (w)
                    writes.push_back({std::uint16_t(phys), 0xFF, incoming[byte]});
                if (r)
                    reads.push_back({std::uint16_t(phys), byte, -1, 0});
            }
            continue;
        }
        if (w)
            fmmuForEachBit(f, dgFirst, d.dataLength(),
                [&](std::size_t byte, int bit, std::uint16_t phys, int physBit) {
                    const std::uint8_t mask = std::uint8_t(1u << physBit);
                    writes.push_back(
                        {phys, mask, ((incoming[byte] >> bit) & 1) ? mask : std::uint8_t(0)});
                });
        if (r)
            fmmuForEachBit(f, dgFirst, d.dataLength(),
                [&](std::size_t byte, int bit, std::uint16_t phys, int physBit) {
                    reads.push_back(
                        {phys, std::uint32_t(byte), std::int8_t(bit), std::int8_t(physBit)});
                });
    }
    // Stable: where two FMMUs fetch into the same datagram bit, the later one's stays.
    std::stable_sort(reads.begin(), reads.end(),
        [](const LogicalRead& x, const LogicalRead& y) { return x.phys < y.phys; });
    std::stable_sort(writes.begin(), writes.end(),
        [](const LogicalWrite& x, const LogicalWrite& y) { return x.phys < y.phys; });
    bool didRead = false;
    for (std::size_t i = 0; i < reads.size();) {
        const std::uint16_t phys = reads[i].phys;
        std::size_t j = i;
        while (j < reads.size() && reads[j].phys == phys)
            ++j;
        std::uint8_t value = 0;
        if (masterRead(phys, value, nowUs)) {
            didRead = true;
            for (std::size_t k = i; k < j; ++k) {
                std::uint8_t& out = d.data()[reads[k].byte];
                if (reads[k].bit < 0) {
                    out = value;
                    continue;
                }
                const bool set = (value >> reads[k].physBit) & 1;
                const unsigned bit = 1u << reads[k].bit;
                out = std::uint8_t(set ? (out | bit) : (out & ~bit));
            }
        }
        i = j;
    }
    bool didWrite = false;
    for (std::size_t i = 0; i < writes.size();) {
        const std::uint16_t phys = writes[i].phys;
        std::uint8_t mask = 0, value = 0;
        for (; i < writes.size() && writes[i].phys == phys; ++i) {
            mask = std::uint8_t(mask | writes[i].mask);
            value = std::uint8_t(value | writes[i].value);
        }
        const std::uint8_t merged = std::uint8_t((memory_[phys] & ~mask) | (value & mask));
        didWrite = masterWrite(phys, merged, nowUs) || didWrite;
    }
    countLogical(d, didRead, didWrite);
}

void Esc::process(DatagramView& d, std::uint64_t nowUs)
{
    switch (d.command()) {
    case Command::Aprd:
    case Command::Apwr:
    case Command::Aprw:
    case Command::Armw: {
        const bool here = d.adp() == 0;
        d.setAdp(std::uint16_t(d.adp() + 1));
        if (d.command() == Command::Armw)
            access(d, nowUs, here, !here, false);
        else if (here)
            access(d, nowUs, d.command() != Command::Apwr, d.command() != Command::Aprd, false);
        break;
    }
    case Command::Fprd:
    case Command::Fpwr:
    case Command::Fprw:
    case Command::Frmw: {
        const bool here = matchesStation(d.adp());
        if (d.command() == Command::Frmw)
            access(d, nowUs, here, !here, false);
        else if (here)
            access(d, nowUs, d.command() != Command::Fpwr, d.command() != Command::Fprd, false);
        break;
    }
    case Command::Brd:
        access(d, nowUs, true, false, true);
        break;
    case Command::Bwr:
        access(d, nowUs, false, true, true);
        break;
    case Command::Brw:
        access(d, nowUs, true, true, true);
        break;
    case Command::Lrd:
    case Command::Lwr:
    case Command::Lrw:
        logical(d, nowUs);
        break;
    default:
        break;
    }
    endDatagram(nowUs);
}

} // namespace sim
