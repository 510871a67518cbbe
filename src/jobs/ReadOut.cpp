// The read-out: counts, names, the parts' places on the bus and their controllers' versions.
#include "ReadOut.h"

#include "EtherCatWrapper.h"
#include "LinkDiagnosis.h"
#include "RobotLayout.h"

namespace {

using RobotLayout::armAxes;
using RobotLayout::platformAxes;
using RobotLayout::robotSlaves;

const QString kSlavesNotFound = RobotLayout::slavesNotFoundText();
const QString kError = RobotLayout::errorText();

bool belongsTo(const PartReading& part, const QString& name)
{
    return part.part == QLatin1String("arm") ? RobotLayout::isArmController(name)
                                             : RobotLayout::isPlatformController(name);
}

// Decides whether a part found on the bus is complete; if so, its axes get their positions.
void judge(PartReading& part, const QStringList& names)
{
    if (!part.present())
        return;
    if (part.counted < part.expected) {
        part.problem = QStringLiteral("only %1 of %2 %3 axes were found")
                           .arg(part.counted)
                           .arg(part.expected)
                           .arg(part.part);
        return;
    }
    if (part.counted > part.expected) {
        part.problem = QStringLiteral("%1 %3 controllers were found where %2 are expected")
                           .arg(part.counted)
                           .arg(part.expected)
                           .arg(part.part);
        return;
    }
    // The axes are taken to follow the first controller of the part; a board or a controller of
    // the other part among them would get this part's firmware or be listed under its name.
    for (int k = 0; k < part.expected; ++k) {
        const int position = part.start + k;
        const QString name = names.value(position - 1);
        if (!belongsTo(part, name)) {
            part.problem = position > names.size()
                ? QStringLiteral("the bus ends before %1 axis %2").arg(part.part).arg(k + 1)
                : QStringLiteral("bus position %1 is \"%2\", not %3 %4 controller")
                      .arg(position)
                      .arg(name, part.part == QLatin1String("arm") ? "an" : "a", part.part);
            return;
        }
    }
    for (int k = 0; k < part.expected; ++k) {
        AxisReading axis;
        axis.position = part.start + k;
        part.axes.append(axis);
    }
}

// The line that says why the bring-up did not give a usable bus.
QString unusableCause(const EtherCatWrapper& wrapper, const QString& eth)
{
    // Slaves answered but could not be enumerated: the cable is fine, the bring-up knows why.
    const QString error = wrapper.busError();
    if (wrapper.GetAllSlaves() == 0 && !error.isEmpty() && !error.contains("No slaves found"))
        return error.mid(error.indexOf(':') + 1).trimmed();
    if (wrapper.GetAllSlaves() == 0)
        return LinkDiagnosis::explain(eth, wrapper.portOpened());
    return QStringLiteral("%1 slaves answered, %2 of them arm and %3 platform controllers: an arm "
                          "of %4 axes, a wheel base of %5, or both on a bus of %6 are expected.")
        .arg(wrapper.GetAllSlaves())
        .arg(wrapper.GetArmSlaves())
        .arg(wrapper.GetPlatformSlaves())
        .arg(armAxes)
        .arg(platformAxes)
        .arg(robotSlaves);
}

void readAxes(EtherCatWrapper& wrapper, PartReading& part, int& step, int steps,
    const ReadOut::Report& report)
{
    for (int k = 0; k < part.axes.size(); ++k) {
        AxisReading& axis = part.axes[k];
        if (report)
            report(part.part, k + 1, ++step, steps);
        const quint8 position = quint8(axis.position);
        axis.version = wrapper.GetFirmWareVersion(position, &axis.answered);
        axis.name = wrapper.GetSlaveName(position);
        axis.identity = wrapper.GetIdentity(position);
        if (!axis.answered)
            axis.refusal = wrapper.GetStateRefusal(position);
    }
}

}

QString PartReading::versionLines(bool withNames) const
{
    if (!present())
        return QString();
    if (!complete())
        return part + QStringLiteral(" not read: ") + problem + QLatin1Char('\n');
    QString lines;
    for (int k = 0; k < axes.size(); ++k) {
        const AxisReading& axis = axes.at(k);
        lines += QStringLiteral("Current firmwareversion %1 axis %2: ").arg(part).arg(k + 1)
            + axis.versionText();
        if (withNames)
            lines += QStringLiteral(" name of the slave: ") + axis.name;
        lines += QLatin1Char('\n');
    }
    return lines;
}

QString AxisReading::versionText() const
{
    return answered ? version : QStringLiteral("no reply");
}

QStringList PartReading::behind(const QString& carried) const
{
    QStringList found;
    if (carried.isEmpty())
        return found;
    for (int k = 0; k < axes.size(); ++k) {
        const AxisReading& axis = axes.at(k);
        if (axis.answered && axis.version.trimmed() != carried)
            found.append(QStringLiteral("%1 axis %2 runs %3, not %4")
                             .arg(part)
                             .arg(k + 1)
                             .arg(axis.version.trimmed(), carried));
    }
    return found;
}

QString ReadOutResult::versionLines(bool withNames) const
{
    return arm.versionLines(withNames) + platform.versionLines(withNames);
}

namespace ReadOut {

ReadOutResult run(const QString& eth, const Report& report)
{
    ReadOutResult result;
    result.arm.part = RobotLayout::armWord();
    result.arm.expected = armAxes;
    result.platform.part = RobotLayout::platformWord();
    result.platform.expected = platformAxes;

    EtherCatWrapper wrapper;
    try {
        if (wrapper.InitEtherCat(QStringLiteral("Arm1 + Platform"), eth) != 0) {
            result.failure = kSlavesNotFound + QLatin1Char('\n') + unusableCause(wrapper, eth);
            return result;
        }
        result.SlaveCount = wrapper.GetAllSlaves();
        result.PlatformSlaveCount = wrapper.GetPlatformSlaves();
        result.ArmSlaveCount = wrapper.GetArmSlaves();
        result.arm.counted = result.ArmSlaveCount;
        result.platform.counted = result.PlatformSlaveCount;

        // Positions beyond what the tool accounts for must never be read as axes; such a bus is
        // refused rather than read in part.
        if (result.SlaveCount > RobotLayout::maxSlaves) {
            result.failure = QStringLiteral("Too many slaves on the bus (%1)!\nAt most %2 can be "
                                            "handled.")
                                 .arg(result.SlaveCount)
                                 .arg(RobotLayout::maxSlaves);
            return result;
        }
        for (int position = 1; position <= result.SlaveCount; ++position)
            result.names.append(wrapper.GetSlaveName(quint8(position)));

        // Each start is the first controller of its kind; later ones of the same kind change
        // nothing.
        for (int i = 0; i < result.names.size(); ++i) {
            const QString& name = result.names.at(i);
            if (result.platform.start == 0 && RobotLayout::isPlatformController(name))
                result.platform.start = i + 1;
            else if (result.arm.start == 0 && RobotLayout::isArmController(name))
                result.arm.start = i + 1;
        }
        judge(result.arm, result.names);
        judge(result.platform, result.names);

        int step = 0;
        const int steps = int(result.arm.axes.size() + result.platform.axes.size());
        readAxes(wrapper, result.arm, step, steps, report);
        readAxes(wrapper, result.platform, step, steps, report);
        wrapper.StopEthercat();
    } catch (EtherCatException* e) {
        delete e;
        result.failure = kError;
        return result;
    } catch (...) {
        result.failure = kError;
        return result;
    }
    result.ok = true;
    return result;
}

}
