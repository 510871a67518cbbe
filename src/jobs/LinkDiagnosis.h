// Why the bus could not be reached on an interface, in one line for the operator. The texts the
// operator has always seen ("Slaves not found! ...", "Run programm as root ...") name several
// causes at once; this names the one that applies: the interface does not exist (and which wired
// interfaces do), the program may not open a raw socket (and how to grant it), the interface has
// no link, or no slave answered.
//
// The facts are gathered from the host separately from naming the cause, so that the naming can be
// checked for every combination without changing the host.
#ifndef LINKDIAGNOSIS_H
#define LINKDIAGNOSIS_H

#include <QString>
#include <QStringList>

namespace LinkDiagnosis {

// What the host says about an interface and about the program's rights.
struct HostFacts
{
    bool interfaceExists = false;
    // Up with a carrier: a cable to something that is switched on.
    bool hasLink = false;
    bool rawSocketAllowed = false;
    // Wired (Ethernet, not wireless, not loopback) interfaces of the host, by name.
    QStringList wiredInterfaces;
    // The program file, for the command that grants it the right.
    QString program;
};

// Returns what the host says about interface `eth`.
HostFacts probe(const QString& eth);

// Returns the line that names why no slave could be reached on `eth`: `portOpened` tells whether
// the master could open its port there.
QString cause(const QString& eth, bool portOpened, const HostFacts& facts);

// Probes the host and returns the line for `eth`.
QString explain(const QString& eth, bool portOpened);

}

#endif // LINKDIAGNOSIS_H
