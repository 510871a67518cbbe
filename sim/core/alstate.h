/*
 * AL state machine of an emulated slave: AL Control (0x0120), AL Status (0x0130) and AL Status
 * Code (0x0134).
 *
 * The master writes a requested state, optionally with the acknowledge bit 0x10. The machine
 * grants a valid transition or refuses it, setting the error bit 0x10 in AL Status and an AL Status
 * Code, and stays where it was. While the error bit is set, requests without acknowledge are
 * ignored; an acknowledge clears it and the request is judged afresh.
 *
 * Built-in rules: INIT -> PRE-OP and INIT -> BOOT are the only ways up from INIT; SAFE-OP is
 * reached from PRE-OP, SAFE-OP or OP, OP from SAFE-OP or OP; BOOT leads only back to INIT; every
 * state may fall back to INIT, and PRE-OP/SAFE-OP/OP to the lower of them. The checks behind each
 * upward transition (mailbox SyncManagers, bootstrap mailbox, process data) are supplied by the
 * slave through `TransitionCheck`.
 */
#ifndef SIM_CORE_ALSTATE_H
#define SIM_CORE_ALSTATE_H

#include "core/registers.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace sim {

/* Judges a transition that the state rules allow: 0 grants it, anything else is the AL Status
 * Code with which it is refused. */
using TransitionCheck = std::function<std::uint16_t(AlState from, AlState to)>;

/* Faults of the state machine. */
struct AlFaults
{
    std::optional<AlState> refuse; /* requests for this state are refused ... */
    std::uint16_t refuseCode = alcode::InvalidStateChange; /* ... with this AL Status Code */
    std::optional<AlState> ignore; /* requests for this state are silently not carried out */
    int ignoreAcks = 0; /* the next n acknowledges leave the error flag (and the request) alone */
};

class AlStateMachine
{
public:
    AlState state() const { return state_; }
    bool error() const { return error_; }
    std::uint16_t statusCode() const { return code_; }

    /* ECAT access to one byte of 0x0120..0x0135. Only AL Control is writable. */
    std::uint8_t read(std::uint16_t address) const;
    void write(std::uint16_t address, std::uint8_t value);
    /* Judge the request written during the datagram just processed, if any. Returns true when
     * the state changed (the slave then adapts its SyncManagers). */
    bool commit(const TransitionCheck& check);

    AlFaults& faults() { return faults_; }
    /* Back to INIT without error, as after power-up. */
    void reset();
    /* Set by the slave's application, e.g. to fall back to SAFE-OP with an error. */
    void force(AlState state, bool error, std::uint16_t code);

private:
    std::uint16_t judge(AlState from, std::uint8_t requested, const TransitionCheck& check) const;

    AlState state_ = AlState::Init;
    bool error_ = false;
    std::uint16_t code_ = 0;
    std::uint16_t control_ = 0;
    bool requested_ = false;
    AlFaults faults_;
};

/* True for the values 1, 2, 3, 4 and 8. */
bool isAlState(std::uint8_t value);
const char* alStateName(AlState state);

} // namespace sim

#endif
