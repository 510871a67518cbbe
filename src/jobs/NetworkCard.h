// The PC's part in a bus's troubles: what the host says about the network interface the robot is
// cabled to (driver, bus, interrupt coalescing, receive offloads, its own error counters) and
// which of its settings are known to hold replies back. A master waits for each reply; a card
// that raises its interrupt only after some microseconds or a batch of frames makes every
// exchange that much slower, and a deadline may pass.
//
// Gathering the facts (sysfs, ethtool ioctls) is kept apart from judging them, so the judging can
// be checked for every combination. What the host does not tell stays unknown: a virtual
// interface has no bus, and many drivers offer no coalescing settings.
#ifndef NETWORKCARD_H
#define NETWORKCARD_H

#include <QString>
#include <QStringList>

namespace NetworkCard {

struct Facts
{
    // The kernel driver, empty when unknown.
    QString driver;
    // "USB", "PCI", "virtual" (no device behind it), another subsystem's name, or "unknown".
    QString bus = QStringLiteral("unknown");
    // Interrupt coalescing as ethtool -c reports it; coalescingKnown is false when the driver
    // offers none.
    bool coalescingKnown = false;
    int rxUsecs = 0;
    int rxFrames = 0;
    bool adaptiveRx = false;
    // Receive offloads: 1 on, 0 off, -1 unknown.
    int gro = -1;
    int lro = -1;
    // The interface's own counters since it came up; -1 when unknown.
    long long carrierChanges = -1;
    long long rxCrcErrors = -1;
};

// Returns what the host says about interface `eth`.
Facts probe(const QString& eth);

// True when the card's coalescing may hold a reply back after it arrived.
bool coalescingDelays(const Facts& facts);

// The lines that say what on the PC is known to delay replies, each with the command that changes
// the setting where there is one; empty when nothing is known to.
QStringList advice(const QString& eth, const Facts& facts);

// One line for a person: driver, bus, coalescing and offloads, "unknown" where the host did not
// say.
QString summary(const QString& eth, const Facts& facts);

}

#endif // NETWORKCARD_H
