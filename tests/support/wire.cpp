#include "tests/support/wire.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/protocol.h"

namespace test_support {

std::string header(std::string_view start) {
    std::string bytes(start);
    bytes.resize(protocol::header_len, ' ');
    return bytes;
}

std::string payload(std::string_view name, std::string_view argument) {
    std::string bytes(name);
    bytes += '\0';
    bytes += argument;
    return bytes;
}

std::string nexts_then_fin(int n) {
    std::string bytes;
    for (int i = 0; i < n; ++i)
        bytes += "NEXT";
    return bytes + "FIN";
}

std::string put_raw(ifc_client::connection& conn, std::string_view body, bool all_at_once) {
    const int chunks =
        static_cast<int>((body.size() + protocol::chunk_size - 1) / protocol::chunk_size);
    const std::string head = header("PUT" + std::to_string(body.size()));
    if (all_at_once) {
        EXPECT_TRUE(conn.send_bytes(head + std::string(body)).ok());
        auto reply = conn.recv_bytes(4 * static_cast<std::size_t>(chunks) + 3);
        return reply ? reply.value() : "";
    }
    EXPECT_TRUE(conn.send_bytes(head).ok());
    std::string received;
    while (!body.empty()) {
        auto token = conn.recv_bytes(4);
        if (!token) return received;
        received += token.value();
        const std::size_t chunk = std::min<std::size_t>(body.size(), protocol::chunk_size);
        EXPECT_TRUE(conn.send_bytes(body.substr(0, chunk)).ok());
        body.remove_prefix(chunk);
    }
    auto fin = conn.recv_bytes(3);
    return received + (fin ? fin.value() : "");
}

}  // namespace test_support
