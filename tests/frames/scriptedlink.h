/*
 * A link for the port's own tests: it records every frame the master sends and hands back frames
 * the test queued, byte for byte, so that malformed, foreign and late replies can be delivered on
 * purpose. Its clock moves one microsecond per reading, so every wait ends after a known number
 * of polls whatever the machine's speed.
 */
#ifndef TESTS_FRAMES_SCRIPTEDLINK_H
#define TESTS_FRAMES_SCRIPTEDLINK_H

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "eclink.h"

using Frame = std::vector<std::uint8_t>;

class ScriptedLink
{
public:
    ScriptedLink();
    ~ScriptedLink();

    /* Frames sent by the master on port 0 or 1, in order. */
    std::vector<Frame> sent[2];
    /* Frames the next receives of port 0 or 1 return, in order. */
    std::deque<Frame> incoming[2];
    /* Receive calls made on each port. */
    int receives[2] = {0, 0};
    /* Handles opened and closed. */
    std::vector<int> closed;
    /* When set, every frame sent on a port is handed to it and, when it returns true, comes back
     * on that port at once as it was changed. */
    std::function<bool(Frame &)> answer;
    /* Name that open refuses, like an interface that does not exist. */
    std::string missingInterface = "nosuchif0";

    /* Virtual time in microseconds since the test began. */
    std::int64_t nowUs = 0;

private:
    static int open(void *ctx, const char *ifname, int port);
    static int send(void *ctx, int handle, const void *frame, int len);
    static int recv(void *ctx, int handle, void *buf, int size);
    static void close(void *ctx, int handle);
    static void now(void *ctx, struct timeval *tv);
    static void sleep(void *ctx, uint32_t usec);

    int nextHandle_ = 10;
};

/* A raw reply frame of one datagram: Ethernet header with sa1, EtherCAT header, datagram with
 * `data` and working counter `wkc`. */
Frame replyFrame(std::uint8_t index, std::uint8_t command, const Frame &data, std::uint16_t wkc,
                 std::uint16_t sa1 = 0x0101);

#endif
