// Running firmware version and the image waiting for the next power cycle.
#include "controller/firmwareslot.h"

#include <algorithm>

namespace sim {
namespace {
constexpr std::array<uint8_t, 4> kMarker{'Z', 'V', 'F', 'W'};
}

FirmwareSlot::FirmwareSlot(const std::string& version)
    : running_(fromText(version))
{}

FirmwareVersion FirmwareSlot::fromText(const std::string& text)
{
    FirmwareVersion v{' ', ' ', ' ', ' '};
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), v.size()), v.begin());
    return v;
}

uint32_t FirmwareSlot::versionValue() const
{
    uint32_t value = 0;
    for (char c : running_)
        value = (value << 8) | static_cast<uint8_t>(c);
    return value;
}

void FirmwareSlot::install(std::vector<uint8_t> image)
{
    pending_ = versionOf(image);
    received_ = std::move(image);
    runnable_ = true;
}

void FirmwareSlot::erase()
{
    pending_.reset();
    received_.reset();
    runnable_ = false;
}

const std::vector<uint8_t>& FirmwareSlot::receivedImage() const
{
    static const std::vector<uint8_t> none;
    return received_ ? *received_ : none;
}

void FirmwareSlot::powerCycle()
{
    if (pending_)
        running_ = *pending_;
    pending_.reset();
}

std::optional<FirmwareVersion> FirmwareSlot::versionOf(const std::vector<uint8_t>& image)
{
    const auto at = std::search(image.begin(), image.end(), kMarker.begin(), kMarker.end());
    if (at == image.end())
        return std::nullopt;
    const auto first = static_cast<std::size_t>(at - image.begin()) + kMarker.size();
    if (first + 4 > image.size())
        return std::nullopt;
    FirmwareVersion v;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(first), 4, v.begin());
    return v;
}

} // namespace sim
