/*
 * Fuzz target: the XML parameter file.
 *
 * The application's own loading code reads the fuzz input as a parameter file:
 * EtherCatWrapper::LoadConfiguration for the wheel base and for the arm (which finds the sections
 * through Configuration::GetNodeList, checks every entry in fillConfigMap and reads each accepted
 * parameter's current value from the controllers), and the Configuration XML access that other
 * readers of such files use (sections by name, elements by attribute, attribute values), and the
 * whole-file check of ParameterFile that a file handed in passes before it is applied.
 *
 * The controllers are the virtual robot's (wheel base and arm, 11 slaves), brought up through
 * EtherCatWrapper::InitEtherCat as the window does, once per process and again every 5000 runs;
 * loading only reads from them.
 *
 * Input: the file's bytes. Seeds: the shipped parameter file and a few variants of it in
 * fuzz/corpus/fuzz_parameterxml.
 */
#include "fuzzstdout.h"
#include "simbus.h"

#include "core/layouts.h"

#include "Configuration.h"
#include "BusSession.h"
#include "EtherCatWrapper.h"
#include "ParameterFile.h"

#include <QByteArray>
#include <QDomNode>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr int PlatformStart = 2;

struct Session
{
    std::unique_ptr<SimBus> bus;
    std::unique_ptr<EtherCatWrapper> ecat;
    std::string file;
};

/* A fresh session now and then, so that state the controllers build up (error flags, stored
 * values) cannot steer every later run. */
constexpr int RunsPerSession = 5000;

Session& session()
{
    static Session s;
    static int runs = 0;
    if (s.ecat && ++runs >= RunsPerSession) {
        s.ecat.reset(); // closes the bus session
        s.bus.reset();
        runs = 0;
    }
    if (s.ecat)
        return s;
    s.bus = std::make_unique<SimBus>(*sim::layouts().build("robot"));
    // The target is single-threaded: it takes the bus session once, for the whole process.
    static const BusSession::Lock session;
    s.ecat = std::make_unique<EtherCatWrapper>();
    if (s.ecat->InitEtherCat(
            QStringLiteral("Arm1 + Platform"), QString::fromLatin1(SimBus::Primary))
        != 0) {
        std::fprintf(stderr, "fuzz_parameterxml: the virtual robot did not come up\n");
        std::abort();
    }
    if (s.file.empty()) {
        // The file is rewritten on every run: in memory (/dev/shm) that costs no disk writes.
        char shmDir[] = "/dev/shm/fuzz_parameterxml.XXXXXX";
        char tmpDir[] = "/tmp/fuzz_parameterxml.XXXXXX";
        char* dir = mkdtemp(shmDir);
        if (!dir)
            dir = mkdtemp(tmpDir);
        if (!dir)
            std::abort();
        s.file = std::string(dir) + "/param.xml";
        static const std::string tempDir = dir;
        static const std::string tempFile = s.file;
        std::atexit([] {
            std::remove(tempFile.c_str());
            rmdir(tempDir.c_str());
        });
    }
    return s;
}

/* The generic XML access of Configuration on the file, as a reader of another layout uses it. */
void walkConfiguration(const QString& file)
{
    Configuration config(file, QStringLiteral("zuvianParameter"));
    const QDomNodeList sections
        = config.GetNodeList(QStringLiteral("Parameters"), QStringLiteral("zuvian"));
    for (int i = 0; i < sections.size() && i < 16; ++i) {
        QDomNode section = sections.at(i);
        config.hasParent(section);
        config.hasSibling(section);
        config.hasChild(section);
        QDomNode entry = config.findNodeById(
            section, QStringLiteral("Parameter"), QStringLiteral("Type"), QStringLiteral("4"));
        config.getAttributeValueFromNode(entry, QStringLiteral("Value"));
        config.GetNodeList(QStringLiteral("Parameter"), QStringLiteral("zuvian"), section);
    }
    QDomNode none;
    config.getAttributeValueFromNode(none, QStringLiteral("Value"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzSilenceStdout();
    session();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Session& s = session();
    FILE* f = std::fopen(s.file.c_str(), "wb");
    if (!f)
        std::abort();
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    const QString file = QString::fromStdString(s.file);
    s.ecat->LoadConfiguration(file, 0, EtherCatWrapper::Platform, PlatformStart);
    s.ecat->GetConfigParameters();
    s.ecat->LoadConfiguration(file, 0, EtherCatWrapper::Arm1, PlatformStart);
    s.ecat->GetConfigParameters();
    walkConfiguration(file);
    // The check a file handed in passes before it is applied.
    ParameterFile checked(file);
    checked.hasPlatform();
    checked.hasArm();
    checked.refusals();
    // Leave nothing allocated by this run behind (see Mailbox::forgetReceived).
    for (std::size_t i = 1; i <= s.bus->chain().size(); ++i)
        s.bus->slave(i).mailbox().forgetReceived();
    return 0;
}
