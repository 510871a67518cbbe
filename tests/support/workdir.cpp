#include "workdir.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <stdlib.h>
#include <unistd.h>

namespace foetest {

WorkDir::WorkDir() : previous_(std::filesystem::current_path().string())
{
    std::string pattern = (std::filesystem::temp_directory_path() / "foe-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
    std::filesystem::current_path(path_);
}

WorkDir::~WorkDir()
{
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void WorkDir::put(const std::string &name, const std::vector<std::uint8_t> &content) const
{
    std::ofstream out(std::filesystem::path(path_) / name, std::ios::binary);
    out.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
}

} // namespace foetest
