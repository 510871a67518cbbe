// zuvianctl's diagnosis of the cabling: `diag` says which links lose frames and what the PC adds,
// `graph` draws the cabling as Graphviz DOT with those links marked. Both run the diagnosis job
// the window's "Details…" runs.
#include "commands.h"

#include <CLI/CLI.hpp>

#include <memory>

#include "BusDiagnosis.h"

namespace cli {

namespace {

using ErrorCounters::Link;

nlohmann::json linkJson(const Link& link)
{
    const bool nowhere = link.to < 0;
    return {{"from", link.from}, {"to", nowhere ? nlohmann::json() : nlohmann::json(link.to)},
        {"fromPort", link.fromPort},
        {"toPort", nowhere ? nlohmann::json() : nlohmann::json(link.toPort)},
        {"errors", link.errors()}, {"lostLinks", link.lostLinks},
        {"meaning", str(ErrorCounters::meaning(link))}};
}

nlohmann::json linksJson(const QList<Link>& links)
{
    nlohmann::json list = nlohmann::json::array();
    for (const Link& link : links)
        list.push_back(linkJson(link));
    return list;
}

template <typename Array>
nlohmann::json perPort(const Array& values)
{
    return nlohmann::json(std::vector<int>(values.begin(), values.end()));
}

nlohmann::json countsJson(const ErrorCounters::SlaveReading& reading)
{
    if (!reading.read)
        return nullptr;
    const ErrorCounters::Counts& c = reading.counts;
    std::vector<int> open;
    for (int p = 0; p < ErrorCounters::portCount; ++p)
        if (reading.portOpen(p))
            open.push_back(p);
    return {{"dlStatus", reading.dlStatus}, {"openPorts", open},
        {"invalidFrames", perPort(c.invalidFrames)}, {"rxErrors", perPort(c.rxErrors)},
        {"forwardedErrors", perPort(c.forwardedErrors)}, {"lostLinks", perPort(c.lostLinks)},
        {"processingUnitErrors", c.processingUnitErrors}, {"pdiErrors", c.pdiErrors}};
}

nlohmann::json slavesJson(const DiagnosisOutcome& o)
{
    nlohmann::json slaves = nlohmann::json::array();
    const qsizetype count = std::max(o.before.size(), o.measured.size());
    for (qsizetype k = 0; k < count; ++k) {
        nlohmann::json slave = {{"position", k + 1},
            {"name", k < o.names.size() ? nlohmann::json(str(o.names.at(k))) : nlohmann::json()},
            {"address",
                k < o.addresses.size() ? nlohmann::json(o.addresses.at(k)) : nlohmann::json()}};
        if (k < o.hops.size())
            slave["parent"]
                = {{"position", o.hops.at(k).parent}, {"port", o.hops.at(k).parentPort}};
        slave["before"] = k < o.before.size() ? countsJson(o.before.at(k)) : nlohmann::json();
        slave["interval"] = k < o.measured.size() ? countsJson(o.measured.at(k)) : nlohmann::json();
        slaves.push_back(slave);
    }
    return slaves;
}

nlohmann::json onOff(int value)
{
    return value < 0 ? nlohmann::json() : nlohmann::json(value == 1);
}

nlohmann::json knownCount(long long value)
{
    return value < 0 ? nlohmann::json() : nlohmann::json(value);
}

nlohmann::json hostJson(const DiagnosisOutcome& o)
{
    const NetworkCard::Facts& f = o.host;
    nlohmann::json advice = nlohmann::json::array();
    for (const QString& line : NetworkCard::advice(o.eth, f))
        advice.push_back(str(line));
    const RoundTrips& t = o.roundTrips;
    return {{"interface", str(o.eth)},
        {"driver", f.driver.isEmpty() ? nlohmann::json() : nlohmann::json(str(f.driver))},
        {"bus", str(f.bus)},
        {"coalescing",
            f.coalescingKnown ? nlohmann::json{{"rxUsecs", f.rxUsecs}, {"rxFrames", f.rxFrames},
                {"adaptiveRx", f.adaptiveRx}, {"delaysReplies", NetworkCard::coalescingDelays(f)}}
                              : nlohmann::json()},
        {"offloads", {{"gro", onOff(f.gro)}, {"lro", onOff(f.lro)}}},
        {"roundTrips",
            {{"sent", t.sent}, {"unanswered", t.unanswered}, {"incomplete", t.incomplete},
                {"medianUs", t.medianUs}, {"p99Us", t.p99Us}, {"worstUs", t.worstUs}}},
        {"carrierChanges", knownCount(o.hostCarrierChanges)},
        {"crcErrors", knownCount(o.hostCrcErrors)}, {"advice", advice}};
}

nlohmann::json diagnosisJson(const DiagnosisOutcome& o)
{
    return {{"interface", str(o.eth)}, {"ok", o.ok}, {"seconds", o.seconds}, {"cleared", o.cleared},
        {"links", linksJson(o.links)}, {"before", linksJson(o.beforeLinks)},
        {"slaves", slavesJson(o)}, {"host", hostJson(o)}, {"text", str(o.report)}};
}

// A text as a quoted DOT string.
std::string quoted(const QString& text)
{
    std::string out = "\"";
    for (const char c : str(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) >= 0x20)
            out += c;
    }
    return out + "\"";
}

std::string dotOf(const DiagnosisOutcome& o)
{
    std::string dot = "digraph bus {\n  rankdir=LR;\n  node [shape=box];\n";
    dot += "  pc [label=" + quoted(QStringLiteral("PC\n") + o.eth) + ", shape=ellipse];\n";
    const auto node = [](int position) {
        return position == 0 ? std::string("pc") : "s" + std::to_string(position);
    };
    for (int s = 1; s <= o.hops.size(); ++s) {
        const QString name = s <= o.names.size() ? o.names.at(s - 1) : QStringLiteral("?");
        const QString address = s <= o.addresses.size()
            ? QStringLiteral("0x%1").arg(o.addresses.at(s - 1), 4, 16, QLatin1Char('0'))
            : QStringLiteral("no address");
        dot += "  " + node(s)
            + " [label=" + quoted(QStringLiteral("%1: %2\n%3").arg(s).arg(name, address)) + "];\n";
    }
    const auto troubled = [&o](int from, int to) -> const Link* {
        for (const Link& link : o.links)
            if (link.from == from && link.to == to)
                return &link;
        return nullptr;
    };
    for (int s = 1; s <= o.hops.size(); ++s) {
        const ErrorCounters::Hop& hop = o.hops.at(s - 1);
        dot += "  " + node(hop.parent) + " -> " + node(s) + " [";
        if (hop.parent != 0)
            dot += "taillabel=\"" + std::to_string(hop.parentPort) + "\", ";
        dot += "headlabel=\"0\"";
        if (const Link* link = troubled(hop.parent, s))
            dot += ", color=red, penwidth=3, label="
                + quoted(QStringLiteral("%1 errors, %2 lost links")
                             .arg(link->errors())
                             .arg(link->lostLinks));
        dot += "];\n";
    }
    int loose = 0;
    for (const Link& link : o.links) {
        if (link.to >= 0)
            continue;
        const std::string end = "nothing" + std::to_string(++loose);
        dot += "  " + end + " [label=\"nothing answering\", shape=plaintext];\n";
        dot += "  " + node(link.from) + " -> " + end + " [taillabel=\""
            + std::to_string(link.fromPort) + "\", color=red, penwidth=3, label="
            + quoted(
                QStringLiteral("%1 errors, %2 lost links").arg(link.errors()).arg(link.lostLinks))
            + "];\n";
    }
    return dot + "}\n";
}

std::string troubleLine(const char* command, const DiagnosisOutcome& o)
{
    const std::string where = std::string(command) + " on " + str(o.eth) + ": ";
    if (!o.links.isEmpty() || !o.beforeLinks.isEmpty())
        return where + "a link shows errors or lost links (see the report)";
    return where + std::to_string(o.roundTrips.unanswered) + " reads went unanswered";
}

DiagnosisOutcome runDiagnosis(Context& context, int seconds, bool clear)
{
    BusDiagnosis job(context.interface(), seconds, clear);
    attach(job, context);
    return job.run();
}

Result resultOf(
    const char* command, const DiagnosisOutcome& o, nlohmann::json doc, std::string text)
{
    if (!o.ok)
        return failure(
            std::string(command) + " on " + str(o.eth) + ": " + causeFirst(o.failure), doc);
    Result result;
    result.doc = std::move(doc);
    result.text = std::move(text);
    if (o.troubled()) {
        result.status = Failed;
        result.error = troubleLine(command, o);
    }
    return result;
}

}

Result diag(Context& context, int seconds, bool clear)
{
    const DiagnosisOutcome o = runDiagnosis(context, seconds, clear);
    return resultOf("diag", o, diagnosisJson(o), str(o.report));
}

Result graph(Context& context, int seconds)
{
    const DiagnosisOutcome o = runDiagnosis(context, seconds, false);
    nlohmann::json doc = diagnosisJson(o);
    const std::string dot = o.ok ? dotOf(o) : std::string();
    doc["dot"] = dot;
    return resultOf("graph", o, doc, dot);
}

void addDiagCommands(CLI::App& app, const std::function<void(CLI::App*)>& common,
    std::function<Result(Context&)>& command)
{
    struct Options
    {
        int seconds = 10;
        bool clear = false;
    };
    const auto o = std::make_shared<Options>();

    auto* diagnose = app.add_subcommand("diag",
        "find where the bus loses frames: each link's errors and lost links (what the last job "
        "left, then a measured interval) and the PC's part; exit status 1 when a link shows them");
    common(diagnose);
    diagnose->add_option("--seconds", o->seconds, "length of the measured interval (default 10)")
        ->check(CLI::Range(1, 3600));
    diagnose->add_flag("--clear", o->clear,
        "also clear the counters the enumeration leaves (forwarded errors, lost links)");
    diagnose->callback(
        [o, &command] { command = [o](Context& c) { return diag(c, o->seconds, o->clear); }; });

    auto* draw = app.add_subcommand("graph",
        "write the cabling as Graphviz DOT: slaves, the ports of each link, links with errors in "
        "a measured interval marked");
    common(draw);
    draw->add_option("--seconds", o->seconds, "length of the measured interval (default 10)")
        ->check(CLI::Range(1, 3600));
    draw->callback([o, &command] { command = [o](Context& c) { return graph(c, o->seconds); }; });
}

}
