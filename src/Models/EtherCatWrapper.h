// The window's single entry to the robot's motor controllers: one object serves one operator
// action. It opens a bus session for "Platform", "Arm1" or both, tells how many axes were found and
// where they sit on the bus, and reads each controller's name and firmware version.
//
// It also loads a parameter set from a parameter file, reading each parameter's current value
// from the controllers, and writes the set into them (EtherCatWrapperParameters.cpp), and passes
// three motion commands through to the controllers.
//
// Slave numbers are 1-based bus positions. Slave 1 is never an axis: with the arm alone (6 slaves)
// the arm axes are slaves 2 to 6; with wheel base and arm (11 slaves) the wheel-base axes are
// slaves 2 to 5 and the arm axes slaves 7 to 11.
#ifndef ETHERCATWRAPPER_H
#define ETHERCATWRAPPER_H

#include <QList>
#include <QMap>
#include <QString>

#include <functional>

#include "CustomExceptions.h"
#include "EtherCatParameter.h"
#include "ParameterFile.h"
#include "SlaveIdentity.h"

class EtherCatWrapper
{
public:
    enum Devices { Platform = 0, Arm1 = 1 };

    EtherCatWrapper();
    // Closes a session that is still open, so that no path can leave the port behind.
    ~EtherCatWrapper();

    EtherCatWrapper(const EtherCatWrapper&) = delete;
    EtherCatWrapper& operator=(const EtherCatWrapper&) = delete;

    // Brings the bus on interface `eth` up and counts the controllers. Returns 0 when the counts
    // suit `setup` ("Arm1", "Platform" or "Arm1 + Platform"), -1 when they do not; either way the
    // session is open until StopEthercat. Throws a new EtherCatException when setup is empty or
    // when the calling thread does not hold the bus session (BusSession.h).
    int InitEtherCat(QString setup, QString eth);
    // Returns true when the last InitEtherCat could open the port on its interface (whether or
    // not a slave answered there).
    bool portOpened() const;
    // Returns what the last InitEtherCat's bring-up said went wrong ("ERROR: ..."); empty when
    // it said nothing.
    QString busError() const;
    // Takes every slave to SAFE-OP and closes the port.
    void StopEthercat();

    // The counts of the last InitEtherCat: all slaves, wheel-base and arm controllers.
    int GetAllSlaves() const;
    int GetPlatformSlaves() const;
    int GetArmSlaves() const;
    // Arm axis n is slave n + the returned offset: 1 on the arm alone, 6 on the whole robot.
    int GetArmOffset() const;
    // The controller names configured in the settings.
    QString GetPlatformSlaveName() const;
    QString GetArmSlaveName() const;

    // Returns slave number to axis label ("Achse1", ...) for `device`; key 0 holds "Alle Achsen"
    // for a complete arm, or the text that says why no axis can be offered.
    QMap<int, QString> GetSlaveRange(Devices device) const;
    // Turns the index `slave` of the operator's choice in `axisMap` into the slave numbers
    // fromSlave..toSlave; index 0 on an arm map means all axes. Writes, never reads, the two.
    void GetSelectedArmSlave(
        const QMap<int, QString>& axisMap, int slave, int& fromSlave, int& toSlave) const;

    // Returns the firmware version the controller reports ("1.48"); four U+00FF characters when
    // it does not answer, which `answered` (when given) tells apart.
    QString GetFirmWareVersion(quint8 slave, bool* answered = nullptr);
    // Returns the name the slave's EEPROM gave at enumeration; empty for a slave not on the bus.
    QString GetSlaveName(quint8 slave);
    // Returns the identity the slave's EEPROM gives (the serial number read from it now); all 0
    // for a slave not on the bus. Needs an open session.
    SlaveIdentity GetIdentity(quint8 slave);
    // Looks at the slave's AL Status once: when it refused a state, "stays in INIT, AL status
    // code 0x0011 (Invalid requested state change)"; otherwise empty. Needs an open session.
    QString GetStateRefusal(quint8 slave);

    // Loads the parameter set of `devices` from `filename` into the set returned by
    // GetConfigParameters, reading each parameter's current value from the controllers. `slave`
    // is the index of the chosen entry of GetSlaveRange(devices), 0 for all axes. The wheel-base
    // values are read from slaves PlatformStart to PlatformStart + 3, the controllers
    // WriteParameters writes. Needs an open session whose setup names the device. Entries that
    // are no Parameter element, whose Type is no number from 0 to 255 or whose Value is no 32-bit
    // number are left out with a line on standard output (a file from outside is checked whole
    // with ParameterFile::refusals first). An entry given twice in a section: the later one counts.
    void LoadConfiguration(QString filename, int slave, Devices devices, int PlatformStart);
    // The same from a file already read, so that a file checked is the file loaded.
    void LoadConfiguration(ParameterFile& file, int slave, Devices devices, int PlatformStart);
    // Returns a copy of the set the last LoadConfiguration loaded, keyed
    // "<device>_Axis<n>_<4-digit parameter number>".
    QMap<QString, EtherCatParameter> GetConfigParameters() const;

    // Called before each entry WriteParameters writes: the entry's axis number in the set (1..5 on
    // the arm, 0 for the wheel base), the entries written so far and the entries to write.
    using ParameterProgress = std::function<void(int setAxis, int done, int total)>;

    // Writes the loaded entries of `currentSetup` ("Arm1" or "Platform") into the controllers and
    // stores each one, after the parameter password (never stored) on every axis of the part: arm
    // axis n is slave Arm1Start + n - 1, the wheel base slaves PlatformStart to PlatformStart + 3.
    // Parameters 253 and 6 are also set and stored as global parameters 0 and 1 of bank 2.
    // Returns what was confirmed; `refused` when a start number puts a slave outside the bus.
    ParameterWriteReport WriteParameters(QString currentSetup, int Arm1Start, int PlatformStart,
        const ParameterProgress& progress = ParameterProgress());
    // Reads every entry of `currentSetup` back from the slaves WriteParameters wrote it to and
    // files each that differs from the value written (or gives no reply) in `report` as not
    // confirmed.
    void ReadBackParameters(
        QString currentSetup, int Arm1Start, int PlatformStart, ParameterWriteReport& report);

    // Returns the loaded set as an HTML fragment for a rich-text view: the slaves found, then one
    // row per entry with its number, description, target and current value (both highlighted
    // where they differ) and its message in red. Only the red no-parameters text when no set is
    // loaded; only a red "No slaves found!" when a wheel-base session counted no or too many
    // wheel-base controllers. Texts from the parameter file are escaped.
    QString GetEtherCatParametersInHtml() const;
    // Returns true when some loaded entry of `setup` ("Platform" or "Arm1") holds a current value
    // other than its target; false otherwise, also when nothing is loaded.
    bool CompareParameters(QString setup) const;

    // Motion commands of the controller protocol, for the controller at slave number `axis`.
    // Neither reports anything: a command the mailbox drops is lost silently. Both moves only
    // start the axis's sine commutation, once per session; `value` is not used.
    void MoveForward(quint8 axis, quint32 value);
    void MoveBackward(quint8 axis, quint32 value);
    // Sends the stop command.
    void MotorStop(quint8 axis);

    // Returns true when every slave is in SAFE-OP.
    bool isInit();
    // Returns true while a session opened by InitEtherCat is open (the port opened), until
    // StopEthercat.
    bool isEthercatRunning() const;

    // Not used by the session itself; free for the caller to note which part it works on.
    Devices devices = Platform;

private:
    void transformSetup(QString setup);
    bool isUsable(const QString& setup) const;
    void fillArmRange(QMap<int, QString>& range) const;

    void fillConfigMap(const QList<ParameterFileEntry>& entries,
        QMap<QString, EtherCatParameter>* configMap, const QString& zuvianType, int axis,
        int platformStart);
    void readPlatformValue(EtherCatParameter& entry, int platformStart);
    static QString FormatStringNumber(QString number);
    // The first and last slave the entry under `key` is written to; 0 and -1 (an empty range) when
    // the key is not of `currentSetup`.
    void targetSlaves(const QString& key, const QString& currentSetup, int Arm1Start,
        int PlatformStart, int& first, int& last) const;
    void writeEntry(
        int first, int last, const EtherCatParameter& entry, ParameterWriteReport& report);

    // The report's pieces: the message in red ("" for none), one data row, one header row, and a
    // section title row spanning `span` columns.
    static QString htmlError(const QString& message);
    static QString buildHtmlRow(const QString& no, const QString& desc, const QString& newValue,
        const QString& currentValue, const QString& note);
    static QString buildHtmlRowHeader(
        const QString& a, const QString& b, const QString& c, const QString& d, const QString& e);
    static QString buildHtmlColSpan(const QString& title, int span);

    QString PLATFORM;
    QString ARM1;
    int allSlavesCnt = 0;
    int platformslavesCnt = 0;
    int armslavesCnt = 0;
    int arm1Offset = 0;
    QString platformSlaveName;
    QString armSlaveName;
    QMap<QString, EtherCatParameter> configParameters;
    bool platform = false;
    bool arm1 = false;
    bool ethercatRunning = false;
    bool opened = false;
    QString bringUpError;
};

#endif // ETHERCATWRAPPER_H
