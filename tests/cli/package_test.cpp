// The Debian package, built with cpack from this build tree into a temporary directory and read
// with dpkg-deb: the programs, desktop entry, icon and man pages it installs, and the
// post-install step that gives both programs the raw-socket right; lintian finds no error and no
// warning in it, and the man pages name their programs and describe every command.
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Runs `command` in a shell; returns its standard output, and its exit status through `status`.
std::string shell(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    *status = pclose(pipe);
    return output;
}

}

TEST(Package, HoldsBothProgramsTheSimulatorAndTheCapabilityStep)
{
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const std::string dir = out.path().toStdString();
    int status = 0;
    const std::string log
        = shell("cpack -G DEB --config " ZUVIAN_BUILD_DIR "/CPackConfig.cmake -B " + dir + " 2>&1",
            &status);
    ASSERT_EQ(0, status) << log;
    const QStringList debs = QDir(out.path()).entryList({"*.deb"});
    ASSERT_EQ(1, debs.size()) << log;
    const std::string deb = out.filePath(debs[0]).toStdString();

    const std::string files = shell("dpkg-deb -c " + deb, &status);
    ASSERT_EQ(0, status);
    for (const char* path : {"./usr/bin/zuvian-firmwareupdate", "./usr/bin/zuvianctl",
             "./usr/bin/zuvian-sim", "./usr/share/applications/zuvian-firmwareupdate.desktop",
             "./usr/share/icons/hicolor/scalable/apps/zuvian-firmwareupdate.svg",
             "./usr/share/man/man1/zuvianctl.1.gz", "./usr/share/man/man1/zuvian-sim.1.gz",
             "./usr/share/man/man1/zuvian-firmwareupdate.1.gz",
             "./usr/share/doc/zuvian-firmwareupdate/copyright",
             "./usr/share/doc/zuvian-firmwareupdate/changelog.gz"})
        EXPECT_NE(std::string::npos, files.find(std::string(path) + "\n")) << path;

    const std::string depends = shell("dpkg-deb -f " + deb + " Depends", &status);
    EXPECT_NE(std::string::npos, depends.find("libcap2-bin")) << depends;
    EXPECT_NE(std::string::npos, depends.find("libpcap")) << depends;

    const std::string control = dir + "/control";
    shell("dpkg-deb -e " + deb + " " + control, &status);
    ASSERT_EQ(0, status);
    const std::string postinst = shell("cat " + control + "/postinst", &status);
    EXPECT_NE(std::string::npos, postinst.find("setcap cap_net_raw+ep \"$program\""));
    EXPECT_NE(
        std::string::npos, postinst.find("/usr/bin/zuvian-firmwareupdate /usr/bin/zuvianctl"));
    shell("test -x " + control + "/postinst", &status);
    EXPECT_EQ(0, status);

    // Errors and warnings, pedantic ones included; what the package overrides it explains there.
    shell("lintian --version", &status);
    ASSERT_EQ(0, status) << "lintian is missing: scripts/install-deps.sh test";
    const std::string findings = shell(
        "lintian --pedantic --tag-display-limit 0 " + deb + " 2>/dev/null | grep -E '^(E|W):'",
        &status);
    EXPECT_EQ("", findings);

    const std::string tree = dir + "/tree";
    shell("dpkg-deb -x " + deb + " " + tree, &status);
    ASSERT_EQ(0, status);
    const std::string pages = tree + "/usr/share/man/man1/";
    const std::string ctl = shell("zcat " + pages + "zuvianctl.1.gz", &status);
    ASSERT_EQ(0, status);
    EXPECT_NE(std::string::npos, ctl.find("zuvianctl \\- check, update and diagnose")) << ctl;
    EXPECT_NE(std::string::npos, ctl.find(".SH \"EXIT STATUS\"")) << ctl;
    for (const char* command : {"check", "write-firmware", "write-parameters", "backup", "restore",
             "report", "slaves", "states", "sii", "sdo-read", "sdo-write", "foe-read", "foe-write",
             "reg-read", "reg-write", "soe-read", "soe-write", "pdos", "history"})
        EXPECT_NE(std::string::npos, ctl.find(".SS " + std::string(command) + "\n.nf\n"))
            << command;
    const std::string sim = shell("zcat " + pages + "zuvian-sim.1.gz", &status);
    EXPECT_NE(std::string::npos, sim.find("zuvian-sim \\- virtual Zuvian robot")) << sim;
}
