// sysfs and ethtool facts of a network interface, and what they mean for the round trip. Linux
// only, as the raw packet socket is.
#include "NetworkCard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Runs one ethtool "get" command on `eth`; false when the driver does not offer it.
bool ethtool(const QString& eth, void* command)
{
    const QByteArray name = eth.toLocal8Bit();
    if (name.isEmpty() || size_t(name.size()) >= IFNAMSIZ)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ifreq request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(request.ifr_name, name.constData(), size_t(name.size()));
    request.ifr_data = static_cast<char*>(command);
    const bool done = ::ioctl(fd, SIOCETHTOOL, &request) == 0;
    ::close(fd);
    return done;
}

int offload(const QString& eth, quint32 command, quint32 mask)
{
    ethtool_value value;
    std::memset(&value, 0, sizeof value);
    value.cmd = command;
    if (!ethtool(eth, &value))
        return -1;
    return (value.data & mask) ? 1 : 0;
}

long long statistic(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const long long value = file.read(32).trimmed().toLongLong(&ok);
    return ok ? value : -1;
}

QString busOf(const QString& device)
{
    // A USB adapter's interface sits on a USB interface device, a card on a PCI device.
    const QString subsystem = QFileInfo(device + QStringLiteral("/subsystem")).symLinkTarget();
    const QString name = QFileInfo(subsystem).fileName();
    if (name == QLatin1String("usb"))
        return QStringLiteral("USB");
    if (name == QLatin1String("pci"))
        return QStringLiteral("PCI");
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

QString onOff(int value)
{
    if (value < 0)
        return QStringLiteral("unknown");
    return value ? QStringLiteral("on") : QStringLiteral("off");
}

}

namespace NetworkCard {

Facts probe(const QString& eth)
{
    Facts facts;
    const QString base = QStringLiteral("/sys/class/net/") + eth;
    if (eth.isEmpty() || eth.contains(QLatin1Char('/')) || !QFileInfo::exists(base))
        return facts;
    const QString device = base + QStringLiteral("/device");
    if (QFileInfo::exists(device)) {
        facts.bus = busOf(device);
        facts.driver
            = QFileInfo(QFileInfo(device + QStringLiteral("/driver")).symLinkTarget()).fileName();
    } else if (QFileInfo(base).symLinkTarget().contains(QLatin1String("/devices/virtual/"))) {
        facts.bus = QStringLiteral("virtual");
    }
    if (facts.driver.isEmpty()) {
        ethtool_drvinfo info;
        std::memset(&info, 0, sizeof info);
        info.cmd = ETHTOOL_GDRVINFO;
        if (ethtool(eth, &info))
            facts.driver = QString::fromLocal8Bit(
                info.driver, int(strnlen(info.driver, sizeof info.driver)));
    }

    ethtool_coalesce coalesce;
    std::memset(&coalesce, 0, sizeof coalesce);
    coalesce.cmd = ETHTOOL_GCOALESCE;
    if (ethtool(eth, &coalesce)) {
        facts.coalescingKnown = true;
        facts.rxUsecs = int(coalesce.rx_coalesce_usecs);
        facts.rxFrames = int(coalesce.rx_max_coalesced_frames);
        facts.adaptiveRx = coalesce.use_adaptive_rx_coalesce != 0;
    }
    facts.gro = offload(eth, ETHTOOL_GGRO, 1);
    facts.lro = offload(eth, ETHTOOL_GFLAGS, ETH_FLAG_LRO);
    facts.carrierChanges = statistic(base + QStringLiteral("/carrier_changes"));
    facts.rxCrcErrors = statistic(base + QStringLiteral("/statistics/rx_crc_errors"));
    return facts;
}

bool coalescingDelays(const Facts& facts)
{
    // The interrupt comes after rx-usecs or after rx-frames frames, whichever is first: a card
    // that interrupts on every frame does not wait.
    return facts.coalescingKnown
        && (facts.adaptiveRx || (facts.rxUsecs > 0 && facts.rxFrames != 1));
}

QStringList advice(const QString& eth, const Facts& facts)
{
    QStringList lines;
    if (coalescingDelays(facts))
        lines.append(QStringLiteral("Interrupt coalescing holds each reply back (rx-usecs %1%2); "
                                    "to have replies delivered at once: ethtool -C %3 "
                                    "adaptive-rx off rx-usecs 0")
                         .arg(facts.rxUsecs)
                         .arg(facts.adaptiveRx ? QStringLiteral(", adaptive") : QString())
                         .arg(eth));
    if (facts.bus == QLatin1String("USB"))
        lines.append(QStringLiteral("A USB adapter hands replies over in batches of its USB "
                                    "transfers; a card on the PC's own bus (PCI) answers faster "
                                    "and steadier."));
    return lines;
}

QString summary(const QString& eth, const Facts& facts)
{
    const QString coalescing = facts.coalescingKnown
        ? QStringLiteral("rx-usecs %1, rx-frames %2, adaptive %3")
              .arg(facts.rxUsecs)
              .arg(facts.rxFrames)
              .arg(onOff(facts.adaptiveRx ? 1 : 0))
        : QStringLiteral("unknown");
    return QStringLiteral("The PC's interface %1: driver %2, bus %3; interrupt coalescing %4; "
                          "receive offloads GRO %5, LRO %6.")
        .arg(eth, facts.driver.isEmpty() ? QStringLiteral("unknown") : facts.driver, facts.bus,
            coalescing, onOff(facts.gro), onOff(facts.lro));
}

}
