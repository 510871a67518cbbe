// The commands of zuvianctl. Each runs on the calling thread, holds the bus for its whole run and
// returns its Result; none prints its result itself.
#ifndef CLI_COMMANDS_H
#define CLI_COMMANDS_H

#include <QString>

#include <functional>
#include <string>

#include "command.h"

namespace CLI {
class App;
}

namespace cli {

// The parts a command works on; both when neither was named.
struct Parts
{
    bool arm = false;
    bool platform = false;

    bool wantArm() const { return arm || !platform; }
    bool wantPlatform() const { return platform || !arm; }
};

// `expected`: a firmware version every axis must run, else the exit status is 1; empty for none
// (the document still lists the axes that do not run the version the program carries).
Result check(Context& context, const std::string& expected = std::string());
Result writeFirmware(Context& context, Parts parts);
// With an empty `file` the shipped parameter set is written. Parts with a controller that does
// not run the firmware version the program carries are refused unless context.yes.
Result writeParameters(Context& context, Parts parts, const std::string& file);
// Writes a backup file back, naming itself "restore": as writeParameters, but whatever firmware
// the controllers run (the backup was taken from them).
Result restore(Context& context, const std::string& file);
Result backup(Context& context, Parts parts);
// Writes the report to `output`, or to standard output when it is empty.
Result report(Context& context, Parts parts, const std::string& file, const std::string& output);

// The service records (newest first), filtered by robot (a controller's serial number, or the
// robot identity the list shows) and by `since` ("YYYY-MM-DD", a UTC day, or an ISO date and
// time); with `show` (1 = the newest listed) one record in full. Needs no bus.
struct HistoryOptions
{
    std::string robot;
    std::string since;
    int show = 0;
};
Result history(Context& context, const HistoryOptions& options);

// Diagnostics over the master's services; `slave` is a 1-based bus position.
Result slaves(Context& context);
// Requests `state` ("init", "preop", "boot", "safeop", "op") of `slave` (0: all) and waits for it.
Result states(Context& context, int slave, const std::string& state);
Result sii(Context& context, int slave);
Result sdoRead(Context& context, int slave, int index, int subindex);
Result sdoWrite(Context& context, int slave, int index, int subindex, const std::string& hex);
Result foeRead(Context& context, int slave, const std::string& name, const std::string& output,
    unsigned password);
Result foeWrite(Context& context, int slave, const std::string& name, const std::string& input,
    unsigned password);
Result regRead(Context& context, int slave, int address, int length);
// `value`: bytes in hexadecimal, least significant first; asks first unless --yes.
Result regWrite(Context& context, int slave, int address, const std::string& value);
// `element`: "value", "name", "attribute", "unit", "min", "max", "default" or "datastate".
Result soeRead(Context& context, int slave, int drive, int idn, const std::string& element);
Result soeWrite(Context& context, int slave, int drive, int idn, const std::string& element,
    const std::string& value);
// Each slave's SyncManagers, PDOs and mapped objects, and where each sits in the process image
// as the bring-up lays it out; `slave` 0: all.
Result pdos(Context& context, int slave);

// Where the bus loses frames: what the last job left in the slaves' error counters, then their
// increase over `seconds` of traffic, per link, and the PC's part. `clear` also clears the counters
// the enumeration leaves. Status Failed when a link shows errors or lost links.
Result diag(Context& context, int seconds, bool clear);
// The cabling as Graphviz DOT, the links with errors in a measured interval marked.
Result graph(Context& context, int seconds);
// Adds `diag` and `graph` to `app`; `common` declares on a command the options every command
// takes; the command parsed is left in `command`.
void addDiagCommands(CLI::App& app, const std::function<void(CLI::App*)>& common,
    std::function<Result(Context&)>& command);

}

#endif // CLI_COMMANDS_H
