/*
 * Soak: the window's bus jobs, repeated against zuvian-sim on a veth pair until something fails.
 * Each round is a full read-out ("Check Version": the bus up to OPERATIONAL, every axis's name and
 * firmware version) and a firmware download into all nine axes of the "robot" layout, and with
 * --parameters also "Write Parameters" (backup, every entry set and stored, read back), through
 * the same application classes the window uses.
 *
 *   bench_soak [rounds] [--load] [--parameters] [--interface IF]
 *
 * rounds defaults to 100. --load keeps every CPU busy with one spinning process each, and runs the
 * virtual robot without real-time priority, so that it competes with the load as slave emulation
 * on a technician's laptop would. --interface uses a bus already served there instead of starting
 * zuvian-sim. Prints one line per round and a summary; the exit status is 1 when a round failed.
 * Needs root.
 */
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "EtherCatWrapper.h"
#include "ParameterJob.h"
#include "benchsupport.h"
#include "writefirmware.h"

namespace {

const char* const kImages[] = {"TMCM-841.bin", "TMCM-1610.bin", "TMCM-174.bin", "TMCM-1632.bin"};

/* A version that did not come back reads as four U+00FF characters. */
bool answered(const QString& version)
{
    return !version.isEmpty() && version != QString(4, QChar(0xFF));
}

struct Round
{
    int axes = 0; /* axes read out with name and version */
    int written = 0; /* axes whose download succeeded */
    int confirmed = 0; /* parameter commands confirmed */
    std::string failure;
};

/* The read-out; the positions of the arm's and the wheel base's first axes go to *arm, *platform. */
void readOut(const QString& eth, Round& round, int* arm, int* platform)
{
    EtherCatWrapper ecat;
    if (ecat.InitEtherCat("Arm1 + Platform", eth) != 0 || ecat.GetArmSlaves() != 5
        || ecat.GetPlatformSlaves() != 4) {
        round.failure = "read-out: bus not up with 5 arm and 4 wheel-base axes";
        ecat.StopEthercat();
        return;
    }
    *arm = ecat.GetArmOffset() + 1;
    *platform = 2;
    for (int position : {*platform, *platform + 1, *platform + 2, *platform + 3, *arm, *arm + 1,
             *arm + 2, *arm + 3, *arm + 4}) {
        const QString version = ecat.GetFirmWareVersion(quint8(position));
        if (!answered(version) || ecat.GetSlaveName(quint8(position)).isEmpty()) {
            round.failure = "read-out: no version from slave " + std::to_string(position);
            break;
        }
        ++round.axes;
    }
    ecat.StopEthercat();
}

void writeAll(const QString& eth, int arm, int platform, Round& round)
{
    for (int position : {arm, arm + 1, arm + 2, arm + 3, arm + 4, platform, platform + 1,
             platform + 2, platform + 3}) {
        const int result = WriteFirmware().writeFirmware(eth, position);
        if (result != 0) {
            round.failure = "firmware: slave " + std::to_string(position) + " ended with "
                + std::to_string(result);
            return;
        }
        ++round.written;
    }
}

void writeParameters(const QString& eth, int arm, int platform, Round& round)
{
    ParameterRequest request;
    request.eth = eth;
    request.readOutOk = true;
    request.Arm1Start = arm;
    request.PlatformStart = platform;
    request.PlatformSlaveCount = 4;
    ParameterJob job;
    const ParameterOutcome outcome = job.run(request);
    round.confirmed = outcome.arm.confirmed + outcome.platform.confirmed;
    for (const ParameterPartOutcome* part : {&outcome.arm, &outcome.platform})
        if (part->result != ParameterPartOutcome::Result::Written) {
            round.failure = "parameters: " + part->part.toStdString() + " not written (result "
                + std::to_string(int(part->result)) + "): " + part->reason.toStdString();
            for (auto axis = part->unconfirmed.begin(); axis != part->unconfirmed.end(); ++axis)
                round.failure += " axis " + std::to_string(axis.key()) + " unconfirmed "
                    + std::to_string(axis.value().size()) + " parameters;";
            return;
        }
}

/* The last `lines` lines of the file `name` on standard error. */
void showTail(const std::string& name, int lines)
{
    QFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> all = file.readAll().split('\n');
    for (qsizetype i = std::max<qsizetype>(0, all.size() - lines); i < all.size(); ++i)
        std::fprintf(stderr, "    %s\n", all[i].constData());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    long rounds = 100;
    bool load = false;
    bool parameters = false;
    std::string interface;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--load") == 0)
            load = true;
        else if (std::strcmp(argv[i], "--parameters") == 0)
            parameters = true;
        else if (std::strcmp(argv[i], "--interface") == 0 && i + 1 < argc)
            interface = argv[++i];
        else if ((rounds = std::atol(argv[i])) <= 0) {
            std::fprintf(
                stderr, "usage: %s [rounds] [--load] [--parameters] [--interface IF]\n", argv[0]);
            return 2;
        }
    }
    QTemporaryDir work;
    for (const char* image : kImages)
        if (!work.isValid() || !QFile::copy(QString(":/res/") + image, work.filePath(image))) {
            std::fprintf(stderr, "cannot place the firmware images in a working directory\n");
            return 1;
        }
    QDir::setCurrent(work.path());
    // Parameter backups go to the working directory, gone after the run.
    qputenv("XDG_DATA_HOME", work.path().toLocal8Bit());

    std::vector<std::string> simOptions;
    if (load)
        simOptions.push_back("--no-realtime");
    const auto held = bench::holdInterface(interface.empty() ? "zsoak0" : interface);
    if (!held)
        return 1;
    // One thread works the bus for the whole run: it takes the session once.
    const BusSession::Lock session;
    std::unique_ptr<bench::Sim> simulator;
    if (interface.empty()) {
        simulator = std::make_unique<bench::Sim>("zsoak0", "robot", simOptions);
        if (!simulator->ok()) {
            std::fprintf(stderr, "%s\n", simulator->error().c_str());
            return 1;
        }
        interface = simulator->interface();
    }
    bench::LoadGenerator generator(load);
    const QString eth = QString::fromStdString(interface);

    // The jobs' progress lines would bury the rounds: each round's go to a file, shown only when
    // the round failed.
    std::fflush(stdout);
    const int out = dup(STDOUT_FILENO);
    const std::string logName = work.filePath("round.log").toStdString();
    long failures = 0;
    bench::Samples seconds, readSeconds, firmwareSeconds, parameterSeconds;
    for (long r = 1; r <= rounds; ++r) {
        const int log = open(logName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0 && log >= 0)
            dup2(log, STDOUT_FILENO);
        const auto start = bench::Clock::now();
        Round round;
        int arm = 0, platform = 0;
        readOut(eth, round, &arm, &platform);
        const auto read = bench::Clock::now();
        readSeconds.add(bench::microseconds(read - start) / 1e6);
        if (round.failure.empty()) {
            writeAll(eth, arm, platform, round);
            firmwareSeconds.add(bench::microseconds(bench::Clock::now() - read) / 1e6);
        }
        const auto written = bench::Clock::now();
        if (round.failure.empty() && parameters) {
            writeParameters(eth, arm, platform, round);
            parameterSeconds.add(bench::microseconds(bench::Clock::now() - written) / 1e6);
        }
        const double took = bench::microseconds(bench::Clock::now() - start) / 1e6;
        seconds.add(took);
        failures += round.failure.empty() ? 0 : 1;
        std::fprintf(stderr,
            "round %ld: %d axes read, %d written, %d parameter commands confirmed, %.2f s%s%s\n", r,
            round.axes, round.written, round.confirmed, took,
            round.failure.empty() ? "" : ": FAILED ", round.failure.c_str());
        std::fflush(stdout);
        if (log >= 0)
            close(log);
        if (!round.failure.empty())
            showTail(logName, 40);
    }
    std::fflush(stdout);
    if (out >= 0)
        dup2(out, STDOUT_FILENO);
    std::printf("# soak: %ld rounds%s%s against %s\n", rounds, parameters ? " with parameters" : "",
        load ? ", every CPU loaded" : "", interface.c_str());
    bench::figure("failed rounds", double(failures), 0, 0);
    bench::figure("seconds per round, median", seconds.median(), seconds.median(), 1);
    bench::figure("seconds per round, worst", seconds.worst(), seconds.median(),
        seconds.worst() / seconds.median());
    const struct
    {
        const char* name;
        const bench::Samples& samples;
    } phases[] = {{"seconds per read-out, median", readSeconds},
        {"seconds per firmware of 9 axes, median", firmwareSeconds},
        {"seconds per parameter write, median", parameterSeconds}};
    for (const auto& phase : phases)
        if (!phase.samples.empty())
            bench::figure(phase.name, phase.samples.median(), seconds.median(),
                phase.samples.median() / seconds.median());
    return failures ? 1 : 0;
}
