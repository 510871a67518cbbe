/*
 * Reading a fuzz input as the targets lay it out: single bytes that choose what to run, and
 * length-prefixed chunks (2-byte little-endian length, then the bytes) that stand for one message
 * from the outside each. Reading past the end gives zeros and empty chunks, so every input, however
 * short, is a valid run.
 */
#ifndef FUZZ_COMMON_FUZZINPUT_H
#define FUZZ_COMMON_FUZZINPUT_H

#include <cstddef>
#include <cstdint>
#include <vector>

class FuzzInput
{
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size)
    {}

    bool empty() const { return pos_ >= size_; }

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    /* The next chunk, cut to what is left of the input; false when the input is exhausted. */
    bool chunk(std::vector<std::uint8_t>& out)
    {
        out.clear();
        if (empty())
            return false;
        std::size_t length = byte();
        length |= std::size_t(byte()) << 8;
        if (length > size_ - pos_)
            length = size_ - pos_;
        out.assign(data_ + pos_, data_ + pos_ + length);
        pos_ += length;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

/* The writer of the same layout, for the seed generators. */
class FuzzInputWriter
{
public:
    void byte(std::uint8_t b) { bytes_.push_back(b); }
    void chunk(const std::vector<std::uint8_t>& c)
    {
        const std::size_t n = c.size() > 0xFFFF ? 0xFFFF : c.size();
        byte(std::uint8_t(n & 0xFF));
        byte(std::uint8_t(n >> 8));
        bytes_.insert(bytes_.end(), c.begin(), c.begin() + std::ptrdiff_t(n));
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

#endif
