/*
 * What a parameter file a user hands in costs before and while it is restored, on the virtual
 * "robot" bus over the in-process link, through zuvianctl itself:
 *
 * - a file far over the size limit (a sparse file, so that making it costs nothing): how long the
 *   refusal takes and how much the process's resident memory grows meanwhile;
 * - `zuvianctl restore` of files of growing size (the shipped set with each entry repeated k
 *   times in its place, so that every file is valid and the controllers end with the same
 *   values), up to the largest k that stays under the limit: the wall time of each (best of
 *   three), and what each entry beyond the first size adds, which must not grow with the file.
 *   The bound of that figure is its value at the second size; the ratio shows how far the cost
 *   per entry drifts from it.
 *
 *   bench_parameter_file [gigabytes] [largest k]   (defaults 4 and 32; 0 gigabytes: no large file)
 *   bench_parameter_file --file FILE                (the restore of that file alone)
 */
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "benchsupport.h"
#include "simbus.h"
#include "zuvianctl.h"

namespace {

// Resident memory of this process in bytes, from /proc/self/statm.
long residentBytes()
{
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(statm);
    return resident * sysconf(_SC_PAGESIZE);
}

int zuvianctl(std::vector<std::string> args, std::string* err = nullptr)
{
    args.insert(args.begin(), "zuvianctl");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    std::ostringstream out;
    std::ostringstream errors;
    const int status = zuvianctl_main(int(argv.size()), argv.data(), out, errors);
    if (err != nullptr)
        *err = errors.str();
    return status;
}

// The shipped parameter file with every entry line written `times` times in its place.
QByteArray repeatedSet(const QByteArray& shipped, int times)
{
    QByteArray out;
    for (const QByteArray& line : shipped.split('\n')) {
        const int copies = line.contains("<Parameter ") ? times : 1;
        for (int k = 0; k < copies; ++k)
            out += line + '\n';
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
    const std::string eth = SimBus::Primary;
    int failed = 0;

    if (argc == 3 && std::string(argv[1]) == "--file") {
        SimBus bus("robot");
        const auto start = bench::Clock::now();
        std::string err;
        const int status = zuvianctl({"restore", "-i", eth, argv[2]}, &err);
        std::printf("restore %s: status %d, %.3f s, peak resident memory %.1f MB\n", argv[2],
            status, bench::microseconds(bench::Clock::now() - start) / 1e6,
            double(residentBytes()) / 1e6);
        return status;
    }

    const long gigabytes = argc > 1 && argv[1][0] != '-' ? std::atol(argv[1]) : 4;
    const int largest = argc > 2 ? std::atoi(argv[2]) : 32;
    if (gigabytes < 0 || largest < 1) {
        std::fprintf(stderr, "usage: %s [gigabytes] [largest k]\n", argv[0]);
        return 2;
    }

    if (gigabytes > 0) {
        const QString huge = dir.filePath(QStringLiteral("huge.xml"));
        QFile file(huge);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(gigabytes << 30)) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(huge));
            return 1;
        }
        file.close();
        SimBus bus("robot");
        // A first refusal, of a file just over the limit, pays what any first command pays
        // (its parser, the resources); the figures are of the second.
        const QString over = dir.filePath(QStringLiteral("over.xml"));
        QFile overFile(over);
        if (!overFile.open(QIODevice::WriteOnly) || !overFile.resize((1 << 20) + 1))
            return 1;
        overFile.close();
        zuvianctl({"restore", "-i", eth, over.toStdString()});
        const long before = residentBytes();
        const auto start = bench::Clock::now();
        std::string err;
        const int status = zuvianctl({"restore", "-i", eth, huge.toStdString()}, &err);
        const double us = bench::microseconds(bench::Clock::now() - start);
        const double grownMb = double(residentBytes() - before) / 1e6;
        if (status != 1 || err.find("larger than") == std::string::npos) {
            std::fprintf(stderr, "the large file was not refused: %d %s\n", status, err.c_str());
            ++failed;
        }
        // Bounds: a refusal costs what a look at the file's size costs (well under a
        // millisecond), and grows no memory (a page or two of the allocator at most).
        char name[96];
        std::snprintf(name, sizeof name, "refusal of a %ld GB file, us", gigabytes);
        bench::figure(name, us, 1000, us / 1000);
        bench::figure("memory grown meanwhile, MB", grownMb, 0.1, grownMb / 0.1);
        QFile::remove(huge);
    }

    QFile shippedFile(QStringLiteral(":/res/param.xml"));
    if (!shippedFile.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray shipped = shippedFile.readAll();
    // The first size carries the fixed cost of a restore (read-out, two bring-ups, the 492
    // commands of a whole set, the read-back); what each size adds over it, per entry added, is
    // the cost that grows with the file. Its bound is that of the second size.
    double firstUs = 0;
    int firstEntries = 0;
    double addedBound = 0;
    for (int times = 1; times <= largest; times *= 2) {
        const QByteArray content = repeatedSet(shipped, times);
        const QString path = dir.filePath(QStringLiteral("set%1.xml").arg(times));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return 1;
        file.close();
        const int entries = content.count("<Parameter ");

        // The best of three runs, each on a fresh robot: the machine's other work only ever
        // adds time.
        double us = 0;
        for (int run = 0; run < 3; ++run) {
            SimBus bus("robot");
            const auto start = bench::Clock::now();
            std::string err;
            const int status = zuvianctl({"restore", "-i", eth, path.toStdString()}, &err);
            const double took = bench::microseconds(bench::Clock::now() - start);
            us = run == 0 ? took : std::min(us, took);
            if (status != 0) {
                std::fprintf(stderr, "%d entries: status %d\n%s\n", entries, status, err.c_str());
                ++failed;
            }
        }
        char name[96];
        std::snprintf(name, sizeof name, "restore %d entries (%lld KB), ms", entries,
            static_cast<long long>(content.size() / 1024));
        bench::figure(name, us / 1000, 0, 0);
        if (times == 1) {
            firstUs = us;
            firstEntries = entries;
            continue;
        }
        const double added = (us - firstUs) / (entries - firstEntries);
        if (addedBound == 0)
            addedBound = added;
        bench::figure(
            "  us per entry added to the first size", added, addedBound, added / addedBound);
    }
    std::printf("peak resident memory, MB %.1f\n", double(residentBytes()) / 1e6);
    return failed == 0 ? 0 : 1;
}
