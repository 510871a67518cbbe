/*
 * Fuzz target: the settings file.
 *
 * The program reads its settings from the embedded resource ":/res/VX.conf" through
 * Configuration::readAppSetting. This target is built without the embedded resources and
 * registers the fuzz input under that very name instead, as an in-memory resource tree, so the
 * unchanged reader parses it: every group and key the application reads, and a key whose group is
 * missing.
 *
 * Each run's resource carries its own modification time, so the settings reader's cache of parsed
 * files never hands out an earlier run's contents.
 *
 * Input: the file's bytes. Seeds: the shipped settings file and a few variants of it in
 * fuzz/corpus/fuzz_settings.
 */
#include "Configuration.h"

#include <QByteArray>
#include <QResource>
#include <QString>
#include <QtEndian>
#include <QHashFunctions>

#include <cstdint>
#include <vector>

namespace {

constexpr quint32 RccVersion = 2;
constexpr int NodeSize = 22; // name, flags, two words, modification time
constexpr quint16 DirectoryFlag = 0x02;
constexpr quint16 LanguageC = 1;

void put16(std::vector<uchar>& b, std::size_t at, quint16 v)
{
    qToBigEndian(v, b.data() + at);
}
void put32(std::vector<uchar>& b, std::size_t at, quint32 v)
{
    qToBigEndian(v, b.data() + at);
}
void put64(std::vector<uchar>& b, std::size_t at, quint64 v)
{
    qToBigEndian(v, b.data() + at);
}

/* One entry of the name table: length, hash, UTF-16 big-endian characters. */
void appendName(std::vector<uchar>& names, const QString& name)
{
    const std::size_t at = names.size();
    names.resize(at + 6 + std::size_t(name.size()) * 2);
    put16(names, at, quint16(name.size()));
    put32(names, at + 2, quint32(qt_hash(name)));
    for (int i = 0; i < name.size(); ++i)
        put16(names, at + 6 + std::size_t(i) * 2, name.at(i).unicode());
}

/* A compiled resource tree holding one file, /res/VX.conf, with `content` and time `modified`. */
std::vector<uchar> resourceTree(const uchar* content, std::size_t size, quint64 modified)
{
    std::vector<uchar> names;
    appendName(names, QStringLiteral("res"));
    const quint32 fileName = quint32(names.size());
    appendName(names, QStringLiteral("VX.conf"));

    const std::size_t header = 20;
    const std::size_t tree = header;
    const std::size_t dataAt = tree + 3 * NodeSize;
    const std::size_t namesAt = dataAt + 4 + size;
    std::vector<uchar> b(namesAt + names.size(), 0);
    b[0] = 'q';
    b[1] = 'r';
    b[2] = 'e';
    b[3] = 's';
    put32(b, 4, RccVersion);
    put32(b, 8, quint32(tree));
    put32(b, 12, quint32(dataAt));
    put32(b, 16, quint32(namesAt));
    // Node 0, the root: a directory whose one child is node 1.
    put16(b, tree + 4, DirectoryFlag);
    put32(b, tree + 6, 1);
    put32(b, tree + 10, 1);
    // Node 1, "res": a directory whose one child is node 2.
    put32(b, tree + NodeSize, 0);
    put16(b, tree + NodeSize + 4, DirectoryFlag);
    put32(b, tree + NodeSize + 6, 1);
    put32(b, tree + NodeSize + 10, 2);
    // Node 2, "VX.conf": a file for any country in language C, its data at offset 0.
    put32(b, tree + 2 * NodeSize, fileName);
    put16(b, tree + 2 * NodeSize + 4, 0);
    put16(b, tree + 2 * NodeSize + 6, 0);
    put16(b, tree + 2 * NodeSize + 8, LanguageC);
    put32(b, tree + 2 * NodeSize + 10, 0);
    put64(b, tree + 2 * NodeSize + 14, modified);
    put32(b, dataAt, quint32(size));
    if (size > 0)
        std::copy(content, content + size, b.begin() + std::ptrdiff_t(dataAt + 4));
    std::copy(names.begin(), names.end(), b.begin() + std::ptrdiff_t(namesAt));
    return b;
}

void readEverySetting()
{
    Configuration config;
    const char* const keys[][2] = {
        {"SlaveInfo", "PlatformSlaveName"},
        {"SlaveInfo", "ArmSlaveName"},
        {"SlaveInfo", "FirmwareVersion"},
        {"Platform", "ParameterConfigXml"},
        {"Platform", "DefinedSlaveCount"},
        {"Arm1", "SlaveOffsetStart"},
        {"Arm1", "ConfigFileName"},
        {"NoSuchGroup", "NoSuchKey"},
    };
    for (const auto& key : keys) {
        const QString value
            = config.readAppSetting(QString::fromLatin1(key[0]), QString::fromLatin1(key[1]));
        // What the application does with a value: a name copied as local 8-bit text, a count.
        const QByteArray bytes = value.toLocal8Bit();
        bool ok = false;
        (void)value.toInt(&ok);
        (void)bytes.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static quint64 run = 0;
    ++run;
    const std::vector<uchar> tree = resourceTree(data, size, 1700000000000ull + run);
    if (!QResource::registerResource(tree.data(), QStringLiteral("/")))
        __builtin_trap(); // the harness built a tree Qt does not take: nothing would be tested
    readEverySetting();
    QResource::unregisterResource(tree.data(), QStringLiteral("/"));
    return 0;
}
