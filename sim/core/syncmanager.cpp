/*
 * SyncManagers of the emulated slave controller.
 */
#include "core/syncmanager.h"

#include "core/registers.h"

#include <algorithm>

namespace sim {

SyncManagers::SyncManagers(int count)
    : sms_(std::size_t(count))
    , state_(std::size_t(count))
{}

void SyncManagers::reset()
{
    std::fill(sms_.begin(), sms_.end(), SyncManager{});
    std::fill(state_.begin(), state_.end(), State{});
    ++registerWrites_;
}

std::uint8_t SyncManagers::status(int n) const
{
    return state_[std::size_t(n)].full ? 0x08 : 0x00;
}

std::uint8_t SyncManagers::readRegister(std::uint16_t address)
{
    const int offset = address - reg::SyncManager0;
    const int n = offset / 8;
    if (offset < 0 || n >= count())
        return 0;
    const SyncManager& sm = sms_[std::size_t(n)];
    switch (offset % 8) {
    case 0:
        return std::uint8_t(sm.start);
    case 1:
        return std::uint8_t(sm.start >> 8);
    case 2:
        return std::uint8_t(sm.length);
    case 3:
        return std::uint8_t(sm.length >> 8);
    case 4:
        return sm.control;
    case 5:
        ++state_[std::size_t(n)].statusReads;
        return status(n);
    case 6:
        return sm.activate;
    default:
        return sm.pdiControl;
    }
}

void SyncManagers::writeRegister(std::uint16_t address, std::uint8_t value)
{
    const int offset = address - reg::SyncManager0;
    const int n = offset / 8;
    if (offset < 0 || n >= count())
        return;
    SyncManager& sm = sms_[std::size_t(n)];
    const int byte = offset % 8;
    ++registerWrites_;
    // The layout of a SyncManager can only change while it is out of use, so a master cannot pull
    // the buffer from under the slave.
    if (byte <= 4 && usable(sm))
        return;
    switch (byte) {
    case 0:
        sm.start = std::uint16_t((sm.start & 0xFF00) | value);
        break;
    case 1:
        sm.start = std::uint16_t((sm.start & 0x00FF) | (value << 8));
        break;
    case 2:
        sm.length = std::uint16_t((sm.length & 0xFF00) | value);
        break;
    case 3:
        sm.length = std::uint16_t((sm.length & 0x00FF) | (value << 8));
        break;
    case 4:
        sm.control = value;
        break;
    case 6: {
        const bool wasEnabled = (sm.activate & 0x01) != 0;
        sm.activate = value;
        if (wasEnabled != ((value & 0x01) != 0))
            enableChanged(n);
        break;
    }
    default:
        break; // status and PDI control belong to the slave
    }
}

void SyncManagers::enableChanged(int n)
{
    State& s = state_[std::size_t(n)];
    s.full = false;
    s.staging.clear();
}

std::optional<int> SyncManagers::guardingAll(std::uint16_t address, std::uint16_t length) const
{
    if (length == 0)
        return -1;
    const std::uint32_t first = address;
    const std::uint32_t last = first + length - 1u;
    for (int n = 0; n < count(); ++n) {
        const SyncManager& sm = sms_[std::size_t(n)];
        if (!sm.enabled())
            continue;
        const std::uint32_t smFirst = sm.start;
        const std::uint32_t smLast = smFirst + sm.span() - 1u;
        if (last < smFirst || first > smLast)
            continue; // guards none of the range
        if (first >= smFirst && last <= smLast)
            return n;
        return std::nullopt;
    }
    return -1;
}

std::optional<Access> SyncManagers::readRange(std::uint16_t address, std::uint8_t* out,
    std::uint16_t length, bool orInto, const Bytes& memory)
{
    const std::optional<int> n = guardingAll(address, length);
    if (!n || *n < 0)
        return n ? std::optional<Access>(Access::Unguarded) : std::nullopt;
    const SyncManager& sm = sms_[std::size_t(*n)];
    State& s = state_[std::size_t(*n)];
    // Byte by byte every byte would be refused alike: the state changes only at the last one.
    if (sm.deactivatedByPdi() || (sm.mailbox() && (sm.masterWrites() || !s.full)))
        return Access::Refused;
    const std::uint8_t* from = &memory[address];
    if (orInto) {
        for (std::uint16_t i = 0; i < length; ++i)
            out[i] = std::uint8_t(out[i] | from[i]);
    } else {
        std::copy(from, from + length, out);
    }
    if (std::uint32_t(address) + length - 1u == sm.last()) {
        if (sm.mailbox())
            s.full = false;
        ++s.readsCompleted;
    }
    return Access::Done;
}

std::optional<Access> SyncManagers::writeRange(
    std::uint16_t address, const std::uint8_t* in, std::uint16_t length, Bytes& memory)
{
    const std::optional<int> n = guardingAll(address, length);
    if (!n || *n < 0)
        return n ? std::optional<Access>(Access::Unguarded) : std::nullopt;
    const SyncManager& sm = sms_[std::size_t(*n)];
    State& s = state_[std::size_t(*n)];
    if (sm.deactivatedByPdi() || !sm.masterWrites())
        return Access::Refused;
    const bool closes = std::uint32_t(address) + length - 1u == sm.last();
    if (sm.mailbox()) {
        if (s.full)
            return Access::Refused;
        std::copy(in, in + length, &memory[address]);
        if (closes) {
            s.full = true;
            ++s.writesCompleted;
        }
        return Access::Done;
    }
    // Buffered: the area's first byte opens a buffer, the bytes are collected aside and handed
    // over only when its last byte closes it, so the slave never sees half an update (a write of
    // the whole area goes straight through).
    if (address == sm.start && closes) {
        std::copy(in, in + length, &memory[address]);
        s.staging.clear();
        ++s.writesCompleted;
        return Access::Done;
    }
    if (address == sm.start)
        s.staging.assign(memory.begin() + sm.start, memory.begin() + sm.start + sm.span());
    else if (s.staging.empty())
        return Access::Refused;
    std::copy(in, in + length, s.staging.begin() + (address - sm.start));
    if (closes) {
        std::copy(s.staging.begin(), s.staging.end(), memory.begin() + sm.start);
        s.staging.clear();
        ++s.writesCompleted;
    }
    return Access::Done;
}

// A byte is the range of one: the byte-by-byte rules and the range rules are one and the same.
Access SyncManagers::masterRead(std::uint16_t address, const Bytes& memory, std::uint8_t& value)
{
    return *readRange(address, &value, 1, false, memory);
}

Access SyncManagers::masterWrite(std::uint16_t address, std::uint8_t value, Bytes& memory)
{
    return *writeRange(address, &value, 1, memory);
}

Bytes SyncManagers::take(int n, const Bytes& memory)
{
    const SyncManager& sm = sms_.at(std::size_t(n));
    state_[std::size_t(n)].full = false;
    return Bytes(memory.begin() + sm.start, memory.begin() + sm.start + sm.span());
}

bool SyncManagers::repost(int n, const Bytes& message, Bytes& memory)
{
    const SyncManager& sm = sms_.at(std::size_t(n));
    if (!usable(sm) || !sm.mailbox() || sm.masterWrites())
        return false;
    for (std::size_t i = 0; i < sm.span(); ++i)
        memory[sm.start + i] = i < message.size() ? message[i] : 0;
    state_[std::size_t(n)].full = true;
    return true;
}

bool SyncManagers::post(int n, const Bytes& message, Bytes& memory)
{
    if (state_.at(std::size_t(n)).full)
        return false;
    return repost(n, message, memory);
}

bool SyncManagers::repeatRequested(int n) const
{
    const SyncManager& sm = sms_.at(std::size_t(n));
    return ((sm.activate ^ sm.pdiControl) & 0x02) != 0;
}

void SyncManagers::acknowledgeRepeat(int n)
{
    SyncManager& sm = sms_.at(std::size_t(n));
    sm.pdiControl = std::uint8_t((sm.pdiControl & ~0x02) | (sm.activate & 0x02));
}

void SyncManagers::setDeactivated(int n, bool deactivated)
{
    SyncManager& sm = sms_.at(std::size_t(n));
    const bool was = sm.deactivatedByPdi();
    sm.pdiControl = std::uint8_t(deactivated ? (sm.pdiControl | 0x01) : (sm.pdiControl & ~0x01));
    if (was != deactivated)
        enableChanged(n);
}

} // namespace sim
