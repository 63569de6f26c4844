#include "server/ether_parse.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "ifc/ifc_net.h"
#include "lib/diag.h"
#include "lib/i4_table_file.h"
#include "protocol/protocol.h"
#include "valve/mletoff_net.h"
#include "valve/vfp_ifc.h"

std::int16_t deb_ether_parse = 1;

namespace {

// Every command is registered under the name of its handler: the wire name is the stringified
// function name, so renaming a handler renames a protocol command that clients send. A GET
// name is stored followed by 20 spaces, so that its first 20 characters are the name field of
// a GET header exactly.
// clang-format off
#define GET_ROW(handler) command_entry<get_handler>{#handler "                    ", handler}
#define PUT_ROW(handler) command_entry<put_handler>{#handler, handler}

constexpr std::array get_commands{
    GET_ROW(IFC_get_select_item),
    GET_ROW(IFC_get_stat),
    GET_ROW(IFC_get_Tot_Twt_1),
    GET_ROW(IFC_get_Tot_Twt_2),
    GET_ROW(IFC_get_Tot_Twt_3),
    GET_ROW(IFC_get_Tot_Twt_4),
    GET_ROW(IFC_get_Tot_Twt_5),
    GET_ROW(IFC_get_Tot_Twt_6),
    GET_ROW(IFC_get_To_Tw_1),
    GET_ROW(IFC_get_To_Tw_2),
    GET_ROW(IFC_get_To_Tw_3),
    GET_ROW(IFC_get_To_Tw_4),
    GET_ROW(IFC_get_To_Tw_5),
    GET_ROW(IFC_get_To_Tw_6),
    GET_ROW(IFC_get_histo_ave_1),
    GET_ROW(IFC_get_histo_ave_2),
    GET_ROW(IFC_get_histo_ave_3),
    GET_ROW(IFC_get_histo_ave_4),
    GET_ROW(IFC_get_histo_ave_5),
    GET_ROW(IFC_get_histo_ave_6),
    GET_ROW(IFC_get_hst_select),
    GET_ROW(IFC_get_hist_cntdatL),
    GET_ROW(IFC_get_hist_cntdatR),
    GET_ROW(IFC_get_on_off_1),
    GET_ROW(IFC_get_on_off_2),
    GET_ROW(IFC_get_on_off_3),
    GET_ROW(IFC_get_on_off_4),
    GET_ROW(IFC_get_on_off_5),
    GET_ROW(IFC_get_on_off_6),
    command_entry<get_handler>{nullptr, nullptr},
};

constexpr std::array put_commands{
    PUT_ROW(MLETOFF_set_btnstat),
    PUT_ROW(IFC_set_select_item),
    PUT_ROW(IFC_set_stat),
    PUT_ROW(IFC_set_to_tw_1),
    PUT_ROW(IFC_set_to_tw_2),
    PUT_ROW(IFC_set_to_tw_3),
    PUT_ROW(IFC_set_to_tw_4),
    PUT_ROW(IFC_set_to_tw_5),
    PUT_ROW(IFC_set_to_tw_6),
    PUT_ROW(IFC_set_on_off_1),
    PUT_ROW(IFC_set_on_off_2),
    PUT_ROW(IFC_set_on_off_3),
    PUT_ROW(IFC_set_on_off_4),
    PUT_ROW(IFC_set_on_off_5),
    PUT_ROW(IFC_set_on_off_6),
    PUT_ROW(IFC_hst_select_item),
    PUT_ROW(IFC_hst_clear),
    PUT_ROW(IFC_hst_set),
    command_entry<put_handler>{nullptr, nullptr},
};

#undef GET_ROW
#undef PUT_ROW
// clang-format on

static_assert(get_commands.size() == 29 + 1 && put_commands.size() == 18 + 1,
              "every command has its row, and each table ends with the null row");

// A PUT name shorter than the 20 compared characters matches only itself: no payload name
// with extra characters or trailing spaces can reach it.
constexpr bool put_names_are_short() {
    for (const auto& row : put_commands) {
        if (row.name != nullptr && std::char_traits<char>::length(row.name) >= 20) return false;
    }
    return true;
}
static_assert(put_names_are_short());

template <class Handler, std::size_t N>
const Handler* find_command(const std::array<command_entry<Handler>, N>& table, const char* name) {
    for (const auto& row : table) {
        if (row.name == nullptr) break;
        if (std::strncmp(name, row.name, protocol::name_field_len) == 0) return &row.handler;
    }
    return nullptr;
}

}  // namespace

int ether_get_data(const char* name, char* buf) {
    const get_handler* handler = find_command(get_commands, name);
    if (handler == nullptr) return protocol::unknown_command_len;
    // One request: each table is loaded at most once while the handler runs.
    const store_request request;
    return (*handler)(buf);
}

void ether_put_data(char* data, int len) {
    auto* end = static_cast<char*>(std::memchr(data, '\0', static_cast<std::size_t>(len)));
    if (end == nullptr) {
        if (deb_ether_parse) diag::out_line("COMMAND END not found");
        return;
    }
    // The name ends at the first NUL; everything after it, further NULs included, is the
    // argument.
    const int name_len = static_cast<int>(end - data);
    const put_handler* handler = find_command(put_commands, data);
    if (handler == nullptr) {
        if (deb_ether_parse) diag::out_line("not found");
        return;
    }
    // One request: each table is loaded at most once, and saved once after the handler has
    // returned if it changed, so that the file holds all of the command's changes or none.
    // The handler's result is discarded: the client has had its "FIN" already and learns
    // nothing of the outcome.
    const store_request request;
    (*handler)(data + name_len + 1, len - name_len - 1);
}
