// Parameter sets of the axis service: loading a set from a parameter file together with the values
// the controllers hold, writing and storing it through the command mailbox, and reading it back.
#include "EtherCatWrapper.h"

#include <cstdio>

#include "ParameterFile.h"
#include "RobotLayout.h"
#include "zuvian.h"

namespace {

// The controllers take sets and stores only after this password went into parameter 248 in the
// same power cycle. It is set, never stored, so a controller locks itself again at power-off.
const quint32 passwd = 47193856;
const int passwordParameter = 248;
// These two axis parameters have twins among the global parameters of bank 2, which the
// controllers read at start-up; both must change together.
const int polesParameter = 253;
const int currentParameter = 6;
const int globalBank = 2;
const int polesGlobal = 0;
const int currentGlobal = 1;

using RobotLayout::armAxes;
using RobotLayout::platformAxes;

void printLine(const QString& text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

}

QString EtherCatWrapper::FormatStringNumber(QString number)
{
    switch (number.length()) {
    case 1:
        return QStringLiteral("000") + number;
    case 2:
        return QStringLiteral("00") + number;
    case 3:
        return QStringLiteral("0") + number;
    default:
        return number;
    }
}

void EtherCatWrapper::LoadConfiguration(
    QString filename, int slave, Devices devices, int PlatformStart)
{
    ParameterFile file(filename);
    LoadConfiguration(file, slave, devices, PlatformStart);
}

void EtherCatWrapper::LoadConfiguration(
    ParameterFile& file, int slave, Devices devices, int PlatformStart)
{
    int fromSlave = 0;
    int toSlave = 0;
    GetSelectedArmSlave(GetSlaveRange(devices), slave, fromSlave, toSlave);
    configParameters.clear();

    if (platform && devices == Platform) {
        const QList<ParameterFileEntry> entries = file.section(PLATFORM);
        if (entries.isEmpty())
            return;
        fillConfigMap(entries, &configParameters, PLATFORM, 0, PlatformStart);
    }
    // A single slave (fromSlave equal to toSlave) is no arm, and 0 to 0 is what a bad count leaves.
    if (arm1 && devices == Arm1 && fromSlave != toSlave) {
        for (int s = fromSlave; s <= toSlave; ++s) {
            const QString section = QStringLiteral("Axis") + QString::number(s - arm1Offset);
            if (!file.readable(section))
                return;
            fillConfigMap(file.section(section), &configParameters, ARM1, s, PlatformStart);
        }
    }
}

QMap<QString, EtherCatParameter> EtherCatWrapper::GetConfigParameters() const
{
    return configParameters;
}

void EtherCatWrapper::fillConfigMap(const QList<ParameterFileEntry>& entries,
    QMap<QString, EtherCatParameter>* configMap, const QString& zuvianType, int axis,
    int platformStart)
{
    const bool armEntry = axis > 0 && zuvianType == ARM1;
    const int displayAxis = zuvianType == ARM1 ? axis - arm1Offset : axis;
    const QString keyStart
        = zuvianType + QStringLiteral("_Axis") + QString::number(displayAxis) + QLatin1Char('_');
    for (const ParameterFileEntry& node : entries) {
        if (!node.isParameter)
            continue;
        // A parameter number or value out of range would land on another parameter, or as 0, on
        // the controller: such an entry is not written at all.
        if (!node.problem.isEmpty()) {
            printLine(QStringLiteral("%1 Axis%2: entry Type \"%3\" Value \"%4\" left out")
                          .arg(zuvianType)
                          .arg(displayAxis)
                          .arg(node.type, node.value));
            continue;
        }

        const QString type = FormatStringNumber(QString::number(node.number));
        const QString key = keyStart + type;
        EtherCatParameter entry;
        entry.ParameterType = node.number;
        entry.Description = node.desc;
        entry.ParameterValue = node.parameterValue;
        entry.axis = axis;
        // An entry given again replaces the earlier one; what the controllers hold was read for
        // that one already, and reading it once per repetition would make a file of repeated
        // entries cost bus time without end.
        const auto earlier = configMap->constFind(key);
        if (earlier != configMap->cend()) {
            entry.CurrentValue = earlier->CurrentValue;
            entry.errorMessage = earlier->errorMessage;
        } else if (armEntry) {
            entry.CurrentValue = readSingleParameter(quint8(axis), entry.ParameterType);
            if (entry.CurrentValue == MCP_NOREPLY)
                entry.errorMessage
                    = QStringLiteral("Parameter Type No. %1. No Value available!").arg(type);
        } else {
            readPlatformValue(entry, platformStart);
        }
        configMap->insert(key, entry);
    }
}

// The wheel base shares one set over its four axes: the value of the last axis is taken, and an
// axis that holds a value no other axis holds is named in the entry's message.
void EtherCatWrapper::readPlatformValue(EtherCatParameter& entry, int platformStart)
{
    QMap<quint32, int> seenOn; // value to the slave it was seen on alone; 0 once seen twice
    quint32 commonVal = 0;
    quint32 last = MCP_NOREPLY;
    for (int s = platformStart; s < platformStart + platformAxes && s >= 1; ++s) {
        last = readSingleParameter(quint8(s), entry.ParameterType);
        if (seenOn.contains(last)) {
            seenOn[last] = 0;
            commonVal = last;
        } else {
            seenOn.insert(last, s);
        }
    }
    entry.CurrentValue = last;
    if (seenOn.size() < 2)
        return;
    for (auto it = seenOn.cbegin(); it != seenOn.cend(); ++it) {
        if (it.value() > 0)
            entry.errorMessage = QStringLiteral("Different Value for Axis %1 on Platform detected! "
                                                "CommonValue: %2. Different Value: %3")
                                     .arg(it.value())
                                     .arg(commonVal)
                                     .arg(it.key());
    }
}

void EtherCatWrapper::targetSlaves(const QString& key, const QString& currentSetup, int Arm1Start,
    int PlatformStart, int& first, int& last) const
{
    first = 0;
    last = -1;
    const QStringList parts = key.split(QLatin1Char('_'));
    if (parts.value(0) != currentSetup)
        return;
    const int n = QString(parts.value(1)).remove(QStringLiteral("Axis")).toInt();
    const int axis = arm1 && n > 0 ? n + Arm1Start - 1 : 0;
    if (axis != 0) {
        first = axis;
        last = axis;
    } else {
        first = PlatformStart;
        last = PlatformStart + platformAxes - 1;
    }
}

ParameterWriteReport EtherCatWrapper::WriteParameters(
    QString currentSetup, int Arm1Start, int PlatformStart, const ParameterProgress& progress)
{
    ParameterWriteReport report;
    int passwordFirst = 0;
    int passwordLast = -1;
    if (currentSetup == PLATFORM) {
        passwordFirst = PlatformStart;
        passwordLast = PlatformStart + platformAxes - 1;
    } else if (currentSetup == ARM1) {
        passwordFirst = Arm1Start;
        passwordLast = Arm1Start + armAxes - 1;
    }

    // Every slave is checked before the first command: a start number off the bus would put the
    // values of one part on controllers of another, or on none.
    const auto onBus = [this](int first, int last) {
        return first > last || (first >= 1 && last <= allSlavesCnt);
    };
    bool inRange = onBus(passwordFirst, passwordLast);
    int total = 0;
    for (auto it = configParameters.cbegin(); it != configParameters.cend(); ++it) {
        int first = 0;
        int last = -1;
        targetSlaves(it.key(), currentSetup, Arm1Start, PlatformStart, first, last);
        if (first <= last)
            ++total;
        inRange = inRange && onBus(first, last);
    }
    if (!inRange) {
        printLine(QStringLiteral("%1: no parameter written, arm start %2 or platform start %3 lies "
                                 "outside the bus of %4 slaves")
                      .arg(currentSetup)
                      .arg(Arm1Start)
                      .arg(PlatformStart)
                      .arg(allSlavesCnt));
        report.refused = true;
        return report;
    }

    for (int a = passwordFirst; a <= passwordLast; ++a) {
        const bool ok = currentSetup == PLATFORM
            ? writePlatformParameter(quint8(a), quint8(a), passwordParameter, passwd) == 1
            : writeParameter(quint8(a), passwordParameter, passwd) == 1;
        report.note(a, passwordParameter, ok);
    }

    int done = 0;
    for (auto it = configParameters.cbegin(); it != configParameters.cend(); ++it) {
        int first = 0;
        int last = -1;
        targetSlaves(it.key(), currentSetup, Arm1Start, PlatformStart, first, last);
        if (first > last)
            continue;
        if (progress)
            progress(first == last ? first - Arm1Start + 1 : 0, done, total);
        writeEntry(first, last, it.value(), report);
        ++done;
    }
    printLine(QStringLiteral("parameters are written"));
    return report;
}

// One entry, in the controllers' order: the global twin set then stored, then the axis parameter
// set then stored; over the wheel base each command goes to all four axes before the next one.
void EtherCatWrapper::writeEntry(
    int first, int last, const EtherCatParameter& entry, ParameterWriteReport& report)
{
    const quint8 type = entry.ParameterType;
    const quint32 value = entry.ParameterValue;
    if (type == polesParameter || type == currentParameter) {
        const quint8 global = type == polesParameter ? polesGlobal : currentGlobal;
        for (int a = first; a <= last; ++a)
            report.note(a, type,
                writeGlobalPlatformParameter(quint8(a), quint8(a), global, globalBank, value) == 1);
        // The controllers confirm a global store by echoing the 0 it carries.
        for (int a = first; a <= last; ++a)
            report.note(a, type,
                saveGlobalPlatformParameter(quint8(a), quint8(a), global, globalBank, 0) == 1);
    }
    if (first == last) {
        report.note(first, type, writeParameter(quint8(first), type, value) == 1);
        report.note(first, type, saveParameter(quint8(first), type, value) == 1);
        return;
    }
    for (int a = first; a <= last; ++a)
        report.note(a, type, writePlatformParameter(quint8(a), quint8(a), type, value) == 1);
    for (int a = first; a <= last; ++a)
        report.note(a, type, savePlatformParameter(quint8(a), quint8(a), type, value) == 1);
}

void EtherCatWrapper::ReadBackParameters(
    QString currentSetup, int Arm1Start, int PlatformStart, ParameterWriteReport& report)
{
    if (report.refused)
        return;
    for (auto it = configParameters.cbegin(); it != configParameters.cend(); ++it) {
        int first = 0;
        int last = -1;
        targetSlaves(it.key(), currentSetup, Arm1Start, PlatformStart, first, last);
        const EtherCatParameter& entry = it.value();
        for (int a = first; a <= last; ++a) {
            const quint32 held = readSingleParameter(quint8(a), entry.ParameterType);
            if (held == entry.ParameterValue)
                continue;
            report.note(a, entry.ParameterType, false);
            report.differences.append({a, entry.ParameterType, entry.ParameterValue, held});
            printLine(QStringLiteral("Parameter %1 axis %2 reads back as %3, written %4")
                          .arg(entry.ParameterType)
                          .arg(a)
                          .arg(held)
                          .arg(entry.ParameterValue));
        }
    }
}
