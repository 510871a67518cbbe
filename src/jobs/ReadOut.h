// The bus read-out that every flow starts with: one bus session on the chosen interface that
// finds where the wheel base ("platform") and the arm sit, reads each of their controllers' name
// and firmware version, and closes again. The result is a value that the flows and the window
// keep; nothing of the bus stays open.
//
// A part counts as complete when the bring-up counted exactly its axes (5 arm, 4 platform) and the
// bus positions from its first controller on all hold controllers of the part: only then are its
// axes read and offered to the flows. A part that is on the bus but not complete is named with
// the reason, never filled with other slaves.
#ifndef READOUT_H
#define READOUT_H

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <functional>

#include "SlaveIdentity.h"

// One axis as the read-out found it.
struct AxisReading
{
    int position = 0;
    QString name;
    QString version;
    // False when the controller did not answer the version request.
    bool answered = false;
    // Why it did not, when it refused a state: "stays in INIT, AL status code 0x0011 (...)".
    QString refusal;
    // Vendor, product, revision and serial number from the controller's EEPROM.
    SlaveIdentity identity;

    // The version, or "no reply".
    QString versionText() const;
};

// One part of the robot on the bus.
struct PartReading
{
    // "arm" or "platform", as the operator's texts name the parts.
    QString part;
    int expected = 0;
    // Bus position of the first controller of the part; 0 when none is on the bus.
    int start = 0;
    // Controllers of the part the bring-up counted.
    int counted = 0;
    // The part's axes in order, when it is complete; empty otherwise.
    QList<AxisReading> axes;
    // Why a part on the bus is not complete, for example "only 4 of 5 arm axes were found".
    QString problem;

    bool present() const { return start != 0; }
    bool complete() const { return !axes.isEmpty(); }

    // "Current firmwareversion <part> axis <k>: <version>" for each axis of a complete part,
    // followed by " name of the slave: <name>" when `withNames`; one "<part> not read: <problem>"
    // line for a part that is present but not complete; nothing for a part not on the bus.
    QString versionLines(bool withNames) const;
    // "arm axis 3 runs 1.40, not 1.48" for each axis that answered with a version other than
    // `carried`; nothing when `carried` is empty.
    QStringList behind(const QString& carried) const;
};

struct ReadOutResult
{
    // True when the read-out ran to its end; false with the text for the operator in `failure`.
    bool ok = false;
    QString failure;
    int SlaveCount = 0;
    int PlatformSlaveCount = 0;
    int ArmSlaveCount = 0;
    PartReading arm;
    PartReading platform;
    // Names of the slaves at bus positions 1, 2, ...
    QStringList names;

    int Arm1Start() const { return arm.start; }
    int PlatformStart() const { return platform.start; }

    // The arm's version lines, then the platform's.
    QString versionLines(bool withNames) const;
};

Q_DECLARE_METATYPE(ReadOutResult)

namespace ReadOut {

// Told before each axis is read: its part and axis, and its place among all axes to read.
using Report = std::function<void(const QString& part, int axis, int step, int steps)>;

// Reads the bus on `eth` out. The caller holds the bus session.
ReadOutResult run(const QString& eth, const Report& report);

}

#endif // READOUT_H
