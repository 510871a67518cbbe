/*
 * The scripted link and clock of the port tests.
 */
#include "scriptedlink.h"

#include <cstring>

ScriptedLink::ScriptedLink()
{
    ec_linkt link = {this, open, send, recv, close, nullptr};
    ec_clockt clock = {this, now, sleep};
    ec_setlink(&link);
    ec_setclock(&clock);
}

ScriptedLink::~ScriptedLink()
{
    ec_setlink(nullptr);
    ec_setclock(nullptr);
}

int ScriptedLink::open(void *ctx, const char *ifname, int port)
{
    auto *self = static_cast<ScriptedLink *>(ctx);
    if (ifname == nullptr || self->missingInterface == ifname)
        return -1;
    return self->nextHandle_++ * 2 + port;
}

int ScriptedLink::send(void *ctx, int handle, const void *frame, int len)
{
    auto *self = static_cast<ScriptedLink *>(ctx);
    int port = handle & 1;
    const auto *bytes = static_cast<const std::uint8_t *>(frame);
    self->sent[port].emplace_back(bytes, bytes + len);
    Frame reply(bytes, bytes + len);
    if (self->answer && self->answer(reply))
        self->incoming[port].push_back(reply);
    return len;
}

int ScriptedLink::recv(void *ctx, int handle, void *buf, int size)
{
    auto *self = static_cast<ScriptedLink *>(ctx);
    int port = handle & 1;
    self->receives[port]++;
    if (self->incoming[port].empty())
        return 0;
    Frame frame = self->incoming[port].front();
    self->incoming[port].pop_front();
    int n = int(frame.size()) < size ? int(frame.size()) : size;
    std::memcpy(buf, frame.data(), size_t(n));
    return int(frame.size());
}

void ScriptedLink::close(void *ctx, int handle)
{
    static_cast<ScriptedLink *>(ctx)->closed.push_back(handle);
}

void ScriptedLink::now(void *ctx, struct timeval *tv)
{
    auto *self = static_cast<ScriptedLink *>(ctx);
    self->nowUs++;
    tv->tv_sec = 1000 + self->nowUs / 1000000;
    tv->tv_usec = self->nowUs % 1000000;
}

void ScriptedLink::sleep(void *ctx, uint32_t usec)
{
    static_cast<ScriptedLink *>(ctx)->nowUs += usec;
}

Frame replyFrame(std::uint8_t index, std::uint8_t command, const Frame &data, std::uint16_t wkc,
                 std::uint16_t sa1)
{
    Frame f = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, std::uint8_t(sa1 >> 8),
               std::uint8_t(sa1), 0x01, 0x01, 0x88, 0xA4};
    std::uint16_t elength = std::uint16_t(0x1000 + 12 + data.size());
    f.push_back(std::uint8_t(elength));
    f.push_back(std::uint8_t(elength >> 8));
    f.insert(f.end(), {command, index, 0, 0, 0, 0, std::uint8_t(data.size()),
                       std::uint8_t(data.size() >> 8), 0, 0});
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(std::uint8_t(wkc));
    f.push_back(std::uint8_t(wkc >> 8));
    return f;
}
