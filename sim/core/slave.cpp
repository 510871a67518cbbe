/*
 * One emulated slave: the controller and the device's own side behind it.
 */
#include "core/slave.h"

#include "core/siibuilder.h"

#include <algorithm>

namespace sim {

namespace {
/* The SyncManager category entries of the SII, read word by word within the EEPROM. */
std::vector<SiiSyncManager> siiSyncManagers(const Eeprom& eeprom)
{
    std::vector<SiiSyncManager> sms;
    const std::uint32_t words = std::uint32_t(eeprom.image().size() / 2);
    std::uint32_t at = siiword::FirstCategory;
    while (at + 1 < words) {
        const std::uint16_t type = eeprom.word(at);
        const std::uint16_t length = eeprom.word(at + 1);
        if (type == siicat::End)
            break;
        if (type == siicat::SyncManager) {
            for (std::uint32_t e = 0; e + 4 <= length && at + 2 + e + 3 < words; e += 4) {
                const std::uint32_t w = at + 2 + e;
                SiiSyncManager sm;
                sm.start = eeprom.word(w);
                sm.length = eeprom.word(w + 1);
                sm.control = std::uint8_t(eeprom.word(w + 2));
                sm.status = std::uint8_t(eeprom.word(w + 2) >> 8);
                sm.enable = std::uint8_t(eeprom.word(w + 3));
                sm.usage = std::uint8_t(eeprom.word(w + 3) >> 8);
                sms.push_back(sm);
            }
            break;
        }
        at += 2 + std::uint32_t(length);
    }
    return sms;
}
} // namespace

Slave::Slave(Bytes sii, const EscOptions& options)
    : esc_(std::make_unique<Esc>(std::move(sii), options))
    , mailbox_(std::make_unique<Mailbox>())
{
    adaptSyncManagers(AlState::Init);
}

void Slave::processDatagram(DatagramView& datagram, std::uint64_t nowUs)
{
    esc_->process(datagram, nowUs);
}

void Slave::goOffline(std::uint64_t untilUs)
{
    online_ = false;
    backAt_ = untilUs;
}

void Slave::wake(std::uint64_t nowUs)
{
    if (!backAt_ || nowUs < *backAt_)
        return;
    backAt_.reset();
    online_ = true;
    putLe16(&esc_->memory()[reg::StationAddress], 0);
}

bool Slave::endFrame(std::uint64_t nowUs)
{
    lastFrameUs_ = nowUs;
    const AlState from = state();
    if (esc_->al().commit([this](AlState f, AlState t) { return judge(f, t); }))
        enteredState(from, state());
    // A SyncManager the master set up since the last frame follows the state as well.
    if (state() != adaptedState_ || esc_->syncManagers().registerWrites() != adaptedWrites_)
        adaptSyncManagers(state());
    const bool lose = mailbox_->service(esc_->syncManagers(), esc_->memory(), state());
    if (hooks_.afterFrame)
        hooks_.afterFrame(*this);
    return lose;
}

void Slave::enteredState(AlState from, AlState to)
{
    adaptSyncManagers(to);
    if (to == AlState::Init)
        mailbox_->clear();
    if (to == AlState::SafeOp) {
        writesAtSafeOp_.clear();
        for (int n = 0; n < esc_->syncManagers().count(); ++n)
            writesAtSafeOp_.push_back(esc_->syncManagers().writesCompleted(n));
    }
    if (hooks_.stateChanged)
        hooks_.stateChanged(*this, from, to);
}

/* Mailboxes work in every state but INIT; process data only in SAFE-OP and OP. */
void Slave::adaptSyncManagers(AlState state)
{
    SyncManagers& sms = esc_->syncManagers();
    const bool mailboxOn = state != AlState::Init;
    const bool processDataOn = state == AlState::SafeOp || state == AlState::Op;
    for (int n = 0; n < sms.count(); ++n)
        sms.setDeactivated(n, !(sms.at(n).mailbox() ? mailboxOn : processDataOn));
    adaptedState_ = state;
    adaptedWrites_ = sms.registerWrites();
}

bool Slave::mailboxMatches(int sm, std::uint32_t siiWord, bool masterWrites) const
{
    const SyncManagers& sms = esc_->syncManagers();
    if (sm >= sms.count())
        return false;
    const SyncManager& s = sms.at(sm);
    const Eeprom& e = esc_->eeprom();
    return s.start == e.word(siiWord) && s.length == e.word(siiWord + 1) && s.mailbox()
        && s.masterWrites() == masterWrites && (s.activate & 0x01) != 0;
}

std::uint16_t Slave::judge(AlState from, AlState to)
{
    const Eeprom& e = esc_->eeprom();
    if (to == AlState::PreOp && from == AlState::Init) {
        if (e.word(siiword::RxMailbox + 1) == 0)
            return alcode::NoError; // no mailbox, nothing to check
        const bool ok = mailboxMatches(0, siiword::RxMailbox, true)
            && mailboxMatches(1, siiword::TxMailbox, false);
        return ok ? alcode::NoError : alcode::InvalidMailbox;
    }
    if (to == AlState::Boot) {
        if (e.word(siiword::BootRxMailbox + 1) == 0)
            return alcode::BootstrapNotSupported;
        const bool ok = mailboxMatches(0, siiword::BootRxMailbox, true)
            && mailboxMatches(1, siiword::BootTxMailbox, false);
        return ok ? alcode::NoError : alcode::InvalidBootMailbox;
    }
    if ((to == AlState::SafeOp || to == AlState::Op) && hooks_.checkTransition)
        return hooks_.checkTransition(*this, from, to);
    return alcode::NoError;
}

const std::uint8_t* Slave::outputData(int sm, std::size_t& length) const
{
    const SyncManager& s = esc_->syncManagers().at(sm);
    length = s.span();
    return &esc_->memory()[s.start];
}

void Slave::setInputs(int sm, const std::uint8_t* data, std::size_t length)
{
    const SyncManager& s = esc_->syncManagers().at(sm);
    const std::size_t n = std::min<std::size_t>(length, s.span());
    std::copy(data, data + n, esc_->memory().begin() + s.start);
}

Bytes Slave::outputs(int sm) const
{
    const SyncManager& s = esc_->syncManagers().at(sm);
    const Bytes& m = esc_->memory();
    return Bytes(m.begin() + s.start, m.begin() + s.start + s.span());
}

void Slave::setInputs(int sm, const Bytes& data)
{
    setInputs(sm, data.data(), data.size());
}

std::uint32_t Slave::outputWritesSinceSafeOp(int sm) const
{
    const std::uint32_t now = esc_->syncManagers().writesCompleted(sm);
    const std::size_t n = std::size_t(sm);
    return n < writesAtSafeOp_.size() ? now - writesAtSafeOp_[n] : now;
}

void Slave::powerCycle()
{
    esc_->reset();
    mailbox_->clear();
    writesAtSafeOp_.clear();
    adaptSyncManagers(AlState::Init);
    if (hooks_.powerCycled)
        hooks_.powerCycled(*this);
}

std::function<std::uint16_t(Slave&, AlState, AlState)> standardProcessDataRules()
{
    return [](Slave& slave, AlState /*from*/, AlState to) -> std::uint16_t {
        const std::vector<SiiSyncManager> sii = siiSyncManagers(slave.esc().eeprom());
        const SyncManagers& sms = slave.esc().syncManagers();
        for (std::size_t k = 0; k < sii.size(); ++k) {
            const SiiSyncManager& want = sii[k];
            if ((want.usage != 3 && want.usage != 4) || want.length == 0)
                continue;
            const std::uint16_t fault = want.usage == 3 ? alcode::InvalidOutputConfiguration
                                                        : alcode::InvalidInputConfiguration;
            if (int(k) >= sms.count())
                return fault;
            const SyncManager& have = sms.at(int(k));
            if (have.start != want.start || have.length != want.length
                || (have.activate & 0x01) == 0)
                return fault;
            if (to == AlState::Op && want.usage == 3 && slave.outputWritesSinceSafeOp(int(k)) == 0)
                return alcode::NoValidOutputs;
        }
        return alcode::NoError;
    };
}

} // namespace sim
