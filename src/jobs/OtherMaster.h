// Another EtherCAT master on the same interface. Every program on a wire receives the replies to
// every other program's requests; the master counts those that answer nothing it sent
// (ec_portstats). A job notes the count when it takes the bus and looks again before its first
// write: a robot that another program works on at the same time must not be blamed for what that
// program does, nor written to. Once writing has begun, an image is never broken off for it: the
// job only says so at the end.
#ifndef OTHERMASTER_H
#define OTHERMASTER_H

#include <QString>

class OtherMaster
{
public:
    // Notes what the wire carried so far.
    OtherMaster();

    // Replies to requests this program never sent, since construction or the last `restart`.
    quint32 seen() const;
    void restart();

    // The job's text when `seen` is not 0: before any write (the job stops, nothing was written),
    // or after writing began (said beside the outcome). Empty when nothing was seen.
    QString refusal(const QString& eth) const;
    QString notice(const QString& eth) const;

private:
    quint32 start_;
};

#endif // OTHERMASTER_H
