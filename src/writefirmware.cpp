/*
 * Firmware writer: one controller, one bus session, the image sent by FoE in BOOT.
 *
 * The image buffer is process-wide storage like the master's tables; the caller holds the bus
 * session, so no other download or bus session can overlap this one.
 */
#include "writefirmware.h"

#include <QFile>
#include <QtGlobal>

#include "BusSession.h"

#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "nicdrv.h"

#include <stdio.h>
#include <string.h>

namespace {

unsigned char filebuffer[WriteFirmware::FileBufferSize];
int filesize;
int j;
uint32 data;

// Time-outs of the download, in µs.
const int InitTimeout = 8000000;
const int BootTimeout = 20000000;
const int EepromTimeout = 20000;
const int FoeAnswerTimeout = 2000000;

struct ModelImage {
    const char *model;
    const char *file;
};

const ModelImage modelImages[] = {
    {"TMCM-ZQ-841", "TMCM-841.bin"},
    {"TMCM-1610", "TMCM-1610.bin"},
    {"TMCM-174", "TMCM-174.bin"},
    {"TMCM-1632", "TMCM-1632.bin"},
};

void say(const char *text)
{
    fputs(text, stdout);
    fflush(stdout);
}

// Returns the image file for the controller at `slave`, or nullptr when it is none of the models
// (or the number is not a slave of this bus).
const char *imageFor(int slave)
{
    if (slave < 1 || slave > ec_slavecount || slave >= EC_MAXSLAVE)
        return nullptr;
    const char *name = ec_slave[slave].name;
    for (const ModelImage &m : modelImages) {
        if (strncmp(name, m.model, sizeof(ec_slave[slave].name)) == 0)
            return m.file;
    }
    return nullptr;
}

// Reads one bootstrap mailbox word pair from the EEPROM into SyncManager entry `sm`; returns the
// start (low word) and size (high word).
void readBootMailbox(uint16 slave, uint16 address, int sm, uint16 *start, uint16 *length)
{
    data = ec_readeeprom(slave, address, EepromTimeout);
    *start = (uint16)(data & 0xFFFF);
    *length = (uint16)(data >> 16);
    // A window among the ESC's registers is no mailbox: FoE then refuses the slave.
    if (!ec_mbxwindowok(*start, *length))
        *length = 0;
    ec_slave[slave].SM[sm].StartAddr = *start;
    ec_slave[slave].SM[sm].SMlength = *length;
}

// Switches the slave's mailbox to the bootstrap layout of its EEPROM, in the slave table and in
// SyncManagers 0 and 1.
void useBootMailbox(uint16 slave)
{
    ec_slavet *s = &ec_slave[slave];
    readBootMailbox(slave, ECT_SII_BOOTRXMBX, 0, &s->mbx_wo, &s->mbx_l);
    readBootMailbox(slave, ECT_SII_BOOTTXMBX, 1, &s->mbx_ro, &s->mbx_rl);
    ec_FPWR(s->configadr, ECT_REG_SM0, sizeof(ec_smt), &s->SM[0], EC_TIMEOUT_FRAME);
    ec_FPWR(s->configadr, ECT_REG_SM1, sizeof(ec_smt), &s->SM[1], EC_TIMEOUT_FRAME);
}

// Requests `state` for the slave; with a time-out, waits for it and returns the state reached.
// Some controllers restart between application and boot loader and come back without their
// station address; the wait finds them again.
uint16 requestState(uint16 slave, uint16 state, int timeout)
{
    ec_slave[slave].state = state;
    ec_writestate(slave);
    return timeout > 0 ? ec_statecheck_recover(slave, state, timeout) : 0;
}

// Brings the slave to INIT with its error flag acknowledged. A controller without a valid
// application refused the PRE-OP of the enumeration and takes no request until the refusal is
// acknowledged; some hold the flag over the first acknowledge, so it is repeated while set.
void toInit(uint16 slave)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        requestState(slave, EC_STATE_INIT | EC_STATE_ACK, 0);
        ec_statecheck_recover(slave, EC_STATE_INIT, InitTimeout);
        if ((ec_slave[slave].state & EC_STATE_ERROR) == 0)
            return;
    }
}

int closeWith(int result)
{
    ec_close();
    return result;
}

void reportProgress(void *arg, int acked, int total)
{
    const WriteFirmware::Progress &progress = *static_cast<const WriteFirmware::Progress *>(arg);
    progress(acked, total);
}

} // namespace

WriteFirmware::WriteFirmware() {}

void WriteFirmware::setImageDirectory(const QString &directory)
{
    imageDirectory_ = directory;
}

int WriteFirmware::writeFirmware(QString eth, int slave, const Progress &progress)
{
    Q_ASSERT_X(BusSession::usableHere(), "WriteFirmware::writeFirmware",
               "another thread holds the bus session");
    const QByteArray ifname = eth.toLocal8Bit();
    if (ec_init(ifname.constData()) <= 0) {
        printf("No socket connection on %s\nExcecute as root\n", ifname.constData());
        fflush(stdout);
        return NoSocket;
    }
    if (ec_config_init(0) <= 0) {
        say("No slaves found!\n");
        return closeWith(NoSlaves);
    }
    const char *image = imageFor(slave);
    if (image == nullptr) {
        say("wrong slave detected!\n");
        return closeWith(WrongSlave);
    }
    char file[32];
    snprintf(file, sizeof file, "%s", image);
    const uint16 s = (uint16)slave;

    toInit(s);
    useBootMailbox(s);
    if (requestState(s, EC_STATE_BOOT, BootTimeout) != EC_STATE_BOOT) {
        say("Slave did not enter BOOT state.\n");
        // A refusal leaves the error flag set; acknowledging it returns the slave to clean INIT.
        requestState(s, EC_STATE_INIT | EC_STATE_ACK, 0);
        return closeWith(BootRefused);
    }
    QByteArray path = QByteArray(file);
    if (!imageDirectory_.isEmpty())
        path = QFile::encodeName(imageDirectory_) + '/' + path;
    if (input_bin(path.data(), &filesize) != 1) {
        say("File not read OK.\n");
        return closeWith(FileNotRead);
    }
    j = ec_FOEwrite_progress(s, file, 0, filesize, filebuffer, FoeAnswerTimeout,
                             progress ? &reportProgress : nullptr,
                             const_cast<Progress *>(&progress));
    // Waited for, so that a controller that restarts on leaving BOOT is back on the bus (with its
    // address) before the next controller's session counts the slaves.
    if (requestState(s, EC_STATE_INIT, InitTimeout) != EC_STATE_INIT)
        say("Slave did not return to INIT state.\n");
    if (j != 1) {
        say("write not successfull\n");
        return closeWith(WriteFailed);
    }
    say("write successfull\n");
    return closeWith(Written);
}

bool WriteFirmware::mayBeLeftInBoot(int result)
{
    // Both come after the BOOT request was granted; a write that failed leaves the controller's
    // boot loader waiting for an image, and an unreadable file ends the session without INIT.
    return result == FileNotRead || result == WriteFailed;
}

int WriteFirmware::input_bin(char *fname, int *length)
{
    *length = 0;
    FILE *f = fopen(fname, "rb");
    if (f == nullptr)
        return 0;
    const size_t got = fread(filebuffer, 1, sizeof filebuffer, f);
    const bool failed = ferror(f) != 0;
    // One byte more than the buffer holds means the image would be flashed incomplete.
    const bool tooLarge = !failed && got == sizeof filebuffer && fgetc(f) != EOF;
    fclose(f);
    if (failed)
        return 0;
    if (tooLarge) {
        printf("Image file %s is larger than %d bytes.\n", fname, FileBufferSize);
        fflush(stdout);
        return -1;
    }
    *length = (int)got;
    return 1;
}
