// One entry of a parameter set as the axis service loads it: what the file asks for and what the
// controller held when the set was loaded. Plus the record of what a write of a set achieved.
#ifndef ETHERCATPARAMETER_H
#define ETHERCATPARAMETER_H

#include <QList>
#include <QMap>
#include <QString>

struct EtherCatParameter
{
    // Slave number the entry belongs to; 0 for a wheel-base entry (it goes to all four axes).
    int axis = 0;
    // Value read from the controller while loading; 0xFFFFFFFF when it gave none.
    quint32 CurrentValue = 0;
    QString Description;
    // Parameter number.
    quint8 ParameterType = 0;
    // Target value from the file.
    quint32 ParameterValue = 0;
    // Empty, or why CurrentValue cannot be trusted (no reply, wheel-base axes that disagree).
    QString errorMessage;
};

// A value the read-back found other than the one written.
struct ReadBackDifference
{
    int slave = 0;
    int type = 0;
    quint32 written = 0;
    // What the controller holds; MCP_NOREPLY when it gave no reply.
    quint32 held = 0;
};

// What EtherCatWrapper::WriteParameters and ReadBackParameters achieved on the controllers.
struct ParameterWriteReport
{
    // Nothing was sent: the start numbers given lie outside the bus of the session.
    bool refused = false;
    // Commands (password, set, store, global set and store) the controllers confirmed.
    int confirmed = 0;
    // Slave number to the parameter numbers, ascending and once each, whose password, set or
    // store went unconfirmed or whose value read back differed from the one written.
    QMap<int, QList<int>> unconfirmed;
    // Every value the read-back found different, in the order read.
    QList<ReadBackDifference> differences;

    // Returns true when something was sent and every command was confirmed.
    bool allConfirmed() const { return !refused && unconfirmed.isEmpty(); }
    // Counts a confirmed command, or files `type` under `slave` as not confirmed.
    void note(int slave, int type, bool confirmedCommand);
};

#endif // ETHERCATPARAMETER_H
