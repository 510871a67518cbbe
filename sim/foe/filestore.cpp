// The file-storing slave: an FoE server on the bootstrap mailbox backed by a map of files.
#include "foe/filestore.h"

#include "core/siibuilder.h"
#include "pdo/protocolslave.h"

namespace sim {

namespace {

constexpr std::uint16_t MailboxOut = 0x1000;
constexpr std::uint16_t MailboxIn = 0x1080;
constexpr std::uint16_t MailboxSize = 128;
constexpr std::uint16_t BootOut = 0x1000;
constexpr std::uint16_t BootIn = 0x1200;
constexpr std::uint16_t BootSize = 512;

} // namespace

FileStoreSlave makeFileStoreSlave()
{
    SiiGeneral general;
    general.foeDetails = 1;
    Slave slave(SiiBuilder()
                    .identity(pdo::TestVendorId, FileStoreProductCode, 1)
                    .name("FoE File Store")
                    .standardMailbox(MailboxOut, MailboxSize, MailboxIn, MailboxSize)
                    .bootstrapMailbox(BootOut, BootSize, BootIn, BootSize)
                    .mailboxProtocols(mbxproto::FoE)
                    .general(general)
                    .build());
    auto foe = std::make_shared<FoeServer>(FoeServer::Mailboxes{BootSize, BootSize});
    auto files = std::make_shared<std::map<std::string, Bytes>>();
    foe->setWriteAcceptor([](const std::string&, std::uint32_t) { return FoeVerdict::accept(); });
    // The server and the hook hold the files; nothing of them points back, so no cycle forms.
    foe->setWriteCompletion(
        [files](const std::string& name, const Bytes& file) { (*files)[name] = file; });
    foe->setReadProvider([files](const std::string& name, std::uint32_t) {
        const auto found = files->find(name);
        if (found == files->end())
            return FoeFile{FoeVerdict::refuse(foe_error::NotFound, "Not found"), {}};
        return FoeFile{FoeVerdict::accept(), found->second};
    });
    slave.mailbox().setHandler(foe, {AlState::Boot});
    // A transfer broken off by leaving BOOT must not linger into the next one.
    slave.hooks().stateChanged = [foe](Slave&, AlState from, AlState) {
        if (from == AlState::Boot)
            foe->reset();
    };
    return {std::move(slave), foe, files};
}

} // namespace sim
