/*
 * Tests that need something a developer's machine may lack (root for raw sockets and veth pairs, a
 * program that was not built) skip there, but fail in CI (environment variable CI set), where a
 * skipped test would hide that it never ran. Use at the top of a test body or SetUp.
 */
#ifndef TESTS_SUPPORT_REQUIRES_H
#define TESTS_SUPPORT_REQUIRES_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

#define REQUIRE_THAT(condition, why)                                                               \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            if (std::getenv("CI") != nullptr)                                                      \
                FAIL() << why;                                                                     \
            GTEST_SKIP() << why;                                                                   \
        }                                                                                          \
    } while (0)

#define REQUIRE_ROOT() REQUIRE_THAT(geteuid() == 0, "raw socket tests need root")

#endif
