// The two steps of the diagnosis on the master's primitives, and its report.
#include "BusDiagnosis.h"

#include <QStringList>

#include <algorithm>

#include "BusSession.h"
#include "LinkDiagnosis.h"

#include "eclink.h"
#include "ectiming.h"
#include "ethercatbase.h"
#include "ethercatconfig.h"
#include "ethercatmain.h"
#include "nicdrv.h"

namespace {

using ErrorCounters::Link;
using ErrorCounters::SlaveReading;
using ErrorCounters::Snapshot;

// A reply later than this counts as unanswered: far beyond any bus of this size (tens of
// microseconds) and what a loaded host adds, short enough that a lost frame does not stall the
// interval's traffic for long.
const int roundTripLimitUs = 10000;
// Pause between two of the interval's reads: the bus stays busy, the host does not.
const int readPauseUs = 500;
// How long the closing reading waits for slaves that do not answer: a link that dropped during
// the interval comes back within this, and the counts behind it are still read.
const long long missingGraceUs = 5000000;
const long long missingPollUs = 100000;

// Reads one slave's DL status and counters; by position (`adp` the negated position) or by its
// configured station address. Nothing is written.
SlaveReading readSlave(uint16 adp, bool byPosition)
{
    SlaveReading reading;
    uint8 status[2] = {0, 0};
    uint8 counters[ErrorCounters::counterBytes] = {};
    const auto read = byPosition ? &ec_APRD : &ec_FPRD;
    if (read(adp, ErrorCounters::dlStatusRegister, sizeof status, status, EC_TIMEOUT_FRAME) <= 0)
        return reading;
    if (read(adp, ErrorCounters::counterBase, sizeof counters, counters, EC_TIMEOUT_FRAME) <= 0)
        return reading;
    reading.read = true;
    reading.dlStatus = uint16(status[0] | (status[1] << 8));
    reading.setCounterBytes(counters);
    return reading;
}

Snapshot readEnumerated(int slaves)
{
    Snapshot snapshot;
    for (int s = 1; s <= slaves; ++s)
        snapshot.append(readSlave(ec_slave[s].configadr, false));
    return snapshot;
}

// Closes the port however the diagnosis ends.
struct OpenPort
{
    bool open = false;
    ~OpenPort()
    {
        if (open)
            ec_close();
    }
};

// "1 error", "2 errors".
QString counted(int n, const char* what)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(what)).arg(n == 1 ? "" : "s");
}

QString linkLine(const Link& link)
{
    const QString to = link.to < 0
        ? QStringLiteral("nothing answering")
        : QStringLiteral("%1 port %2").arg(ErrorCounters::placeName(link.to)).arg(link.toPort);
    const QString from = link.from == 0
        ? ErrorCounters::placeName(0)
        : QStringLiteral("%1 port %2").arg(ErrorCounters::placeName(link.from)).arg(link.fromPort);
    return QStringLiteral("  %1 - %2: %3, %4\n    %5\n")
        .arg(from, to, counted(link.errors(), "error"), counted(link.lostLinks, "lost link"),
            ErrorCounters::meaning(link));
}

// Slaves whose own parts counted errors, which no cable explains.
QString ownErrors(const Snapshot& counts)
{
    QString text;
    for (int s = 1; s <= counts.size(); ++s) {
        const ErrorCounters::Counts& c = counts.at(s - 1).counts;
        if (c.processingUnitErrors > 0)
            text += QStringLiteral("  slave %1: %2 frames its processing unit rejected: the slave "
                                   "itself, not a cable\n")
                        .arg(s)
                        .arg(c.processingUnitErrors);
        if (c.pdiErrors > 0)
            text += QStringLiteral("  slave %1: %2 errors between its controller and its own "
                                   "electronics (PDI): the slave itself\n")
                        .arg(s)
                        .arg(c.pdiErrors);
    }
    return text;
}

}

RoundTrips RoundTrips::of(QList<long long> samples, int unanswered, int incomplete)
{
    RoundTrips trips;
    trips.sent = int(samples.size()) + unanswered;
    trips.unanswered = unanswered;
    trips.incomplete = incomplete;
    if (samples.isEmpty())
        return trips;
    std::sort(samples.begin(), samples.end());
    const qsizetype n = samples.size();
    trips.medianUs = samples.at(n / 2);
    // The smallest round trip that 99 in 100 do not exceed.
    trips.p99Us = samples.at(std::min<qsizetype>(n - 1, (n * 99 + 99) / 100 - 1));
    trips.worstUs = samples.last();
    return trips;
}

BusDiagnosis::BusDiagnosis(const QString& eth, int seconds, bool clear, QObject* parent)
    : BusJob(parent)
    , eth_(eth)
    , seconds_(std::max(1, seconds))
    , clear_(clear)
{
    qRegisterMetaType<DiagnosisOutcome>();
}

DiagnosisOutcome BusDiagnosis::run()
{
    DiagnosisOutcome outcome;
    outcome.eth = eth_;
    outcome.seconds = seconds_;
    outcome.host = NetworkCard::probe(eth_);
    {
        BusSession::Lock session(eth_);
        if (session.held() && BusSession::heldHere())
            diagnose(outcome);
        else
            outcome.failure = session.refusal();
    }
    outcome.report = reportOf(outcome);
    JobProgress done;
    done.step = done.steps = 3;
    done.stepComplete = true;
    emit progress(done);
    leaveRecord(JobRecord::fromDiagnosis(outcome, recordContext(JobRecord::diagJob, eth_)));
    emit finished(outcome);
    return outcome;
}

quint32 BusDiagnosis::framesSent()
{
    return ec_portstats()->sent;
}

void BusDiagnosis::work()
{
    run();
}

void BusDiagnosis::diagnose(DiagnosisOutcome& outcome)
{
    JobProgress now;
    now.steps = 3;
    now.step = 1;
    emit progress(now);
    emit status(QStringLiteral("read the error counters the last job left on %1").arg(eth_));
    OpenPort port;
    if (ec_init(eth_.toLocal8Bit().constData()) <= 0) {
        outcome.failure = LinkDiagnosis::explain(eth_, false);
        return;
    }
    port.open = true;
    // Counted by broadcast, read by position: no slave is addressed in a way that would change it.
    uint8 type[2] = {0, 0};
    const int counted = ec_BRD(0, ECT_REG_TYPE, sizeof type, type, EC_TIMEOUT_SAFE);
    if (counted <= 0) {
        outcome.failure = LinkDiagnosis::explain(eth_, true);
        return;
    }
    for (int s = 1; s <= counted; ++s)
        outcome.before.append(readSlave(uint16(1 - s), true));

    now.step = 2;
    emit progress(now);
    emit status(QStringLiteral("enumerate the bus on %1").arg(eth_));
    const int found = ec_config_init(FALSE);
    if (found == EC_TOOMANYSLAVES) {
        outcome.failure
            = QStringLiteral("More slaves on the bus on %1 than the master can hold.").arg(eth_);
        return;
    }
    if (found <= 0 && found != EC_SIIFAILED) {
        outcome.failure = LinkDiagnosis::explain(eth_, true);
        return;
    }
    // A slave whose SII could not be read is still counted and addressed: its name stays empty.
    for (int s = 1; s <= ec_slavecount; ++s) {
        outcome.names.append(QString::fromLatin1(ec_slave[s].name));
        outcome.addresses.append(ec_slave[s].configadr);
    }
    if (clear_) {
        uint8 zeros[ErrorCounters::counterBytes] = {};
        for (int s = 1; s <= ec_slavecount; ++s)
            ec_FPWR(ec_slave[s].configadr, ErrorCounters::counterBase, sizeof zeros, zeros,
                EC_TIMEOUT_FRAME);
        outcome.cleared = true;
    }
    measure(outcome, ec_slavecount);
    outcome.ok = true;
}

void BusDiagnosis::measure(DiagnosisOutcome& outcome, int slaves)
{
    outcome.start = readEnumerated(slaves);
    const NetworkCard::Facts hostBefore = NetworkCard::probe(eth_);

    JobProgress now;
    now.steps = 3;
    now.step = 3;
    now.total = seconds_;
    QList<long long> samples;
    int unanswered = 0;
    int incomplete = 0;
    const int64_t started = ec_clock_now();
    const int64_t until = started + int64_t(seconds_) * 1000000;
    long long second = -1;
    while (!stopRequested()) {
        const int64_t sent = ec_clock_now();
        if (sent >= until)
            break;
        if ((sent - started) / 1000000 != second) {
            second = (sent - started) / 1000000;
            now.done = second;
            emit progress(now);
            emit status(QStringLiteral("measure the links on %1: %2 of %3 s")
                            .arg(eth_)
                            .arg(second)
                            .arg(seconds_));
        }
        uint8 state[2] = {0, 0};
        const int wkc
            = ec_BRD(0, ECT_REG_ALSTAT, sizeof state, state, EC_ONEATTEMPT(roundTripLimitUs));
        const int64_t back = ec_clock_now();
        if (wkc < 0) {
            ++unanswered;
        } else {
            samples.append(back - sent);
            if (wkc < slaves)
                ++incomplete;
        }
        ec_clock_sleep(readPauseUs);
    }
    outcome.roundTrips = RoundTrips::of(samples, unanswered, incomplete);

    outcome.end = readEnumerated(slaves);
    const int64_t grace = ec_clock_now() + missingGraceUs;
    for (;;) {
        bool missing = false;
        for (int s = 1; s <= slaves; ++s) {
            if (!outcome.end.at(s - 1).read)
                outcome.end[s - 1] = readSlave(ec_slave[s].configadr, false);
            missing = missing || !outcome.end.at(s - 1).read;
        }
        if (!missing || ec_clock_now() >= grace || stopRequested())
            break;
        ec_clock_sleep(missingPollUs);
    }

    const NetworkCard::Facts hostAfter = NetworkCard::probe(eth_);
    if (hostBefore.carrierChanges >= 0 && hostAfter.carrierChanges >= 0)
        outcome.hostCarrierChanges = hostAfter.carrierChanges - hostBefore.carrierChanges;
    if (hostBefore.rxCrcErrors >= 0 && hostAfter.rxCrcErrors >= 0)
        outcome.hostCrcErrors = hostAfter.rxCrcErrors - hostBefore.rxCrcErrors;

    outcome.measured = ErrorCounters::increase(outcome.start, outcome.end);
    outcome.hops = ErrorCounters::cabling({&outcome.before, &outcome.start, &outcome.end});
    outcome.links = ErrorCounters::troubledLinks(
        outcome.measured, outcome.hops, int(std::max(0LL, outcome.hostCrcErrors)));
    outcome.beforeLinks = ErrorCounters::troubledLinks(outcome.before, outcome.hops);
}

QString BusDiagnosis::reportOf(const DiagnosisOutcome& o)
{
    QString text;
    if (!o.ok) {
        text = QStringLiteral("The bus on %1 could not be diagnosed: %2\n").arg(o.eth, o.failure);
    } else {
        const RoundTrips& trips = o.roundTrips;
        text += QStringLiteral("Bus on %1: %2 slaves%3.\n")
                    .arg(o.eth)
                    .arg(o.names.size())
                    .arg(o.cleared ? QStringLiteral(", counters cleared") : QString());
        text += QStringLiteral("Measured for %1 s: %2 reads, round trip median %3 us, 99% within "
                               "%4 us, worst %5 us; %6 unanswered, %7 not passing every slave.\n")
                    .arg(o.seconds)
                    .arg(trips.sent)
                    .arg(trips.medianUs)
                    .arg(trips.p99Us)
                    .arg(trips.worstUs)
                    .arg(trips.unanswered)
                    .arg(trips.incomplete);
        text += QStringLiteral("\nLinks with errors in the measured interval:\n");
        for (const Link& link : o.links)
            text += linkLine(link);
        if (o.links.isEmpty())
            text += QStringLiteral("  none\n");
        text += ownErrors(o.measured);
        text += QStringLiteral("\nWhat the last job left (errors since its enumeration, lost links "
                               "since power-on):\n");
        for (const Link& link : o.beforeLinks)
            text += linkLine(link);
        if (o.beforeLinks.isEmpty())
            text += QStringLiteral("  none\n");
        text += ownErrors(o.before);
        if (trips.unanswered > 0 && o.links.isEmpty())
            text += QStringLiteral("\nReplies went missing, yet no slave counted a damaged frame: "
                                   "the PC's interface or its driver dropped them, or the cable "
                                   "between the PC and slave 1.\n");
        if (o.hostCarrierChanges > 0)
            text += QStringLiteral("\nThe PC's interface lost its link %1 times during the "
                                   "interval: the cable between the PC and slave 1, or its "
                                   "connectors.\n")
                        .arg(o.hostCarrierChanges);
    }
    text += QLatin1Char('\n') + NetworkCard::summary(o.eth, o.host) + QLatin1Char('\n');
    for (const QString& line : NetworkCard::advice(o.eth, o.host))
        text += line + QLatin1Char('\n');
    return text;
}
