#include "tests/support/ifc_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "protocol/protocol.h"
#include "tests/support/files.h"

namespace test_support {

std::string answer_of(ifc_client::connection& conn, std::string_view name) {
    auto answer = conn.get(name);
    if (!answer.ok()) {
        ADD_FAILURE() << "GET " << name << " failed: " << ifc_client::errc_name(answer.code())
                      << " " << answer.failure().detail;
        return "";
    }
    return answer.value();
}

std::string put_then_get(ifc_client::connection& conn, std::string_view put_name,
                         std::string_view argument, std::string_view get_name) {
    auto sent = conn.put(put_name, argument);
    if (!sent.ok()) {
        ADD_FAILURE() << "PUT " << put_name << " failed: " << ifc_client::errc_name(sent.code())
                      << " " << sent.failure().detail;
        return "";
    }
    return answer_of(conn, get_name);
}

std::string ifc_settings(const server_process& server) {
    return read_file(server.workfile(ifc_settings_name)).value_or("");
}

std::int32_t ifc_slot(const server_process& server, int record, int slot) {
    return int32_at(ifc_settings(server), slot_offset(record, slot));
}

std::int32_t ifc_slot(const server_process& server, std::string_view record, int slot) {
    constexpr std::pair<std::string_view, int> records[] = {
        {"Tot", ifc_record::Tot},       {"Twt", ifc_record::Twt}, {"STAT_1", ifc_record::STAT_1},
        {"STAT_2", ifc_record::STAT_2}, {"V", ifc_record::V},     {"S1", ifc_record::S1},
        {"S2", ifc_record::S2},         {"S3", ifc_record::S3},   {"S4", ifc_record::S4}};
    for (const auto& [name, index] : records) {
        if (name == record) return ifc_slot(server, index, slot);
    }
    ADD_FAILURE() << "no interface record " << record;
    return 0;
}

std::vector<std::string> stdout_lines_starting(const server_process& server,
                                               std::string_view prefix) {
    std::vector<std::string> lines;
    std::istringstream text(server.stdout_text());
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with(prefix)) lines.push_back(line);
    }
    return lines;
}

void expect_no_change(std::string_view put_name, std::string_view get_name,
                      std::string_view setup_name, std::string_view setup_argument,
                      std::initializer_list<std::string> arguments) {
    server_process server;
    auto conn = server.connect();
    const std::string before = put_then_get(conn, setup_name, setup_argument, get_name);
    const std::string file_before = ifc_settings(server);
    ASSERT_EQ(file_before.size(), 800u);
    for (const auto& argument : arguments) {
        SCOPED_TRACE(argument.size() > 40 ? argument.substr(0, 40) + "..." : argument);
        EXPECT_EQ(put_then_get(conn, put_name, argument, get_name), before);
        const std::string file_after = ifc_settings(server);
        const auto differs = std::mismatch(file_before.begin(), file_before.end(),
                                           file_after.begin(), file_after.end());
        EXPECT_TRUE(file_after == file_before)
            << "settings file differs from byte " << (differs.first - file_before.begin());
    }
    EXPECT_TRUE(conn.ping().ok());
    EXPECT_EQ(answer_of(conn, get_name), before);
}

std::string longest_argument(std::string_view put_name, std::string_view start, char fill) {
    std::string text(start);
    text.resize(protocol::max_payload - put_name.size() - 1, fill);
    return text;
}

}  // namespace test_support
