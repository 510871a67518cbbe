/*
 * Register map of the emulated EtherCAT slave controller and the codes that travel in it.
 *
 * The values are those of the EtherCAT standard; they are repeated here, not taken from the
 * master, so that the two sides check each other.
 */
#ifndef SIM_CORE_REGISTERS_H
#define SIM_CORE_REGISTERS_H

#include <cstdint>

namespace sim {

namespace reg {
constexpr std::uint16_t Type = 0x0000;
constexpr std::uint16_t Revision = 0x0001;
constexpr std::uint16_t Build = 0x0002;
constexpr std::uint16_t FmmuCount = 0x0004;
constexpr std::uint16_t SyncManagerCount = 0x0005;
constexpr std::uint16_t RamSize = 0x0006;
constexpr std::uint16_t PortDescriptor = 0x0007;
constexpr std::uint16_t Features = 0x0008;
constexpr std::uint16_t StationAddress = 0x0010;
constexpr std::uint16_t StationAlias = 0x0012;
constexpr std::uint16_t DlControl = 0x0100;
constexpr std::uint16_t DlStatus = 0x0110;
constexpr std::uint16_t AlControl = 0x0120;
constexpr std::uint16_t AlStatus = 0x0130;
constexpr std::uint16_t AlStatusCode = 0x0134;
constexpr std::uint16_t PdiControl = 0x0140;
constexpr std::uint16_t EventMask = 0x0200;
constexpr std::uint16_t RxErrorCounters = 0x0300; /* per port: invalid frames, RX errors */
constexpr std::uint16_t ForwardedRxErrors = 0x0308; /* one byte per port */
constexpr std::uint16_t ProcessingUnitErrors = 0x030C;
constexpr std::uint16_t PdiErrors = 0x030D;
constexpr std::uint16_t LostLinkCounters = 0x0310; /* one byte per port */
constexpr std::uint16_t ErrorCountersEnd = 0x0314;
constexpr std::uint16_t EepromConfig = 0x0500;
constexpr std::uint16_t EepromPdiAccess = 0x0501;
constexpr std::uint16_t EepromControl = 0x0502;
constexpr std::uint16_t EepromAddress = 0x0504;
constexpr std::uint16_t EepromData = 0x0508;
constexpr std::uint16_t EepromEnd = 0x0510;
constexpr std::uint16_t Fmmu0 = 0x0600;
constexpr std::uint16_t SyncManager0 = 0x0800;
constexpr std::uint16_t DcReceiveTime0 = 0x0900;
constexpr std::uint16_t DcSystemTime = 0x0910;
constexpr std::uint16_t DcReceiveTimeUnit = 0x0918;
constexpr std::uint16_t DcSystemTimeOffset = 0x0920;
constexpr std::uint16_t DcSystemTimeDelay = 0x0928;
constexpr std::uint16_t ProcessRam = 0x1000;
} // namespace reg

/* Datagram command codes. */
enum class Command : std::uint8_t {
    Nop = 0,
    Aprd = 1,
    Apwr = 2,
    Aprw = 3,
    Fprd = 4,
    Fpwr = 5,
    Fprw = 6,
    Brd = 7,
    Bwr = 8,
    Brw = 9,
    Lrd = 10,
    Lwr = 11,
    Lrw = 12,
    Armw = 13,
    Frmw = 14,
};

/* AL states as they stand in AL Control and AL Status (low nibble). */
enum class AlState : std::uint8_t {
    Init = 1,
    PreOp = 2,
    Boot = 3,
    SafeOp = 4,
    Op = 8,
};

/* AL Status Codes the emulated slave reports. */
namespace alcode {
constexpr std::uint16_t NoError = 0x0000;
constexpr std::uint16_t InvalidStateChange = 0x0011;
constexpr std::uint16_t UnknownState = 0x0012;
constexpr std::uint16_t BootstrapNotSupported = 0x0013;
constexpr std::uint16_t NoValidFirmware = 0x0014;
constexpr std::uint16_t InvalidBootMailbox = 0x0015;
constexpr std::uint16_t InvalidMailbox = 0x0016;
constexpr std::uint16_t InvalidSyncManager = 0x0017;
constexpr std::uint16_t NoValidOutputs = 0x0019;
constexpr std::uint16_t InvalidOutputConfiguration = 0x001D;
constexpr std::uint16_t InvalidInputConfiguration = 0x001E;
} // namespace alcode

/* Mailbox protocol bits of SII word 0x001C. */
namespace mbxproto {
constexpr std::uint16_t AoE = 0x01;
constexpr std::uint16_t EoE = 0x02;
constexpr std::uint16_t CoE = 0x04;
constexpr std::uint16_t FoE = 0x08;
constexpr std::uint16_t SoE = 0x10;
constexpr std::uint16_t VoE = 0x20;
} // namespace mbxproto

constexpr std::uint16_t EtherTypeEthercat = 0x88A4;

} // namespace sim

#endif
