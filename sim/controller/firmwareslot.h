// A controller's firmware as far as the bus can see it: the version it runs, and an image that was
// received (through FoE in BOOT) and takes over at the next power cycle.
//
// Image convention: the four bytes that follow the first ASCII marker "ZVFW" in an image are the
// version it carries, for example "1.48". An image without the marker (or with the marker too near
// its end) leaves the running version as it is, though the image is still kept for comparison.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using FirmwareVersion = std::array<char, 4>;

class FirmwareSlot
{
public:
    // `version` is cut or padded with blanks to four characters.
    explicit FirmwareSlot(const std::string& version = "1.48");

    std::string version() const { return std::string(running_.begin(), running_.end()); }
    // The four characters as the controller reports them: first character in the top byte.
    uint32_t versionValue() const;

    // Keeps the image; its version runs after the next power cycle.
    void install(std::vector<uint8_t> image);
    bool hasImage() const { return received_.has_value(); }
    // False after a download was broken off by a power loss: the bootloader then finds no
    // application to start, until a complete image arrives.
    bool runnable() const { return runnable_; }
    void erase();
    // The last image received, byte for byte; empty when none came.
    const std::vector<uint8_t>& receivedImage() const;

    void powerCycle();

    // The version an image states, or nothing without the marker.
    static std::optional<FirmwareVersion> versionOf(const std::vector<uint8_t>& image);
    static FirmwareVersion fromText(const std::string& text);

private:
    FirmwareVersion running_;
    std::optional<std::vector<uint8_t>> received_;
    std::optional<FirmwareVersion> pending_;
    bool runnable_ = true;
};

} // namespace sim
