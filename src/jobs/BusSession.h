// Who may use the bus. The EtherCAT master keeps its slave table, frame buffers and process image
// in process-wide tables, so only one thread at a time may open a session on it: the job that runs
// a flow takes the session for its whole run, and the entry points into the bus check that their
// caller holds it (or that nobody does, for single-threaded programs and tests that never take it).
//
//   BusSession::Lock session;
//   if (!session.held())
//       return; // another job is on the bus
#ifndef BUSSESSION_H
#define BUSSESSION_H

namespace BusSession {

// Takes the session for the calling thread if it is free; gives it back when destroyed. Sessions
// do not nest: a thread that already holds the session gets a lock that does not hold it.
class Lock
{
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // True when this lock took the session; false when another thread holds it.
    bool held() const { return held_; }

private:
    bool held_;
};

// Returns true when the calling thread holds the session or nobody holds it: the bus may be used
// from here without meeting another thread's session.
bool usableHere();

}

#endif // BUSSESSION_H
