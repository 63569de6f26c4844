#include <gtest/gtest.h>

#include "tests/support/server_process.h"

namespace {

TEST(Smoke, PingThenDisconnect) {
    test_support::server_process server;
    auto conn = server.connect();
    EXPECT_TRUE(conn.ping().ok());
    EXPECT_TRUE(conn.disconnect().ok());
}

}  // namespace
