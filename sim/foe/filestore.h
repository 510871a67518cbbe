// A slave that keeps every file it is sent by FoE in BOOT and hands it back on a read. The motor
// controllers take only their own firmware image and read nothing back; this one lets a test send
// any file and compare what returns.
//
// SII: standard mailbox 128 bytes at 0x1000/0x1080, bootstrap mailbox 512 bytes at 0x1000/0x1200,
// FoE the only mailbox protocol, no process data. In BOOT every write is accepted under any name
// and password; a read of a name never written is refused with "Not found" (0x8001).
//
//   auto store = sim::makeFileStoreSlave();
//   chain.add(std::move(store.slave));
//   store.files->at("image.bin");   // what the master wrote last under that name
#pragma once

#include "core/bytes.h"
#include "core/slave.h"
#include "foe/foeserver.h"

#include <map>
#include <memory>
#include <string>

namespace sim {

constexpr std::uint32_t FileStoreProductCode = 0x0000F11E;

struct FileStoreSlave
{
    Slave slave;
    std::shared_ptr<FoeServer> foe;
    std::shared_ptr<std::map<std::string, Bytes>> files;
};

FileStoreSlave makeFileStoreSlave();

} // namespace sim
