/*
 * AL state machine of the emulated slave.
 */
#include "core/alstate.h"

namespace sim {

namespace {
// Internal verdict of a request that a fault makes the slave quietly disregard.
constexpr std::uint16_t Disregard = 0xFFFF;

bool allowedByRules(AlState from, AlState to)
{
    if (to == AlState::Init || to == from)
        return true;
    switch (from) {
    case AlState::Init:
        return to == AlState::PreOp || to == AlState::Boot;
    case AlState::PreOp:
        return to == AlState::SafeOp;
    case AlState::SafeOp:
        return to == AlState::PreOp || to == AlState::Op;
    case AlState::Op:
        return to == AlState::PreOp || to == AlState::SafeOp;
    case AlState::Boot:
        return false;
    }
    return false;
}

bool isUpward(AlState from, AlState to)
{
    if (to == AlState::Boot)
        return from != AlState::Boot;
    return std::uint8_t(to) > std::uint8_t(from) && from != AlState::Boot;
}
} // namespace

bool isAlState(std::uint8_t value)
{
    return value == 1 || value == 2 || value == 3 || value == 4 || value == 8;
}

const char* alStateName(AlState state)
{
    switch (state) {
    case AlState::Init:
        return "INIT";
    case AlState::PreOp:
        return "PRE-OP";
    case AlState::Boot:
        return "BOOT";
    case AlState::SafeOp:
        return "SAFE-OP";
    case AlState::Op:
        return "OP";
    }
    return "?";
}

std::uint8_t AlStateMachine::read(std::uint16_t address) const
{
    const std::uint16_t status = std::uint16_t(std::uint8_t(state_) | (error_ ? 0x10 : 0));
    switch (address) {
    case reg::AlControl:
        return std::uint8_t(control_);
    case reg::AlControl + 1:
        return std::uint8_t(control_ >> 8);
    case reg::AlStatus:
        return std::uint8_t(status);
    case reg::AlStatus + 1:
        return std::uint8_t(status >> 8);
    case reg::AlStatusCode:
        return std::uint8_t(code_);
    case reg::AlStatusCode + 1:
        return std::uint8_t(code_ >> 8);
    default:
        return 0;
    }
}

void AlStateMachine::write(std::uint16_t address, std::uint8_t value)
{
    if (address == reg::AlControl) {
        control_ = std::uint16_t((control_ & 0xFF00) | value);
        requested_ = true;
    } else if (address == reg::AlControl + 1) {
        control_ = std::uint16_t((control_ & 0x00FF) | (value << 8));
    }
}

std::uint16_t AlStateMachine::judge(
    AlState from, std::uint8_t requested, const TransitionCheck& check) const
{
    if (!isAlState(requested))
        return alcode::UnknownState;
    const AlState to = static_cast<AlState>(requested);
    if (faults_.ignore && *faults_.ignore == to && to != from)
        return Disregard;
    if (faults_.refuse && *faults_.refuse == to)
        return faults_.refuseCode;
    if (!allowedByRules(from, to))
        return alcode::InvalidStateChange;
    if (isUpward(from, to) && check)
        return check(from, to);
    return alcode::NoError;
}

bool AlStateMachine::commit(const TransitionCheck& check)
{
    if (!requested_)
        return false;
    requested_ = false;
    const bool acknowledge = (control_ & 0x10) != 0;
    // A slave in error waits for the acknowledge; until then requests change nothing.
    if (error_ && !acknowledge)
        return false;
    if (acknowledge && error_ && faults_.ignoreAcks > 0) {
        --faults_.ignoreAcks;
        return false;
    }
    if (acknowledge) {
        error_ = false;
        code_ = alcode::NoError;
    }
    const std::uint16_t verdict = judge(state_, std::uint8_t(control_ & 0x0F), check);
    if (verdict == Disregard)
        return false;
    if (verdict != alcode::NoError) {
        error_ = true;
        code_ = verdict;
        return false;
    }
    const AlState to = static_cast<AlState>(control_ & 0x0F);
    if (to == state_)
        return false;
    state_ = to;
    return true;
}

void AlStateMachine::reset()
{
    state_ = AlState::Init;
    error_ = false;
    code_ = 0;
    control_ = 0;
    requested_ = false;
}

void AlStateMachine::force(AlState state, bool error, std::uint16_t code)
{
    state_ = state;
    error_ = error;
    code_ = code;
}

} // namespace sim
