// The SoE endpoint of an emulated drive: a mailbox handler that reads and writes elements of the
// drive's IDNs. Reads longer than the send mailbox go out in fragments (incomplete bit set, the
// IDN field counting the fragments still to come); writes may arrive in fragments, which are
// collected until the one with the incomplete bit clear, and only then applied and answered.
// Drive number 0 is the only drive; elements served are value, attribute and name.
//
// Errors answered (error bit set, code in the last word): 0x1001 no such IDN, 0x1009 an element
// the drive does not serve, 0x7002/0x7003 a value too short/too long for its attribute, 0x7004 a
// read-only IDN, 0x800A another drive number, or the code a test set with failWrites().
#pragma once

#include "core/mailbox.h"
#include "soe/soeprotocol.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace sim {
namespace soe {

struct Idn
{
    std::string name;
    std::uint32_t attribute = 0;
    Bytes value;
    bool writable = false;
};

// One write fragment as it arrived, for tests that look at the fragmenting.
struct WriteFragment
{
    bool incomplete;
    std::uint16_t idnField;
    std::size_t dataBytes;
};

class SoeServer : public MailboxHandler
{
public:
    SoeServer(std::size_t receiveMailboxSize, std::size_t sendMailboxSize);

    void onMessage(const Bytes& message, MailboxReplies& out) override;

    void add(std::uint16_t number, Idn idn) { idns_[number] = std::move(idn); }
    const Idn* find(std::uint16_t number) const;

    // Every write from now on is answered with this error code (0: writes work again).
    void failWrites(std::uint16_t code) { failWrites_ = code; }
    const std::vector<WriteFragment>& writeFragments() const { return fragments_; }

    // Forget a fragmented write in progress.
    void reset() { collecting_.reset(); }

private:
    std::vector<Bytes> read(const SoeHeader& request) const;
    std::optional<Bytes> write(const SoeHeader& request, const Bytes& mailbox);
    std::uint16_t apply(std::uint16_t number, std::uint8_t elements, const Bytes& data);
    Bytes failure(Op op, const SoeHeader& request, std::uint16_t code) const;

    std::size_t receiveMailboxSize_;
    std::size_t sendMailboxSize_;
    std::map<std::uint16_t, Idn> idns_;
    std::optional<Bytes> collecting_;
    std::vector<WriteFragment> fragments_;
    std::uint16_t failWrites_ = 0;
};

} // namespace soe
} // namespace sim
