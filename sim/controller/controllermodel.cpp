// Identities and SII images of the four controller models.
#include "controller/controllermodel.h"

#include "core/siibuilder.h"

namespace sim {
namespace {

namespace cl = controller_layout;

// EtherCAT data types of the PDO entries.
constexpr std::uint8_t kInt32 = 0x04;
constexpr std::uint8_t kUint16 = 0x06;

SiiPdo outputPdo()
{
    SiiPdo pdo;
    pdo.index = 0x1600;
    pdo.syncManager = 2;
    pdo.entries = {{0x7000, 1, 0, kInt32, 32, 0}, {0x7000, 2, 0, kUint16, 16, 0}};
    return pdo;
}

SiiPdo inputPdo()
{
    SiiPdo pdo;
    pdo.index = 0x1A00;
    pdo.syncManager = 3;
    pdo.entries = {{0x6000, 1, 0, kInt32, 32, 0}, {0x6000, 2, 0, kInt32, 32, 0},
        {0x6000, 3, 0, kUint16, 16, 0}};
    return pdo;
}

std::vector<SiiSyncManager> syncManagers()
{
    return {
        {cl::MailboxOut, cl::MailboxSize, 0x26, 0, 1, 1},
        {cl::MailboxIn, cl::MailboxSize, 0x22, 0, 1, 2},
        {cl::Outputs, cl::OutputBytes, 0x64, 0, 1, 3},
        {cl::Inputs, cl::InputBytes, 0x20, 0, 1, 4},
    };
}

} // namespace

ModelInfo modelInfo(ControllerModel model)
{
    switch (model) {
    case ControllerModel::Tmcm174:
        return {"TMCM-174", 0x000000AE, "TMCM-174.bin", true};
    case ControllerModel::Tmcm1632:
        return {"TMCM-1632", 0x00000660, "TMCM-1632.bin", true};
    case ControllerModel::TmcmZq841:
        return {"TMCM-ZQ-841", 0x00000349, "TMCM-841.bin", false};
    case ControllerModel::Tmcm1610:
        break;
    }
    return {"TMCM-1610", 0x0000064A, "TMCM-1610.bin", false};
}

Bytes controllerSii(ControllerModel model, std::uint32_t serial)
{
    const ModelInfo info = modelInfo(model);
    SiiGeneral general;
    general.foeDetails = 1;
    general.ebusCurrent = 0;
    return SiiBuilder()
        .identity(cl::VendorId, info.productCode, cl::Revision, serial)
        .name(info.name)
        .standardMailbox(cl::MailboxOut, cl::MailboxSize, cl::MailboxIn, cl::MailboxSize)
        .bootstrapMailbox(
            cl::BootMailboxOut, cl::BootMailboxSize, cl::BootMailboxIn, cl::BootMailboxSize)
        .mailboxProtocols(mbxproto::FoE)
        .general(general)
        .fmmus({1, 2, 3})
        .syncManagers(syncManagers())
        .rxPdo(outputPdo())
        .txPdo(inputPdo())
        .build();
}

} // namespace sim
