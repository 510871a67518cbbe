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
#include "RobotLayout.h"

#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatfoe.h"
#include "eclink.h"
#include "ectiming.h"
#include "ethercatmain.h"
#include "nicdrv.h"

#include <stdio.h>
#include <string.h>

namespace {

unsigned char filebuffer[WriteFirmware::FileBufferSize];
int filesize;
int j;
uint32 data;

// Returns the image file for the controller at `slave`, or nullptr when it is none of the models
// (or the number is not a slave of this bus).
const char* imageFor(int slave)
{
    if (slave < 1 || slave > ec_slavecount || slave >= EC_MAXSLAVE)
        return nullptr;
    const RobotLayout::ControllerModel* model
        = RobotLayout::modelNamed(ec_slave[slave].name, sizeof(ec_slave[slave].name));
    return model != nullptr ? model->image : nullptr;
}

// Reads one bootstrap mailbox word pair from the EEPROM into SyncManager entry `sm`; returns the
// start (low word) and size (high word).
void readBootMailbox(uint16 slave, uint16 address, int sm, uint16* start, uint16* length)
{
    data = ec_readeeprom(slave, address, WriteFirmware::EepromTimeout);
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
    ec_slavet* s = &ec_slave[slave];
    readBootMailbox(slave, ECT_SII_BOOTRXMBX, 0, &s->mbx_wo, &s->mbx_l);
    readBootMailbox(slave, ECT_SII_BOOTTXMBX, 1, &s->mbx_ro, &s->mbx_rl);
    ec_FPWR(s->configadr, ECT_REG_SM0, sizeof(ec_smt), &s->SM[0], EC_TIMEOUT_FRAME);
    ec_FPWR(s->configadr, ECT_REG_SM1, sizeof(ec_smt), &s->SM[1], EC_TIMEOUT_FRAME);
}

void noteRestart(void* arg)
{
    (*static_cast<const std::function<void()>*>(arg))();
}

int closeWith(int result)
{
    ec_close();
    return result;
}

void reportProgress(void* arg, int acked, int total)
{
    const WriteFirmware::Progress& progress = *static_cast<const WriteFirmware::Progress*>(arg);
    progress(acked, total);
}

} // namespace

WriteFirmware::WriteFirmware() {}

void WriteFirmware::setImageDirectory(const QString& directory)
{
    imageDirectory_ = directory;
}

void WriteFirmware::setRestartNotice(const RestartNotice& notice)
{
    restartNotice_ = notice;
}

void WriteFirmware::awaitRestart(int position, const QString& name, qint64 switchedUs, int slaves)
{
    restarting_.position = position;
    restarting_.name = name.toLatin1();
    restarting_.switchedUs = switchedUs;
    restarting_.slaves = slaves;
}

// A controller restarts between its application and its boot loader with the switch; every state
// wait of the download may therefore find it gone for a while, and finds it again.
quint16 WriteFirmware::switchTo(quint16 slave, quint16 state, int timeout)
{
    ec_slave[slave].state = state;
    ec_writestate(slave);
    if (timeout <= 0)
        return 0;
    const std::function<void()> note = [this, slave] {
        if (restartNotice_)
            restartNotice_(slave);
    };
    return ec_statecheck_recover(slave, state, timeout, EC_TIMEOUT_RESTART, &noteRestart,
        const_cast<std::function<void()>*>(&note));
}

// Brings the slave to INIT with its error flag acknowledged. A controller without a valid
// application refused the PRE-OP of the enumeration and takes no request until the refusal is
// acknowledged; some hold the flag over the first acknowledge, so it is repeated while set.
void WriteFirmware::toInit(quint16 slave)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        switchTo(slave, EC_STATE_INIT | EC_STATE_ACK, 0);
        switchTo(slave, EC_STATE_INIT, InitTimeout);
        if ((ec_slave[slave].state & EC_STATE_ERROR) == 0)
            return;
    }
}

// A controller the previous download switched out of BOOT that is still restarting cuts the bus
// at its position: the slaves behind it are not counted, and the axis to write may be one of them.
int WriteFirmware::enumerate()
{
    int found = ec_config_init(0);
    const Restarting& r = restarting_;
    const auto cutThere
        = [&r](int count) { return r.position > 0 && count == r.position - 1 && count < r.slaves; };
    if (!cutThere(found))
        return found;
    if (restartNotice_)
        restartNotice_(r.position);
    // Counted by one broadcast read at a time; the whole enumeration only once more answer.
    const qint64 until = r.switchedUs + EC_TIMEOUT_RESTART;
    while (cutThere(found) && ec_clock_now() < until) {
        ec_clock_sleep(EC_RECOVERPOLL);
        uint16 type = 0;
        if (ec_BRD(0x0000, ECT_REG_TYPE, sizeof type, &type, EC_TIMEOUT_SAFE) > found)
            found = ec_config_init(0);
    }
    if (!cutThere(found) && found <= 0)
        return found;
    if (cutThere(found) || r.position >= EC_MAXSLAVE
        || strncmp(ec_slave[r.position].name, r.name.constData(), sizeof ec_slave[0].name) != 0) {
        lostPosition_ = r.position;
        return RestartLost;
    }
    return found;
}

void WriteFirmware::say(const QByteArray& text) const
{
    if (sink_) {
        sink_(QString::fromLocal8Bit(text));
        return;
    }
    fputs(text.constData(), stdout);
    fflush(stdout);
}

void WriteFirmware::setLineSink(const LineSink& sink)
{
    sink_ = sink;
}

int WriteFirmware::writeFirmware(QString eth, int slave, const Progress& progress)
{
    if (!BusSession::heldHere()) {
        say("The bus session is not held by the caller.\n");
        return NoSession;
    }
    switchedUs_ = 0;
    alStatusCode_ = 0;
    lostPosition_ = 0;
    const QByteArray ifname = eth.toLocal8Bit();
    if (ec_init(ifname.constData()) <= 0) {
        say("No socket connection on " + ifname + "\nExcecute as root\n");
        return NoSocket;
    }
    const int found = enumerate();
    if (found == RestartLost) {
        say("Slave did not come back after its restart.\n");
        return closeWith(RestartLost);
    }
    if (found <= 0) {
        say("No slaves found!\n");
        return closeWith(NoSlaves);
    }
    const char* image = imageFor(slave);
    if (image == nullptr) {
        say("wrong slave detected!\n");
        return closeWith(WrongSlave);
    }
    char file[32];
    snprintf(file, sizeof file, "%s", image);
    const uint16 s = (uint16)slave;

    // The image is read before the controller is touched: a controller taken to BOOT for an image
    // that cannot be sent would wait there for a power cycle.
    QByteArray path = QByteArray(file);
    if (!imageDirectory_.isEmpty())
        path = QFile::encodeName(imageDirectory_) + '/' + path;
    if (input_bin(path.data(), &filesize) != 1) {
        say("File not read OK.\n");
        return closeWith(FileNotRead);
    }
    // An empty image would leave the boot loader with no application to start.
    if (filesize == 0) {
        say("File is empty.\n");
        return closeWith(EmptyImage);
    }

    toInit(s);
    useBootMailbox(s);
    const uint16 boot = switchTo(s, EC_STATE_BOOT, BootTimeout);
    if (boot != EC_STATE_BOOT) {
        if (boot == 0) {
            say("Slave did not come back after its restart.\n");
            lostPosition_ = slave;
            return closeWith(RestartLost);
        }
        alStatusCode_ = ec_slave[s].ALstatuscode;
        say("Slave did not enter BOOT state.\n");
        // A refusal leaves the error flag set; acknowledging it returns the slave to clean INIT.
        switchTo(s, EC_STATE_INIT | EC_STATE_ACK, 0);
        return closeWith(BootRefused);
    }
    j = ec_FOEwrite_progress(s, file, 0, filesize, filebuffer, FoeAnswerTimeout,
        progress ? &reportProgress : nullptr, const_cast<Progress*>(&progress));
    // Waited for, so that a controller that restarts on leaving BOOT is back on the bus (with its
    // address) before the next controller's session counts the slaves.
    switchedUs_ = ec_clock_now();
    const uint16 init = switchTo(s, EC_STATE_INIT, InitTimeout);
    if (init != EC_STATE_INIT)
        say("Slave did not return to INIT state.\n");
    if (j != 1) {
        say("write not successfull\n");
        return closeWith(WriteFailed);
    }
    if (init == 0) {
        say("Slave did not come back after its restart.\n");
        lostPosition_ = slave;
        return closeWith(RestartLostAfterImage);
    }
    say("write successfull\n");
    return closeWith(Written);
}

bool WriteFirmware::mayBeLeftInBoot(int result)
{
    // A write that failed leaves the controller's boot loader waiting for an image; a controller
    // that did not come back from its restart may come back in its boot loader.
    return result == WriteFailed || result == RestartLost || result == RestartLostAfterImage;
}

int WriteFirmware::input_bin(char* fname, int* length)
{
    *length = 0;
    FILE* f = fopen(fname, "rb");
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
        say(QByteArray("Image file ") + fname + " is larger than "
            + QByteArray::number(FileBufferSize) + " bytes.\n");
        return -1;
    }
    *length = (int)got;
    return 1;
}
