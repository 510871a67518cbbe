// Who may use the bus. The EtherCAT master keeps its slave table, frame buffers and process image
// in process-wide tables, so only one thread at a time may open a session on it: the job that runs
// a flow takes the session for its whole run, and the entry points into the bus check that their
// caller holds it; single-threaded programs and tests take it once, explicitly.
//
// On a real network interface the session also keeps other programs off it: taken for an
// interface while the master's link is the raw socket, it holds that interface's lock
// (InterfaceLock.h) as well. A link a test installed reaches no interface and takes no lock, and
// neither does a name no interface can have: the socket cannot be opened on it, and the flow
// reports that in its own words.
//
//   BusSession::Lock session(eth);
//   if (!session.held())
//       return session.refusal(); // another job, or another program, is on the bus
#ifndef BUSSESSION_H
#define BUSSESSION_H

#include <QString>

#include <memory>

class InterfaceLock;

namespace BusSession {

// Takes the session for the calling thread if it is free; gives it back when destroyed. Locks nest
// on the thread that holds the session; only the outermost one gives it back.
class Lock
{
public:
    // The session alone, for a caller that opens no interface of its own.
    Lock();
    // The session and, when the master opens a real interface, the lock on `eth`.
    explicit Lock(const QString& eth);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // True when this lock took the session (and the interface); false when another thread of
    // this process or another program holds it.
    bool held() const { return held_; }
    // Why the session was not taken, for the operator; empty when it is held.
    QString refusal() const { return refusal_; }

private:
    void release();

    bool held_ = false;
    bool session_ = false;
    QString refusal_;
    std::unique_ptr<InterfaceLock> interface_;
};

// Returns true when the calling thread holds the session. The application's entries into the bus
// refuse to work without it, in every build: a caller that forgot to take it would otherwise meet
// another thread's session in the master's global tables.
bool heldHere();

// Returns true when the master's link is the product's raw socket, so that a session opens a real
// interface, rather than a link a test or a recorder installed.
bool rawSocketInUse();
// Returns true when a session on `eth` must hold the interface's lock: the raw socket is in use and
// `eth` can name an interface.
bool needsInterfaceLock(const QString& eth);

}

#endif // BUSSESSION_H
