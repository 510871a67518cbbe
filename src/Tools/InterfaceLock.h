// One process per network interface. The bus session (BusSession.h) keeps a second thread of this
// process off the bus; this keeps a second program off it: the window, zuvianctl and the benchmarks
// each hold an advisory lock (flock) on a file named after the interface for as long as they use
// the bus there, and a program that finds it held refuses, naming the holder:
//
//   InterfaceLock lock(QStringLiteral("eth1"));
//   if (!lock.held())
//       return lock.refusal();   // "eth1 is in use by zuvianctl (process 1234)"
//
// The file is /run/lock/zuvian-<interface>.lock; it holds "<program> <process id>" while held. The
// kernel drops the lock when the holder's process ends, however it ends, so nothing is ever left to
// clean up; the file itself stays (removing it would let two programs lock two different files).
// Without /run/lock the file goes to /tmp, the one other directory every user may create files in.
//
// Locks of one process nest: a second lock on an interface this process already holds shares it
// (a command that holds the interface runs jobs that take it again).
#ifndef INTERFACELOCK_H
#define INTERFACELOCK_H

#include <QString>

class InterfaceLock
{
public:
    // Takes the lock on `eth` without waiting, or shares this process's lock on it.
    explicit InterfaceLock(const QString& eth);
    ~InterfaceLock();
    InterfaceLock(const InterfaceLock&) = delete;
    InterfaceLock& operator=(const InterfaceLock&) = delete;

    bool held() const { return held_; }
    // Why the lock was not taken, for the operator; empty when it is held.
    QString refusal() const { return refusal_; }

    // Returns an empty text when `eth` can name a network interface (and so a file of its own), or
    // why it cannot: the kernel's rules, which also keep a name from leaving the lock directory.
    static QString nameProblem(const QString& eth);
    // The lock file of an interface, in the directory in use now.
    static QString path(const QString& eth);

private:
    QString eth_;
    bool held_ = false;
    QString refusal_;
};

#endif // INTERFACELOCK_H
