/*
 * The firmware writer: downloads the firmware image of one motor controller into it through the
 * controller's bootstrap mailbox in the EtherCAT BOOT state.
 *
 * One call is one whole bus session: open the port, enumerate, check the controller model, switch
 * the slave's mailbox to its bootstrap layout, BOOT, FoE write of the model's image file (read from
 * the working directory), INIT, close. Progress and failures go to standard output; the caller gets
 * one of the result codes below.
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
        Written = 0,      // image written and acknowledged: "write successfull"
        FileNotRead = -1, // image file missing, unreadable or too large: "File not read OK."
        WrongSlave = -2,  // not one of the four controller models: "wrong slave detected!"
        NoSlaves = -3,    // enumeration found no slave: "No slaves found!"
        // The port could not be opened: "No socket connection on <if>\nExcecute as root\n".
        NoSocket = -4,
        WriteFailed = -5, // the FoE write failed: "write not successfull"
        // The slave did not enter BOOT, nothing written: "Slave did not enter BOOT state."
        BootRefused = -6
    };

    // Capacity of the image buffer; a larger image file is refused, never cut.
    static const int FileBufferSize = 0x40100;

    // Told after each packet of the image the controller acknowledged: bytes acknowledged, image
    // size. Called on the writer's thread while the controller waits: it must not block.
    using Progress = std::function<void(int acked, int total)>;

    WriteFirmware();

    // The directory the image files are read from; the working directory when not set. The name
    // the controller is given stays the bare file name.
    void setImageDirectory(const QString& directory);

    // Downloads the image for the controller at 1-based bus position `slave` on interface `eth`,
    // telling `progress` (when set) how far it got. Returns a Result code. The bus must not be
    // open; it is closed again on every return. The caller must hold the bus session (or nobody).
    int writeFirmware(QString eth, int slave, const Progress& progress = Progress());

    // Returns true when a controller that ended with `result` may have been left in BOOT: it
    // entered BOOT before the download failed, and only a power cycle brings it back.
    static bool mayBeLeftInBoot(int result);

    // Reads the file `fname` into the image buffer and stores its size through `length`.
    // Returns 1 when the whole file was read, 0 when it could not be opened or read, -1 when it is
    // larger than FileBufferSize (length then 0).
    int input_bin(char *fname, int *length);

private:
    QString imageDirectory_;
};

#endif
