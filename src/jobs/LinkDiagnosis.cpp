// Host probing and the cause lines. Linux only, as the raw packet socket is.
#include "LinkDiagnosis.h"

#include <QFileInfo>
#include <QNetworkInterface>

#include <arpa/inet.h>
#include <cerrno>
#include <linux/if_ether.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The EtherType of EtherCAT frames, which the master's socket is opened for.
const int etherTypeEthercat = 0x88A4;

bool mayOpenRawSocket()
{
    const int fd = ::socket(PF_PACKET, SOCK_RAW, htons(etherTypeEthercat));
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    // Any other error (no memory, no packet sockets at all) is not about rights.
    return errno != EPERM && errno != EACCES;
}

QString wiredList(const QStringList& wired)
{
    if (wired.isEmpty())
        return QStringLiteral("this computer has no wired interface.");
    return QStringLiteral("wired interfaces: ") + wired.join(QStringLiteral(", "))
        + QLatin1Char('.');
}

}

namespace LinkDiagnosis {

HostFacts probe(const QString& eth)
{
    HostFacts facts;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : all) {
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        if (iface.type() == QNetworkInterface::Ethernet
            && !flags.testFlag(QNetworkInterface::IsLoopBack))
            facts.wiredInterfaces.append(iface.name());
        if (eth.isEmpty() || iface.name() != eth)
            continue;
        facts.interfaceExists = true;
        facts.hasLink = flags.testFlag(QNetworkInterface::IsUp)
            && flags.testFlag(QNetworkInterface::IsRunning);
    }
    facts.rawSocketAllowed = mayOpenRawSocket();
    // Read from the process itself: this runs on a job's thread, where the application object's
    // cached path is not to be touched, and also in programs without one.
    facts.program = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return facts;
}

QString cause(const QString& eth, bool portOpened, const HostFacts& facts)
{
    // An open port means the name and the rights were good; what is left is the cable and the
    // robot. A host that does not know the interface (a link other than the host's) cannot tell
    // about its carrier, so only a known interface without one is called unlinked.
    if (portOpened) {
        if (facts.interfaceExists && !facts.hasLink)
            return QStringLiteral("The interface %1 has no link: check the cable and that the "
                                  "robot is switched on.")
                .arg(eth);
        return QStringLiteral("No slave answered on %1: check the cable and that the robot is "
                              "switched on.")
            .arg(eth);
    }
    if (eth.isEmpty())
        return QStringLiteral("No network interface is chosen; ")
            + wiredList(facts.wiredInterfaces);
    if (!facts.interfaceExists)
        return QStringLiteral("There is no network interface %1; ").arg(eth)
            + wiredList(facts.wiredInterfaces);
    if (!facts.rawSocketAllowed)
        return QStringLiteral("The program may not open a raw socket: start it as root, or grant "
                              "it the right once with: setcap cap_net_raw+ep %1")
            .arg(facts.program);
    if (!facts.hasLink)
        return QStringLiteral("The interface %1 has no link: check the cable and that the robot "
                              "is switched on.")
            .arg(eth);
    return QStringLiteral("The interface %1 could not be opened.").arg(eth);
}

QString explain(const QString& eth, bool portOpened)
{
    return cause(eth, portOpened, probe(eth));
}

}
