// Another EtherCAT master on the same interface (see OtherMaster.h).
#include "OtherMaster.h"

#include "nicdrv.h"

OtherMaster::OtherMaster()
    : start_(ec_portstats()->unexpected)
{}

quint32 OtherMaster::seen() const
{
    return ec_portstats()->unexpected - start_;
}

void OtherMaster::restart()
{
    start_ = ec_portstats()->unexpected;
}

QString OtherMaster::refusal(const QString& eth) const
{
    if (seen() == 0)
        return QString();
    return QStringLiteral("Another EtherCAT master is working on %1: %2 replies came for requests "
                          "this program did not send. Nothing was written. Stop the other program "
                          "(or unplug the other master) and try again.")
        .arg(eth)
        .arg(seen());
}

QString OtherMaster::notice(const QString& eth) const
{
    if (seen() == 0)
        return QString();
    return QStringLiteral("Another EtherCAT master was working on %1 during this job (%2 replies "
                          "came for requests this program did not send); it, not the robot, may "
                          "have caused a failure.")
        .arg(eth)
        .arg(seen());
}
