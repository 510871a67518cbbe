/*
 * The firmware writer: downloads the firmware image of one motor controller into it through the
 * controller's bootstrap mailbox in the EtherCAT BOOT state.
 *
 * One call is one whole bus session: open the port, enumerate, check the controller model, switch
 * the slave's mailbox to its bootstrap layout, BOOT, FoE write of the model's image file (read from
 * the working directory), INIT, close. Progress and failures are told to the line sink (standard
 * output when none is set); the caller gets one of the result codes below.
 */
#ifndef WRITEFIRMWARE_H
#define WRITEFIRMWARE_H

#include <QString>

#include <functional>

class WriteFirmware
{
public:
    // The result codes, with what the writer prints for each.
    enum Result {
        Written = 0, // image written and acknowledged: "write successfull"
        // Image file missing, unreadable or too large: "File not read OK." The controller has not
        // been touched.
        FileNotRead = -1,
        WrongSlave = -2, // not one of the four controller models: "wrong slave detected!"
        NoSlaves = -3, // enumeration found no slave: "No slaves found!"
        // The port could not be opened: "No socket connection on <if>\nExcecute as root\n".
        NoSocket = -4,
        WriteFailed = -5, // the FoE write failed: "write not successfull"
        // The slave did not enter BOOT, nothing written: "Slave did not enter BOOT state."
        // alStatusCode() tells what it gave as the reason.
        BootRefused = -6,
        // A controller that left the bus to restart, on its way into BOOT or (for an earlier
        // download) out of it, was not back within the restart bound; nothing written:
        // "Slave did not come back after its restart."
        RestartLost = -7,
        // The image was acknowledged, but the controller left the bus to restart out of BOOT and
        // was not back within the restart bound: "Slave did not come back after its restart."
        RestartLostAfterImage = -8,
        // The image file is empty; the controller has not been touched: "File is empty."
        EmptyImage = -9,
        // The caller does not hold the bus session (BusSession.h); nothing was sent.
        NoSession = -10
    };

    // Capacity of the image buffer; a larger image file is refused, never cut.
    static const int FileBufferSize = 0x40100;

    // Time-outs of the download, in µs: reaching INIT, reaching BOOT, one EEPROM word, and the
    // controller's answer to each FoE packet. A controller that restarts on the way is waited for
    // longer: EC_TIMEOUT_RESTART (ectiming.h).
    static const int InitTimeout = 8000000;
    static const int BootTimeout = 20000000;
    static const int EepromTimeout = 20000;
    static const int FoeAnswerTimeout = 2000000;

    // Told after each packet of the image the controller acknowledged: bytes acknowledged, image
    // size. Called on the writer's thread while the controller waits: it must not block.
    using Progress = std::function<void(int acked, int total)>;
    // Told when the controller at this bus position has left the bus to restart and is waited
    // for. Called on the writer's thread.
    using RestartNotice = std::function<void(int position)>;

    WriteFirmware();

    // The directory the image files are read from; the working directory when not set. The name
    // the controller is given stays the bare file name.
    void setImageDirectory(const QString& directory);

    // Downloads the image for the controller at 1-based bus position `slave` on interface `eth`,
    // telling `progress` (when set) how far it got. Returns a Result code. The bus must not be
    // open; it is closed again on every return. The calling thread must hold the bus session, or
    // the result is NoSession and nothing is sent.
    int writeFirmware(QString eth, int slave, const Progress& progress = Progress());

    // Told whenever a controller is waited for across its restart.
    void setRestartNotice(const RestartNotice& notice);

    // Told each line the writer prints, with its newline (a failure text may hold two lines).
    // Called on the writer's thread.
    using LineSink = std::function<void(const QString& text)>;
    // Sends the writer's lines to `sink` instead of standard output.
    void setLineSink(const LineSink& sink);

    // The controller named `name` at bus position `position` was switched out of BOOT by an
    // earlier download at `switchedUs` (the master's clock) and may still be restarting. When the
    // bus then ends just before it (fewer than `slaves` counted), enumeration is repeated until it
    // is back, at most EC_TIMEOUT_RESTART after `switchedUs`. A slave that is simply missing is
    // not waited for.
    void awaitRestart(int position, const QString& name, qint64 switchedUs, int slaves);

    // When this writer last asked its controller to leave BOOT (master's clock, µs); 0 if never.
    qint64 switchedUs() const { return switchedUs_; }
    // The AL Status Code the controller gave when it refused a state (BootRefused).
    quint16 alStatusCode() const { return alStatusCode_; }
    // The bus position of the controller that did not come back (RestartLost...), else 0.
    int lostPosition() const { return lostPosition_; }

    // Returns true when a controller that ended with `result` may have been left in BOOT: it
    // entered BOOT before the download failed, and only a power cycle brings it back.
    static bool mayBeLeftInBoot(int result);

    // Reads the file `fname` into the image buffer and stores its size through `length`.
    // Returns 1 when the whole file was read, 0 when it could not be opened or read, -1 when it is
    // larger than FileBufferSize (length then 0).
    int input_bin(char* fname, int* length);

private:
    void say(const QByteArray& text) const;
    // ec_config_init, riding out the restart announced by awaitRestart.
    int enumerate();
    // Requests `state` and waits up to `timeout` µs for it, longer across a restart.
    quint16 switchTo(quint16 slave, quint16 state, int timeout);
    void toInit(quint16 slave);

    QString imageDirectory_;
    RestartNotice restartNotice_;
    LineSink sink_;
    struct Restarting
    {
        int position = 0;
        QByteArray name;
        qint64 switchedUs = 0;
        int slaves = 0;
    } restarting_;
    qint64 switchedUs_ = 0;
    quint16 alStatusCode_ = 0;
    int lostPosition_ = 0;
};

#endif
