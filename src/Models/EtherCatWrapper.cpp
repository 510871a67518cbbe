// Bus session, counting, slave ranges and motion pass-throughs of the axis service.
#include "EtherCatWrapper.h"

#include <QByteArray>

#include <cstring>
#include <iterator>

#include "BusSession.h"
#include "Configuration.h"
#include "Helper.h"
#include "RobotLayout.h"
#include "ethercatmain.h"
#include "ethercatprint.h"
#include "zuvian.h"
#include "zuvianbringup.h"
#include "zuvianmotion.h"

namespace {

using RobotLayout::armAloneSlaves;
using RobotLayout::armAxes;
using RobotLayout::minimumSlaves;
using RobotLayout::platformAxes;
using RobotLayout::robotSlaves;

// Copies `value` into a fixed name field of the bring-up record, cut to fit and NUL-terminated.
void copyName(char (&field)[EC_MAXNAME + 1], const QByteArray& value)
{
    std::memset(field, 0, sizeof field);
    const int n = qMin(int(value.size()), EC_MAXNAME);
    std::memcpy(field, value.constData(), size_t(n));
}

QString axisLabel(int axis)
{
    return QStringLiteral("Achse") + QString::number(axis);
}

}

EtherCatWrapper::EtherCatWrapper()
    : PLATFORM(RobotLayout::platformSetup())
    , ARM1(RobotLayout::armSetup())
{}

EtherCatWrapper::~EtherCatWrapper()
{
    if (ethercatRunning)
        StopEthercat();
}

int EtherCatWrapper::InitEtherCat(QString setup, QString eth)
{
    if (!BusSession::heldHere())
        throw new EtherCatException("ERROR: the bus session is not held by the caller");
    if (setup.isEmpty())
        throw new EtherCatException("ERROR: Missing parameter -> setup");

    Configuration config;
    const QString platformName
        = config.readAppSetting(QStringLiteral("SlaveInfo"), QStringLiteral("PlatformSlaveName"));
    const QString armName
        = config.readAppSetting(QStringLiteral("SlaveInfo"), QStringLiteral("ArmSlaveName"));
    const QByteArray ifname = eth.toLocal8Bit();

    transformSetup(setup);

    // A session of this object that is still open is closed first: opening the port anew over an
    // open one would leave its socket behind.
    if (ethercatRunning)
        StopEthercat();

    EtherCat_Info info;
    std::memset(&info, 0, sizeof info);
    info.ifname = const_cast<char*>(ifname.constData());
    copyName(info.platformslaveName, platformName.toLocal8Bit());
    copyName(info.armslaveName, armName.toLocal8Bit());
    platformSlaveName = platformName;
    armSlaveName = armName;

    // The result is not looked at: a bus that did not reach OPERATIONAL can still be worked when
    // the controllers were counted, and the counts decide.
    init_ethercatMaster(&info);
    // The bring-up leaves the port open in every case but one: the port did not open, which it
    // tells by no slaves and no error text. Only an open port may be stopped; a closed one has
    // nobody to answer the state request.
    ethercatRunning = info.allslavecnt != 0 || info.error != nullptr;
    opened = ethercatRunning;
    bringUpError = info.error != nullptr ? QString::fromLatin1(info.error) : QString();

    allSlavesCnt = int(info.allslavecnt);
    if (RobotLayout::armOffset(allSlavesCnt) != 0)
        arm1Offset = RobotLayout::armOffset(allSlavesCnt);
    platformslavesCnt = int(info.platformslavecnt);
    armslavesCnt = int(info.armslavecnt);

    return isUsable(setup) ? 0 : -1;
}

bool EtherCatWrapper::isUsable(const QString& setup) const
{
    if (platformslavesCnt == platformAxes && setup == PLATFORM)
        return true;
    if ((armslavesCnt == armAxes || armslavesCnt == robotSlaves) && setup == ARM1)
        return true;
    if (armslavesCnt == armAxes && platformslavesCnt == 0)
        return true;
    if (armslavesCnt == 0 && platformslavesCnt == platformAxes)
        return true;
    return allSlavesCnt == robotSlaves && platformslavesCnt == platformAxes;
}

void EtherCatWrapper::transformSetup(QString setup)
{
    platform = false;
    arm1 = false;
    platform = setup.contains(QStringLiteral("Platform"));
    arm1 = setup.contains(QStringLiteral("Arm"));
}

void EtherCatWrapper::StopEthercat()
{
    stop_ethercat();
    ethercatRunning = false;
}

int EtherCatWrapper::GetAllSlaves() const
{
    return allSlavesCnt;
}

int EtherCatWrapper::GetPlatformSlaves() const
{
    return platformslavesCnt;
}

int EtherCatWrapper::GetArmSlaves() const
{
    return armslavesCnt;
}

int EtherCatWrapper::GetArmOffset() const
{
    return arm1Offset;
}

QString EtherCatWrapper::GetPlatformSlaveName() const
{
    return platformSlaveName;
}

QString EtherCatWrapper::GetArmSlaveName() const
{
    return armSlaveName;
}

QMap<int, QString> EtherCatWrapper::GetSlaveRange(Devices device) const
{
    QMap<int, QString> range;
    if (allSlavesCnt == 0) {
        range.insert(0, QStringLiteral("Keine Slaves vorhanden!"));
        return range;
    }
    if (allSlavesCnt < minimumSlaves) {
        range.insert(0,
            QStringLiteral("Die Anzahl aller gefundenen Slaves (%1) ist unterhalb der "
                           "erforderlichen Mindestanzahl (5)")
                .arg(allSlavesCnt));
        return range;
    }
    if (device == Platform) {
        if (platformslavesCnt < platformAxes) {
            range.insert(0,
                QStringLiteral("Die erforderliche Anzahl der Slaves (4) für die Platform konnte "
                               "nicht ermittelt werden. Aktuell: ")
                    + QString::number(platformslavesCnt));
            return range;
        }
        for (int axis = 1; axis <= platformAxes; ++axis)
            range.insert(axis + 1, axisLabel(axis));
        return range;
    }
    fillArmRange(range);
    return range;
}

void EtherCatWrapper::fillArmRange(QMap<int, QString>& range) const
{
    if (armslavesCnt < armAxes) {
        range.insert(0,
            QStringLiteral("Die erforderliche Anzahl der Slaves (5) für den Arm1 konnte nicht "
                           "ermittelt werden. Aktuell: ")
                + QString::number(armslavesCnt));
        return;
    }
    range.insert(0, QStringLiteral("Alle Achsen"));
    if (armslavesCnt != armAxes)
        return;
    // Only the two wirings the robot is built in tell where the arm starts.
    const int offset = RobotLayout::armOffset(allSlavesCnt);
    if (offset == 0)
        return;
    for (int axis = 1; axis <= armAxes; ++axis)
        range.insert(axis + offset, axisLabel(axis));
}

void EtherCatWrapper::GetSelectedArmSlave(
    const QMap<int, QString>& axisMap, int slave, int& fromSlave, int& toSlave) const
{
    int index = 0;
    for (auto it = axisMap.cbegin(); it != axisMap.cend(); ++it, ++index) {
        if (index == slave) {
            if (slave > 0) {
                fromSlave = it.key();
                toSlave = it.key();
                return;
            }
            fromSlave = it.key();
            // Index 0 of an arm map is "Alle Achsen": the range starts at the first real axis.
            const auto next = std::next(it);
            if (it.key() == 0 && next != axisMap.cend())
                fromSlave = next.key();
        }
        toSlave = it.key();
    }
}

QString EtherCatWrapper::GetFirmWareVersion(quint8 slave, bool* answered)
{
    Helper helper;
    const quint32 version = getFirmwareVersion(slave);
    if (answered != nullptr)
        *answered = version != MCP_NOREPLY;
    return QString::fromLatin1(helper.intToAscii(version));
}

bool EtherCatWrapper::portOpened() const
{
    return opened;
}

QString EtherCatWrapper::busError() const
{
    return bringUpError;
}

QString EtherCatWrapper::GetSlaveName(quint8 slave)
{
    return QString::fromLatin1(getSlaveName(slave));
}

SlaveIdentity EtherCatWrapper::GetIdentity(quint8 slave)
{
    SlaveIdentity identity;
    if (!ethercatRunning || slave == 0 || int(slave) > allSlavesCnt)
        return identity;
    identity.vendor = ec_slave[slave].eep_man;
    identity.product = ec_slave[slave].eep_id;
    identity.revision = ec_slave[slave].eep_rev;
    // The enumeration does not read the serial number's words; the SII cache fetches them.
    const uint16 serialByte = 0x0E * 2;
    for (int i = 3; i >= 0; --i)
        identity.serial = (identity.serial << 8) | ec_siigetbyte(slave, uint16(serialByte + i));
    return identity;
}

QString EtherCatWrapper::GetStateRefusal(quint8 slave)
{
    if (!ethercatRunning || slave == 0 || int(slave) > allSlavesCnt)
        return QString();
    // One look, no wait: the state the bring-up left it in is the one to explain.
    const uint16 state = ec_statecheck(slave, EC_STATE_OPERATIONAL, 0);
    if ((ec_slave[slave].state & EC_STATE_ERROR) == 0)
        return QString();
    static const char* const names[] = {"state 0", "INIT", "PRE-OP", "BOOT", "SAFE-OP", "state 5",
        "state 6", "state 7", "OPERATIONAL"};
    const char* name = state < std::size(names) ? names[state] : "an unknown state";
    char code[EC_MAXERRORNAME + 1];
    return QStringLiteral("stays in %1, AL status code %2")
        .arg(QLatin1String(name),
            QLatin1String(ec_ALstatuscode2text(ec_slave[slave].ALstatuscode, code, sizeof code)));
}

void EtherCatWrapper::MoveForward(quint8 axis, quint32 value)
{
    moveForward(axis, value);
}

void EtherCatWrapper::MoveBackward(quint8 axis, quint32 value)
{
    moveBackward(axis, value);
}

void EtherCatWrapper::MotorStop(quint8 axis)
{
    motorStop(axis);
}

bool EtherCatWrapper::isInit()
{
    uint8 unused = 0;
    return checkOPState(&unused) != -1;
}

bool EtherCatWrapper::isEthercatRunning() const
{
    return ethercatRunning;
}
