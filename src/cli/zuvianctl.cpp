// The command line of zuvianctl: subcommands, options and exit statuses. Parsing only; each
// command's work lives in the command files and the jobs they run.
#include "zuvianctl.h"

#include <QString>

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <functional>
#include <memory>

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

// A number as C writes it: decimal, or hexadecimal after "0x". Returns false for anything else.
bool parseNumber(const std::string& text, unsigned max, int& value)
{
    bool ok = false;
    const unsigned number = QString::fromStdString(text).toUInt(&ok, 0);
    if (!ok || number > max)
        return false;
    value = int(number);
    return true;
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
    std::string index;
    std::string subindex = "0";
    std::string address;
    int length = 1;
    std::string value;
    std::string name;
    unsigned password = 0;
};

// The options every subcommand takes; the interface is required where the bus is used.
void common(CLI::App* sub, Options& o)
{
    sub->add_option("-i,--interface", o.eth, "network interface the robot is cabled to")
        ->required();
    sub->add_flag("--json", o.json,
        "print one JSON document on standard output (progress stays on standard error)");
    sub->add_option("--capture", o.capture,
        "record every EtherCAT frame sent and received as a pcap file");
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
        ->check(CLI::Range(1, 65535));
}

int usage(std::ostream& err, const std::string& message)
{
    err << "zuvianctl: " << message << "\nRun with --help for usage.\n";
    return cli::Usage;
}

}

int zuvianctl_main(int argc, char** argv, std::ostream& out, std::ostream& err, int resultFd)
{
    CLI::App app{"Zuvian Firmwareupdate on the command line: check the robot's controllers, write "
                 "their firmware and parameters, report and back up parameters, and look into "
                 "the EtherCAT bus.\n\nExit status: 0 success, 1 the job failed, 2 usage error, "
                 "3 the report found differences, 130 interrupted (Ctrl-C or SIGTERM: the first "
                 "lets the axis or part being written complete, a second ends at once).",
        "zuvianctl"};
    app.set_version_flag("--version", std::string("zuvianctl ") + ZUVIAN_VERSION);
    app.require_subcommand(1, 1);
    Options o;
    std::function<Result(Context&)> command;

    auto* check = app.add_subcommand("check", "read every axis's controller and firmware version");
    common(check, o);
    check->add_option("--expect-version", o.expectVersion,
        "exit with status 1 unless every axis runs this firmware version (after Write Firmware and "
        "the power cycle: the version the program carries)");
    check->callback([&] { command = [&o](Context& c) { return cli::check(c, o.expectVersion); }; });

    auto* firmware = app.add_subcommand("write-firmware",
        "write the embedded firmware into every arm and platform controller");
    common(firmware, o);
    partFlags(firmware, o);
    firmware->add_flag("-y,--yes", o.yes, "write without asking");
    firmware->callback([&] {
        command = [&o](Context& c) { return cli::writeFirmware(c, o.parts); };
    });

    auto* parameters = app.add_subcommand("write-parameters",
        "write, store and read back the parameter set (after a backup of the current values)");
    common(parameters, o);
    partFlags(parameters, o);
    parameterFileOption(parameters, o);
    parameters->add_flag("-y,--yes", o.yes,
        "write also to controllers that do not run the firmware version the program carries");
    parameters->callback([&] {
        command = [&o](Context& c) { return cli::writeParameters(c, o.parts, o.file); };
    });

    auto* backup = app.add_subcommand("backup", "save the controllers' current parameter values");
    common(backup, o);
    partFlags(backup, o);
    backup->callback([&] { command = [&o](Context& c) { return cli::backup(c, o.parts); }; });

    auto* restore = app.add_subcommand("restore", "write a backup file back into the controllers");
    common(restore, o);
    restore->add_option("file", o.file, "backup file")->required()->check(CLI::ExistingFile);
    restore->callback([&] {
        command = [&o](Context& c) { return cli::restore(c, o.file); };
    });

    auto* report = app.add_subcommand("report",
        "write the parameter report (HTML); exit status 3 when a value differs from its target");
    common(report, o);
    partFlags(report, o);
    parameterFileOption(report, o);
    report->add_option("-o,--output", o.output, "HTML file to write (default: standard output)");
    report->callback([&] {
        command = [&o](Context& c) { return cli::report(c, o.parts, o.file, o.output); };
    });

    auto* slaves = app.add_subcommand("slaves", "list every slave with identity, state, mailbox");
    common(slaves, o);
    slaves->callback([&] { command = [](Context& c) { return cli::slaves(c); }; });

    auto* states = app.add_subcommand("states", "request an AL state and wait for it");
    common(states, o);
    states->add_option("state", o.state, "init, preop, boot, safeop or op")
        ->required()
        ->check(CLI::IsMember({"init", "preop", "boot", "safeop", "op"}));
    states->add_option("-s,--slave", o.slave, "only this slave (default: all)")
        ->check(CLI::Range(1, 65535));
    states->callback([&] {
        command = [&o](Context& c) { return cli::states(c, o.slave, o.state); };
    });

    auto* sii = app.add_subcommand("sii", "dump and decode a slave's SII EEPROM");
    common(sii, o);
    slaveArgument(sii, o);
    sii->callback([&] { command = [&o](Context& c) { return cli::sii(c, o.slave); }; });

    auto* sdoRead = app.add_subcommand("sdo-read", "read a CoE object");
    auto* sdoWrite = app.add_subcommand("sdo-write", "write a CoE object");
    for (auto* sub : {sdoRead, sdoWrite}) {
        common(sub, o);
        slaveArgument(sub, o);
        sub->add_option("index", o.index, "object index, for example 0x1018")->required();
        sub->add_option("subindex", o.subindex, "subindex (default 0)");
    }
    sdoWrite->add_option("value", o.value, "bytes in hexadecimal, least significant first")
        ->required();
    auto objectCommand = [&](bool write) {
        return [&o, write](Context& c) {
            int index = 0;
            int subindex = 0;
            if (!parseNumber(o.index, 0xFFFF, index) || !parseNumber(o.subindex, 0xFF, subindex)) {
                Result r = cli::failure("the index must be 0 to 0xffff, the subindex 0 to 0xff");
                r.status = cli::Usage;
                return r;
            }
            return write ? cli::sdoWrite(c, o.slave, index, subindex, o.value)
                         : cli::sdoRead(c, o.slave, index, subindex);
        };
    };
    sdoRead->callback([&] { command = objectCommand(false); });
    sdoWrite->callback([&] { command = objectCommand(true); });

    auto* foeRead = app.add_subcommand("foe-read", "read a file from a slave by FoE");
    auto* foeWrite = app.add_subcommand("foe-write", "write a file to a slave by FoE");
    for (auto* sub : {foeRead, foeWrite}) {
        common(sub, o);
        slaveArgument(sub, o);
        sub->add_option("name", o.name, "file name on the slave")->required();
        sub->add_option("--password", o.password, "FoE password (default 0)");
    }
    foeRead->add_option("-o,--output", o.output, "file to write")->required();
    foeWrite->add_option("file", o.file, "file to send")->required()->check(CLI::ExistingFile);
    foeRead->callback([&] {
        command = [&o](Context& c) {
            return cli::foeRead(c, o.slave, o.name, o.output, o.password);
        };
    });
    foeWrite->callback([&] {
        command = [&o](Context& c) {
            return cli::foeWrite(c, o.slave, o.name, o.file, o.password);
        };
    });

    auto* regRead = app.add_subcommand("reg-read", "read ESC registers of a slave");
    common(regRead, o);
    slaveArgument(regRead, o);
    regRead->add_option("address", o.address, "register address, for example 0x0130")
        ->required();
    regRead->add_option("length", o.length, "bytes to read (default 1)");
    regRead->callback([&] {
        command = [&o](Context& c) {
            int address = 0;
            if (!parseNumber(o.address, 0xFFFF, address)) {
                Result r = cli::failure("the address must be 0 to 0xffff");
                r.status = cli::Usage;
                return r;
            }
            return cli::regRead(c, o.slave, address, o.length);
        };
    });

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
    if (!command)
        return usage(err, "no command given");

    Context context{out, err, o.eth};
    context.json = o.json;
    context.yes = o.yes;
    context.terminal = isatty(STDERR_FILENO) == 1;
    context.interactive = context.terminal && isatty(STDIN_FILENO) == 1;
    context.resultFd = resultFd;

    // The interface is this command's from its first frame to its last. Taken here, before a
    // recorder wraps the raw socket (and hides it from the sessions of the jobs, which share
    // this lock).
    std::unique_ptr<InterfaceLock> interfaceLock;
    if (BusSession::needsInterfaceLock(context.interface())) {
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
        result.doc["port"] = {{"sent", port->sent},
                              {"resent", port->resent},
                              {"unanswered", port->unanswered},
                              {"late", port->late},
                              {"unexpected", port->unexpected}};

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
