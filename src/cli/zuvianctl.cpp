// The command line of zuvianctl: subcommands, options and exit statuses. Parsing only; each
// command's work lives in the command files and the jobs they run.
#include "zuvianctl.h"

#include <QString>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BusSession.h"
#include "InterfaceLock.h"
#include "capture.h"
#include "commands.h"
#include "nicdrv.h"

#ifndef ZUVIAN_VERSION
#define ZUVIAN_VERSION "unknown"
#endif

namespace {

using cli::Context;
using cli::Result;

// A number as an engineer types it: hexadecimal after "0x", decimal otherwise. A leading zero
// never means octal: "0130" is the register 0x0130 read as decimal 130, never 88. Returns false
// for anything else, a sign included, and for numbers above `max`.
bool parseNumber(const std::string& text, unsigned long max, unsigned long& value)
{
    const bool hexadecimal
        = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned base = hexadecimal ? 16 : 10;
    const size_t first = hexadecimal ? 2 : 0;
    if (text.size() <= first)
        return false;
    unsigned long number = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (hexadecimal && c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (hexadecimal && c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return false;
        number = number * base + digit;
        if (number > max)
            return false;
    }
    value = number;
    return true;
}

// Turns a numeric argument into the decimal text the parser converts, so that every number of
// the command line follows parseNumber, whatever the parser would make of a leading zero.
CLI::Validator number(unsigned long min, unsigned long max)
{
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [min, max, range](std::string& text) {
            unsigned long value = 0;
            if (!parseNumber(text, max, value) || value < min)
                return "\"" + text + "\" is no number from " + range
                    + " (decimal, or hexadecimal after 0x)";
            text = std::to_string(value);
            return std::string();
        },
        "NUMBER");
}

// An IDN as a number, or as drives name it: "S-0-0024" (standard) or "P-0-0001" (product
// specific, bit 15 set); the middle digit is the parameter set (0 to 7), the last the number
// (0 to 4095).
CLI::Validator idnNumber()
{
    return CLI::Validator(
        [](std::string& text) {
            unsigned long value = 0;
            unsigned set = 0, number = 0;
            char kind = 0;
            int used = 0;
            if (std::sscanf(text.c_str(), "%c-%1u-%4u%n", &kind, &set, &number, &used) == 3
                && size_t(used) == text.size() && (kind == 'S' || kind == 'P') && set <= 7
                && number <= 4095) {
                value = (kind == 'P' ? 0x8000u : 0u) | (set << 12) | number;
            } else if (!parseNumber(text, 0xFFFF, value)) {
                return "\"" + text + "\" is no IDN (S-0-0024, P-0-0001, or a number to 0xffff)";
            }
            text = std::to_string(value);
            return std::string();
        },
        "IDN");
}

struct Options
{
    std::string eth;
    bool json = false;
    bool yes = false;
    std::string capture;
    cli::Parts parts;
    std::string file;
    std::string output;
    std::string expectVersion;
    int slave = 0;
    std::string state;
    int index = 0;
    int subindex = 0;
    // sdo-write's arguments after the index: [subindex] value.
    std::vector<std::string> subindexAndValue;
    int address = 0;
    int length = 1;
    std::string value;
    std::string name;
    unsigned password = 0;
    int drive = 0;
    int idn = 0;
    std::string element = "value";
    std::string tester;
    cli::HistoryOptions history;
    // The command reads files only: no interface, no lock, no capture.
    bool offline = false;
    // Every place the common options are declared (before the command and in each command), so
    // that given anywhere they count, and given empty they are refused.
    std::vector<CLI::Option*> interfaceOptions;
    std::vector<CLI::Option*> captureOptions;
    std::vector<CLI::Option*> testerOptions;
};

// The options every command takes. They are declared on the program as well, so that
// "zuvianctl -i nc0 check" works as "zuvianctl check -i nc0" does; whether the interface was
// given is checked after parsing, where both places are known.
void common(CLI::App* app, Options& o)
{
    o.interfaceOptions.push_back(app->add_option("-i,--interface", o.eth,
        "network interface the robot is cabled to "
        "(required)"));
    app->add_flag("--json", o.json,
        "print one JSON document on standard output (progress stays on standard error)");
    o.captureOptions.push_back(app->add_option(
        "--capture", o.capture, "record every EtherCAT frame sent and received as a pcap file"));
    o.testerOptions.push_back(app->add_option("--tester", o.tester,
        "who does the work, as the service record names it (default: the registry's default "
        "tester, else the login name)"));
}

void partFlags(CLI::App* sub, Options& o)
{
    sub->add_flag("--arm", o.parts.arm, "only the arm");
    sub->add_flag("--platform", o.parts.platform, "only the wheel base (platform)");
}

void parameterFileOption(CLI::App* sub, Options& o)
{
    sub->add_option("-f,--file", o.file, "parameter file (default: the embedded set)")
        ->check(CLI::ExistingFile);
}

void slaveArgument(CLI::App* sub, Options& o)
{
    sub->add_option("slave", o.slave, "slave by bus position, 1 nearest to the PC")
        ->required()
        ->transform(number(1, 65535));
}

int usage(std::ostream& err, const std::string& message)
{
    err << "zuvianctl: " << message << "\nRun with --help for usage.\n";
    return cli::Usage;
}

size_t given(const std::vector<CLI::Option*>& places)
{
    size_t count = 0;
    for (const CLI::Option* option : places)
        count += option->count();
    return count;
}

std::string commandList(const CLI::App& app)
{
    std::string list;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        list += (list.empty() ? "" : ", ") + sub->get_name();
    return list;
}

using Command = std::function<Result(Context&)>;

// The operator's jobs and the parameter commands; each sets `command` when it is chosen.
void addJobCommands(CLI::App& app, Options& o, Command& command)
{
    auto* check = app.add_subcommand("check", "read every axis's controller and firmware version");
    common(check, o);
    check->add_option("--expect-version", o.expectVersion,
        "exit with status 1 unless every axis runs this firmware version (after Write Firmware and "
        "the power cycle: the version the program carries)");
    check->callback([&] { command = [&o](Context& c) { return cli::check(c, o.expectVersion); }; });

    auto* firmware = app.add_subcommand(
        "write-firmware", "write the embedded firmware into every arm and platform controller");
    common(firmware, o);
    partFlags(firmware, o);
    firmware->add_flag("-y,--yes", o.yes, "write without asking");
    firmware->callback(
        [&] { command = [&o](Context& c) { return cli::writeFirmware(c, o.parts); }; });

    auto* parameters = app.add_subcommand("write-parameters",
        "write, store and read back the parameter set (after a backup of the current values)");
    common(parameters, o);
    partFlags(parameters, o);
    parameterFileOption(parameters, o);
    parameters->add_flag("-y,--yes", o.yes,
        "write also to controllers that do not run the firmware version the program carries");
    parameters->callback(
        [&] { command = [&o](Context& c) { return cli::writeParameters(c, o.parts, o.file); }; });

    auto* backup = app.add_subcommand("backup", "save the controllers' current parameter values");
    common(backup, o);
    partFlags(backup, o);
    backup->callback([&] { command = [&o](Context& c) { return cli::backup(c, o.parts); }; });

    auto* restore = app.add_subcommand("restore", "write a backup file back into the controllers");
    common(restore, o);
    restore->add_option("file", o.file, "backup file")->required()->check(CLI::ExistingFile);
    restore->callback([&] { command = [&o](Context& c) { return cli::restore(c, o.file); }; });

    auto* report = app.add_subcommand("report",
        "write the parameter report (HTML); exit status 3 when a value differs from its target");
    common(report, o);
    partFlags(report, o);
    parameterFileOption(report, o);
    report->add_option("-o,--output", o.output, "HTML file to write (default: standard output)");
    report->callback(
        [&] { command = [&o](Context& c) { return cli::report(c, o.parts, o.file, o.output); }; });
}

// The diagnostics over the master's services.
void addDiagnosticCommands(CLI::App& app, Options& o, Command& command)
{
    auto* slaves = app.add_subcommand("slaves", "list every slave with identity, state, mailbox");
    common(slaves, o);
    slaves->callback([&] { command = [](Context& c) { return cli::slaves(c); }; });

    auto* states = app.add_subcommand("states", "request an AL state and wait for it");
    common(states, o);
    states->add_option("state", o.state, "init, preop, boot, safeop or op")
        ->required()
        ->check(CLI::IsMember({"init", "preop", "boot", "safeop", "op"}));
    states->add_option("-s,--slave", o.slave, "only this slave (default: all)")
        ->transform(number(1, 65535));
    states->callback(
        [&] { command = [&o](Context& c) { return cli::states(c, o.slave, o.state); }; });

    auto* sii = app.add_subcommand("sii", "dump and decode a slave's SII EEPROM");
    common(sii, o);
    slaveArgument(sii, o);
    sii->callback([&] { command = [&o](Context& c) { return cli::sii(c, o.slave); }; });

    auto* sdoRead = app.add_subcommand("sdo-read", "read a CoE object");
    common(sdoRead, o);
    slaveArgument(sdoRead, o);
    sdoRead->add_option("index", o.index, "object index, for example 0x1018")
        ->required()
        ->transform(number(0, 0xFFFF));
    sdoRead->add_option("subindex", o.subindex, "subindex (default 0)")->transform(number(0, 0xFF));
    sdoRead->callback([&] {
        command = [&o](Context& c) { return cli::sdoRead(c, o.slave, o.index, o.subindex); };
    });

    // The subindex may be left out before the value: one argument after the index is the value.
    auto* sdoWrite = app.add_subcommand("sdo-write", "write a CoE object");
    common(sdoWrite, o);
    slaveArgument(sdoWrite, o);
    sdoWrite->add_option("index", o.index, "object index, for example 0x6060")
        ->required()
        ->transform(number(0, 0xFFFF));
    sdoWrite
        ->add_option("subindex_value", o.subindexAndValue,
            "[subindex] value: the subindex (default 0), then the bytes in hexadecimal, "
            "least significant first (for example e803)")
        ->required()
        ->expected(1, 2);
    sdoWrite->callback([&] {
        command = [&o](Context& c) {
            o.value = o.subindexAndValue.back();
            if (o.subindexAndValue.size() == 2) {
                unsigned long subindex = 0;
                if (!parseNumber(o.subindexAndValue.front(), 0xFF, subindex))
                    return cli::usageError("sdo-write: the subindex must be 0 to 0xff");
                o.subindex = int(subindex);
            }
            return cli::sdoWrite(c, o.slave, o.index, o.subindex, o.value);
        };
    });

    auto* foeRead = app.add_subcommand("foe-read", "read a file from a slave by FoE");
    auto* foeWrite = app.add_subcommand("foe-write", "write a file to a slave by FoE");
    for (auto* sub : {foeRead, foeWrite}) {
        common(sub, o);
        slaveArgument(sub, o);
        sub->add_option("name", o.name, "file name on the slave")->required();
        sub->add_option("--password", o.password, "FoE password (default 0)")
            ->transform(number(0, 0xFFFFFFFFul));
    }
    foeRead->add_option("-o,--output", o.output, "file to write")->required();
    foeWrite->add_option("file", o.file, "file to send")->required()->check(CLI::ExistingFile);
    foeWrite->add_flag("-y,--yes", o.yes, "write into a motor controller without asking");
    foeRead->callback([&] {
        command
            = [&o](Context& c) { return cli::foeRead(c, o.slave, o.name, o.output, o.password); };
    });
    foeWrite->callback([&] {
        command
            = [&o](Context& c) { return cli::foeWrite(c, o.slave, o.name, o.file, o.password); };
    });

    auto* regRead = app.add_subcommand("reg-read", "read ESC registers of a slave");
    common(regRead, o);
    slaveArgument(regRead, o);
    regRead->add_option("address", o.address, "register address, for example 0x0130")
        ->required()
        ->transform(number(0, 0xFFFF));
    regRead->add_option("length", o.length, "bytes to read (default 1)")
        ->transform(number(1, 0xFFFF));
    regRead->callback([&] {
        command = [&o](Context& c) { return cli::regRead(c, o.slave, o.address, o.length); };
    });

    auto* regWrite = app.add_subcommand(
        "reg-write", "write ESC registers of a slave (asks first unless --yes)");
    common(regWrite, o);
    slaveArgument(regWrite, o);
    regWrite->add_option("address", o.address, "register address, for example 0x0f80")
        ->required()
        ->transform(number(0, 0xFFFF));
    regWrite->add_option("value", o.value, "bytes in hexadecimal, least significant first")
        ->required();
    regWrite->add_flag("-y,--yes", o.yes, "write without asking");
    regWrite->callback([&] {
        command = [&o](Context& c) { return cli::regWrite(c, o.slave, o.address, o.value); };
    });

    auto* soeRead = app.add_subcommand("soe-read", "read an element of a drive's IDN by SoE");
    auto* soeWrite = app.add_subcommand("soe-write", "write an element of a drive's IDN by SoE");
    for (auto* sub : {soeRead, soeWrite}) {
        common(sub, o);
        slaveArgument(sub, o);
        sub->add_option("idn", o.idn, "IDN: S-0-0024, P-0-0001, or a number")
            ->required()
            ->transform(idnNumber());
        sub->add_option("-d,--drive", o.drive, "drive number (default 0)")->transform(number(0, 7));
        sub->add_option("-e,--element", o.element, "element (default value)")
            ->check(CLI::IsMember(
                {"value", "name", "attribute", "unit", "min", "max", "default", "datastate"}));
    }
    soeWrite->add_option("value", o.value, "bytes in hexadecimal, least significant first")
        ->required();
    soeRead->callback([&] {
        command = [&o](Context& c) { return cli::soeRead(c, o.slave, o.drive, o.idn, o.element); };
    });
    soeWrite->callback([&] {
        command = [&o](Context& c) {
            return cli::soeWrite(c, o.slave, o.drive, o.idn, o.element, o.value);
        };
    });

    auto* pdos = app.add_subcommand("pdos",
        "show each slave's SyncManagers, PDOs and mapped objects, and where each sits in the "
        "process image");
    common(pdos, o);
    pdos->add_option("-s,--slave", o.slave, "only this slave (default: all)")
        ->transform(number(1, 65535));
    pdos->callback([&] { command = [&o](Context& c) { return cli::pdos(c, o.slave); }; });
}

// The parser of the whole command line: the program's description, its options and every
// command, which fills `o` and sets `command` for the one chosen.
void buildParser(CLI::App& app, Options& o, Command& command)
{
    app.description(
        "Zuvian Firmwareupdate on the command line: check the robot's controllers, write "
        "their firmware and parameters, report and back up parameters, and look into "
        "the EtherCAT bus.\n\nNumbers are decimal, or hexadecimal after 0x (a leading "
        "zero does not make a number octal).\n\nExit status: 0 success, 1 the job "
        "failed, 2 usage error, 3 the report found differences, 130 interrupted (Ctrl-C "
        "or SIGTERM: the first lets the axis or part being written complete, a second "
        "ends at once).");
    app.name("zuvianctl");
    app.set_version_flag("--version", std::string("zuvianctl ") + ZUVIAN_VERSION);
    app.require_subcommand(0, 1);
    common(&app, o);
    addJobCommands(app, o, command);
    addDiagnosticCommands(app, o, command);

    auto* history = app.add_subcommand(
        "history", "list the service records every job left, newest first (no bus needed)");
    history->add_flag("--json", o.json, "print one JSON document on standard output");
    history->add_option("--robot", o.history.robot,
        "only the records of this robot: a controller's serial number, or the robot identity the "
        "list shows");
    history->add_option("--since", o.history.since,
        "only records from this UTC day (YYYY-MM-DD) or ISO date and time on");
    history->add_option("--show", o.history.show, "print record N of the list in full")
        ->transform(number(1, 1000000));
    history->callback([&] {
        o.offline = true;
        command = [&o](Context& c) { return cli::history(c, o.history); };
    });
    cli::addDiagCommands(
        app, [&o](CLI::App* sub) { common(sub, o); }, command);

    // Set after the commands exist, so that they do not inherit it: an argument no command takes
    // comes back here and is named below, an unknown command among them.
    app.allow_extras();
}

// Runs the command chosen with the options parsed: the interface taken, the capture started,
// the result printed. Returns the exit status.
int runCommand(
    const Options& o, const Command& command, std::ostream& out, std::ostream& err, int resultFd)
{
    Context context{out, err, o.eth};
    context.json = o.json;
    context.yes = o.yes;
    context.terminal = isatty(STDERR_FILENO) == 1;
    context.interactive = context.terminal && isatty(STDIN_FILENO) == 1;
    context.resultFd = resultFd;
    context.tester = o.tester;

    // The interface is this command's from its first frame to its last. Taken here, before a
    // recorder wraps the raw socket (and hides it from the sessions of the jobs, which share
    // this lock).
    std::unique_ptr<InterfaceLock> interfaceLock;
    if (!o.offline && BusSession::needsInterfaceLock(context.interface())) {
        interfaceLock = std::make_unique<InterfaceLock>(context.interface());
        if (!interfaceLock->held()) {
            const std::string problem = cli::str(interfaceLock->refusal());
            err << "zuvianctl: " << problem << '\n';
            if (o.json)
                out << nlohmann::json{{"interface", o.eth}, {"error", problem}}.dump(2) << '\n';
            return cli::Failed;
        }
    }

    // The recording link must wrap the link of the whole session, so it is in place first.
    std::unique_ptr<cli::Capture> capture;
    if (!o.capture.empty()) {
        capture = std::make_unique<cli::Capture>();
        const std::string problem = capture->start(o.capture);
        if (!problem.empty()) {
            err << "zuvianctl: " << problem << '\n';
            if (o.json)
                out << nlohmann::json{{"error", problem}}.dump(2) << '\n';
            return cli::Failed;
        }
    }

    Result result;
    try {
        result = command(context);
    } catch (const std::exception& e) {
        result = cli::failure(std::string("unexpected error: ") + e.what());
    } catch (...) {
        result = cli::failure("unexpected error");
    }
    capture.reset();

    // What the master's port met on the wire, for telling a bad cable from a fault of the robot.
    const ec_portstatst* port = ec_portstats();
    if (port->sent > 0 && result.doc.is_object())
        result.doc["port"]
            = {{"sent", port->sent}, {"resent", port->resent}, {"unanswered", port->unanswered},
                {"late", port->late}, {"unexpected", port->unexpected}};

    // Where the job's service record went; a record that could not be written was said by the
    // job on standard error and does not change the exit status of work already done.
    if ((!context.recordFile.empty() || !context.recordError.empty()) && result.doc.is_object())
        result.doc["record"] = context.recordFile.empty()
            ? nlohmann::json{{"error", context.recordError}}
            : nlohmann::json{{"file", context.recordFile}};

    if (o.json)
        out << result.doc.dump(2) << '\n';
    else
        out << result.text;
    out.flush();
    if (!result.error.empty())
        err << "zuvianctl: " << result.error << '\n';
    if (result.status == cli::Usage)
        err << "Run with --help for usage.\n";
    return result.status;
}

}

int zuvianctl_main(int argc, char** argv, std::ostream& out, std::ostream& err, int resultFd)
{
    CLI::App app;
    Options o;
    Command command;
    buildParser(app, o, command);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        return usage(err, e.what());
    }
    const std::vector<std::string> extras = app.remaining();
    if (!command) {
        if (!extras.empty() && extras.front().rfind('-', 0) != 0)
            return usage(err,
                "unknown command \"" + extras.front()
                    + "\"; the commands are: " + commandList(app));
        if (!extras.empty())
            return usage(err, "unknown option " + extras.front());
        return usage(err, "no command given; the commands are: " + commandList(app));
    }
    if (!extras.empty()) {
        std::string list;
        for (const std::string& extra : extras)
            list += " " + extra;
        return usage(err, "unexpected argument:" + list);
    }
    if (o.offline && (given(o.interfaceOptions) > 0 || given(o.captureOptions) > 0))
        return usage(err, "history reads the service records only: no --interface or --capture");
    if (!o.offline && given(o.interfaceOptions) == 0)
        return usage(err, "--interface is required");
    if (!o.offline && o.eth.empty())
        return usage(err, "--interface needs the name of a network interface, for example eth0");
    if (given(o.captureOptions) > 0 && o.capture.empty())
        return usage(err, "--capture needs the name of the file to record into");
    if (given(o.testerOptions) > 0 && QString::fromStdString(o.tester).trimmed().isEmpty())
        return usage(err, "--tester needs a name");
    return runCommand(o, command, out, err, resultFd);
}
