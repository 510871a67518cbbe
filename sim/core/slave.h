/*
 * One emulated slave: a slave controller (`Esc`) with the slave's own side behind it, the part a
 * real device's firmware plays: it judges AL state requests, (de)activates its SyncManagers with
 * the state, serves the mailbox through the attached protocol handlers, and offers its process
 * data to a device model.
 *
 * Building a slave:
 *
 *   sim::Slave slave(sim::SiiBuilder().identity(...).name("TMCM-1610")
 *                        .standardMailbox(0x1000, 0x80, 0x1080, 0x80).build());
 *   slave.mailbox().setHandler(std::make_shared<MyProtocol>(), {sim::AlState::PreOp,
 *                                sim::AlState::SafeOp, sim::AlState::Op});
 *
 * AL rules: PRE-OP is granted only when SyncManagers 0 and 1 are set up as the SII's standard
 * mailbox (start, length, mailbox mode, direction, enabled); BOOT only from INIT, only when the SII
 * has a bootstrap mailbox, and only when SyncManagers 0 and 1 are set up as that. The SAFE-OP and
 * OP rules come from `SlaveHooks` (default: granted); `standardProcessDataRules` provides the usual
 * ones.
 */
#ifndef SIM_CORE_SLAVE_H
#define SIM_CORE_SLAVE_H

#include "core/esc.h"
#include "core/mailbox.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace sim {

class Slave;

/* The slave's pluggable behaviour; every member may be left empty. */
struct SlaveHooks
{
    /* Judge PRE-OP/SAFE-OP/OP -> SAFE-OP and SAFE-OP/OP -> OP: 0 grants, else the AL Status
     * Code. */
    std::function<std::uint16_t(Slave&, AlState from, AlState to)> checkTransition;
    /* Told after every change of the AL state. */
    std::function<void(Slave&, AlState from, AlState to)> stateChanged;
    /* Told after every frame that passed the slave (a device model updates its inputs here). */
    std::function<void(Slave&)> afterFrame;
    /* Told after a power cycle (stored data survive it, the rest restarts). */
    std::function<void(Slave&)> powerCycled;
};

class Slave
{
public:
    explicit Slave(Bytes sii, const EscOptions& options = {});

    Esc& esc() { return *esc_; }
    const Esc& esc() const { return *esc_; }
    Mailbox& mailbox() { return *mailbox_; }
    SlaveHooks& hooks() { return hooks_; }
    AlState state() const { return esc_->al().state(); }

    /* Fault switches, gathered here for tests. */
    AlFaults& alFaults() { return esc_->al().faults(); }
    EepromFaults& eepromFaults() { return esc_->eeprom().faults(); }
    MailboxFaults& mailboxFaults() { return mailbox_->faults(); }

    /* A slave that is off the bus neither answers nor passes frames on. */
    bool online() const { return online_; }
    void setOnline(bool online) { online_ = online; }
    /* Off the bus until the bus time `untilUs`; back with its station address cleared, as an
     * ESC that restarted. `wake` (called by the chain before each frame) brings it back. */
    void goOffline(std::uint64_t untilUs);
    void wake(std::uint64_t nowUs);
    /* Bus time of the last frame that passed this slave. */
    std::uint64_t lastFrameUs() const { return lastFrameUs_; }

    /* Process data, slave side: the latest complete outputs in SyncManager `sm`'s area, and the
     * inputs the master will read from it. */
    Bytes outputs(int sm) const;
    void setInputs(int sm, const Bytes& data);
    /* The same without copies, for a device model that runs after every frame: the output bytes
     * in place (`length` set to their number), and inputs from a buffer. */
    const std::uint8_t* outputData(int sm, std::size_t& length) const;
    void setInputs(int sm, const std::uint8_t* data, std::size_t length);
    /* Complete output writes into SyncManager `sm` since SAFE-OP was last entered. */
    std::uint32_t outputWritesSinceSafeOp(int sm) const;

    /* Power cycle: back to INIT with cleared registers; the SII, the handlers and the hooks
     * stay. */
    void powerCycle();

    /* Used by the chain: apply one datagram; finish a frame (the slave's side reacts). `endFrame`
     * returns true when the frame must be lost here. */
    void processDatagram(DatagramView& datagram, std::uint64_t nowUs);
    bool endFrame(std::uint64_t nowUs);

private:
    std::uint16_t judge(AlState from, AlState to);
    bool mailboxMatches(int sm, std::uint32_t siiWord, bool masterWrites) const;
    void adaptSyncManagers(AlState state);
    void enteredState(AlState from, AlState to);

    std::unique_ptr<Esc> esc_;
    std::unique_ptr<Mailbox> mailbox_;
    SlaveHooks hooks_;
    bool online_ = true;
    std::optional<std::uint64_t> backAt_;
    std::uint64_t lastFrameUs_ = 0;
    std::vector<std::uint32_t> writesAtSafeOp_;
    /* What adaptSyncManagers last followed: the state and the SyncManagers' set-up. */
    AlState adaptedState_ = AlState::Init;
    std::uint32_t adaptedWrites_ = 0;
};

/* The usual SAFE-OP and OP rules: SAFE-OP needs every process data SyncManager of the SII SM
 * category (use 3 outputs, 4 inputs, non-zero length) set up at its SII start and length and
 * enabled (else 0x001D for outputs, 0x001E for inputs); OP needs the outputs to have been written
 * at least once since SAFE-OP was entered (else 0x0019). Install with
 * `slave.hooks().checkTransition = sim::standardProcessDataRules();`. */
std::function<std::uint16_t(Slave&, AlState, AlState)> standardProcessDataRules();

} // namespace sim

#endif
