// The cabling from the DL status, increases of the counters and the links they point to.
#include "ErrorCounters.h"

#include <QStringList>

#include <algorithm>

namespace ErrorCounters {

namespace {

// The order in which a frame leaves a slave through its ports after port 0.
const int onwardPorts[] = {3, 1, 2};

int less(int after, int before)
{
    return after >= before ? after - before : after;
}

template <size_t N>
std::array<int, N> less(const std::array<int, N>& after, const std::array<int, N>& before)
{
    std::array<int, N> result{};
    for (size_t i = 0; i < N; ++i)
        result[i] = less(after[i], before[i]);
    return result;
}

}

int Counts::errorsAt(int port) const
{
    if (port < 0 || port >= portCount)
        return 0;
    return invalidFrames[size_t(port)] + rxErrors[size_t(port)];
}

bool Counts::any() const
{
    for (int p = 0; p < portCount; ++p) {
        if (errorsAt(p) || forwardedErrors[size_t(p)] || lostLinks[size_t(p)])
            return true;
    }
    return processingUnitErrors || pdiErrors;
}

void SlaveReading::setCounterBytes(const std::uint8_t* bytes)
{
    // 0x0300 + 2p invalid frames, 0x0301 + 2p receive errors, 0x0308 + p forwarded errors,
    // 0x030C processing unit, 0x030D PDI, 0x0310 + p lost links.
    for (size_t p = 0; p < size_t(portCount); ++p) {
        counts.invalidFrames[p] = bytes[2 * p];
        counts.rxErrors[p] = bytes[2 * p + 1];
        counts.forwardedErrors[p] = bytes[0x08 + p];
        counts.lostLinks[p] = bytes[0x10 + p];
    }
    counts.processingUnitErrors = bytes[0x0C];
    counts.pdiErrors = bytes[0x0D];
}

bool SlaveReading::portOpen(int port) const
{
    // Bits 8 + 2p (loop closed) and 9 + 2p (communication) of the DL status: open is 10.
    return ((dlStatus >> (8 + 2 * port)) & 0x3) == 0x2;
}

QList<Hop> cabling(const QList<const Snapshot*>& snapshots)
{
    qsizetype slaves = 0;
    for (const Snapshot* snapshot : snapshots)
        slaves = std::max(slaves, snapshot->size());
    QList<Hop> hops;
    // The slaves whose ports still wait for the slaves behind them, with those ports in order.
    QList<QPair<int, QList<int>>> open;
    for (int s = 1; s <= slaves; ++s) {
        Hop hop;
        if (s > 1) {
            while (!open.isEmpty() && open.last().second.isEmpty())
                open.removeLast();
            if (open.isEmpty()) {
                // The DL status contradicts the slave's presence (a link came up between two
                // readings): it is behind the slave before it, as on a line.
                hop.parent = s - 1;
                hop.parentPort = 1;
            } else {
                hop.parent = open.last().first;
                hop.parentPort = open.last().second.takeFirst();
            }
        }
        hops.append(hop);
        QList<int> ports;
        for (int p : onwardPorts) {
            for (const Snapshot* snapshot : snapshots) {
                if (snapshot->size() >= s && snapshot->at(s - 1).read
                    && snapshot->at(s - 1).portOpen(p)) {
                    ports.append(p);
                    break;
                }
            }
        }
        open.append({s, ports});
    }
    return hops;
}

Snapshot increase(const Snapshot& from, const Snapshot& to)
{
    Snapshot result;
    for (qsizetype k = 0; k < to.size(); ++k) {
        SlaveReading reading;
        reading.dlStatus = to.at(k).dlStatus;
        if (k < from.size() && from.at(k).read && to.at(k).read) {
            const Counts& a = from.at(k).counts;
            const Counts& b = to.at(k).counts;
            reading.read = true;
            reading.counts.invalidFrames = less(b.invalidFrames, a.invalidFrames);
            reading.counts.rxErrors = less(b.rxErrors, a.rxErrors);
            reading.counts.forwardedErrors = less(b.forwardedErrors, a.forwardedErrors);
            reading.counts.lostLinks = less(b.lostLinks, a.lostLinks);
            reading.counts.processingUnitErrors
                = less(b.processingUnitErrors, a.processingUnitErrors);
            reading.counts.pdiErrors = less(b.pdiErrors, a.pdiErrors);
        }
        result.append(reading);
    }
    return result;
}

QList<Link> troubledLinks(const Snapshot& counts, const QList<Hop>& hops, int pcErrors)
{
    const auto countsOf = [&counts](int position) -> const Counts* {
        if (position < 1 || position > counts.size() || !counts.at(position - 1).read)
            return nullptr;
        return &counts.at(position - 1).counts;
    };
    QList<Link> links;
    // Ports of each slave that lead to another slave, so that counts on any other port are found.
    QList<std::array<bool, portCount>> used(counts.size(), std::array<bool, portCount>{});
    for (int s = 1; s <= hops.size(); ++s) {
        const Hop& hop = hops.at(s - 1);
        Link link;
        link.from = hop.parent;
        link.fromPort = hop.parentPort;
        link.to = s;
        link.toPort = 0;
        if (const Counts* near = countsOf(s)) {
            link.errorsAtTo = near->errorsAt(0);
            link.lostLinks = near->lostLinks[0];
        }
        if (hop.parent == 0) {
            link.errorsAtFrom = pcErrors;
        } else if (const Counts* far = countsOf(hop.parent)) {
            link.errorsAtFrom = far->errorsAt(hop.parentPort);
            link.lostLinks = std::max(link.lostLinks, far->lostLinks[size_t(hop.parentPort)]);
        }
        if (hop.parent >= 1 && hop.parent <= used.size())
            used[hop.parent - 1][size_t(hop.parentPort)] = true;
        if (s <= used.size())
            used[s - 1][0] = true;
        if (link.errors() > 0 || link.lostLinks > 0)
            links.append(link);
    }
    for (int s = 1; s <= counts.size(); ++s) {
        const Counts* own = countsOf(s);
        for (int p = 1; own && p < portCount; ++p) {
            if (used[s - 1][size_t(p)] || (!own->errorsAt(p) && !own->lostLinks[size_t(p)]))
                continue;
            Link link;
            link.from = s;
            link.fromPort = p;
            link.to = -1;
            link.errorsAtFrom = own->errorsAt(p);
            link.lostLinks = own->lostLinks[size_t(p)];
            links.append(link);
        }
    }
    return links;
}

QString placeName(int position)
{
    return position == 0 ? QStringLiteral("the PC") : QStringLiteral("slave %1").arg(position);
}

QString meaning(const Link& link)
{
    const QString cable = link.to < 0
        ? QStringLiteral("the cable on %1 port %2, or its connectors (nothing answers behind "
                         "it now)")
              .arg(placeName(link.from))
              .arg(link.fromPort)
        : QStringLiteral("the cable between %1 and %2, or its connectors")
              .arg(placeName(link.from), placeName(link.to));
    QStringList said;
    if (link.errors() > 0) {
        QStringList where;
        if (link.errorsAtTo > 0)
            where.append(QStringLiteral("%1 at slave %2 port %3")
                             .arg(link.errorsAtTo)
                             .arg(link.to)
                             .arg(link.toPort));
        if (link.errorsAtFrom > 0)
            where.append(link.from == 0
                    ? QStringLiteral("%1 by the PC's network interface").arg(link.errorsAtFrom)
                    : QStringLiteral("%1 at slave %2 port %3")
                          .arg(link.errorsAtFrom)
                          .arg(link.from)
                          .arg(link.fromPort));
        said.append(QStringLiteral("errors counted %1: %2")
                        .arg(where.join(QStringLiteral(" and ")), cable));
    }
    if (link.lostLinks > 0)
        said.append(QStringLiteral("the link was lost %1 time%2: a loose connector or a cable that "
                                   "breaks when it moves (%3), or a slave that lost its power")
                        .arg(link.lostLinks)
                        .arg(link.lostLinks == 1 ? QString() : QStringLiteral("s"))
                        .arg(cable));
    return said.join(QStringLiteral("; "));
}

}
