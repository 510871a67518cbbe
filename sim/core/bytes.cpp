/*
 * Little- and big-endian integers in byte strings.
 */
#include "core/bytes.h"

namespace sim {

std::uint16_t getLe16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t getLe32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
        | (std::uint32_t(p[3]) << 24);
}

std::uint32_t getBe32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
        | std::uint32_t(p[3]);
}

void putLe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

void putLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

void putBe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (24 - 8 * i));
}

void appendLe16(Bytes& out, std::uint16_t v)
{
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void appendLe32(Bytes& out, std::uint32_t v)
{
    appendLe16(out, std::uint16_t(v));
    appendLe16(out, std::uint16_t(v >> 16));
}

Bytes u8(std::uint8_t v)
{
    return Bytes{v};
}

Bytes u16(std::uint16_t v)
{
    Bytes b;
    appendLe16(b, v);
    return b;
}

Bytes u32(std::uint32_t v)
{
    Bytes b;
    appendLe32(b, v);
    return b;
}

Bytes u64(std::uint64_t v)
{
    Bytes b;
    appendLe32(b, std::uint32_t(v));
    appendLe32(b, std::uint32_t(v >> 32));
    return b;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

} // namespace sim
