// A fresh temporary working directory for a test, removed with everything in it afterwards: the
// firmware writer opens its image files by bare name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace foetest {

class WorkDir
{
public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir &) = delete;
    WorkDir &operator=(const WorkDir &) = delete;

    // Writes `content` to the file `name` in the directory.
    void put(const std::string &name, const std::vector<std::uint8_t> &content) const;

private:
    std::string previous_;
    std::string path_;
};

} // namespace foetest
