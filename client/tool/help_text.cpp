#include "client/tool/help_text.h"

#include <array>

namespace {

constexpr std::string_view usage = R"(Usage:
  ifc-client [OPTIONS] COMMAND [ARGUMENTS...]   run one command
  ifc-client [OPTIONS]                          a prompt at a terminal; from a file or a
                                                pipe: one command per line
)";

constexpr std::string_view settings_intro = R"(
Settings. Without KEY=VALUE items a command reads and shows the setting. With items it
reads the setting, changes only the named keys, writes it back, reads it again, shows the
new values and lists each change as "changed KEY: OLD -> NEW". The server never reports
whether a write took effect: the read-back is the proof, and exit status 6 says that it
does not show the requested value. Unknown keys and bad values are refused before
anything is sent.

)";

constexpr std::string_view measurements_intro = R"(
Measurements and histograms:
)";

constexpr std::string_view raw_intro = R"(
Raw protocol:
)";

struct command_text {
    std::string_view verb;
    std::string_view text;
};

constexpr std::array<command_text, 9> commands{{
    {"status", R"(  status [color=N] [mode=N] [totw_sw=N]
      Machine status: the selected weft colour (1..6), the mode and the TO/TW switch.
)"},
    {"select", R"(  select [ITEM=0|1 ...]
  select all
      Device selection: 1 selects an item, 0 deselects it; "select all" deselects
      every item. ITEM: pin abs main tandem stretch sub1 sub2 ... sub20.
)"},
    {"targets", R"(  targets COLOUR [to=N] [tw=N]
      Arrival-timing targets TO and TW of weft colour COLOUR (1..6).
)"},
    {"valves", R"(  valves COLOUR [KEY=ANGLE ...]
      Valve on and off angles (0..359 degrees) of weft colour COLOUR (1..6).
      KEY: pin_on abs_on abs_off main_on main_off tandem_on tandem_off stretch_on
      stretch_off sub1_on sub1_off sub2_on sub2_off ... sub18_on sub18_off.
      ATC_TO_DELAY is shown but is a constant; sub nozzles 19 and 20 are not served.
)"},
    {"timing", R"(  timing COLOUR
      Measured TO and TW of weft colour COLOUR (1..6) beside the averages of to,
      tb1..tb8, tbw and tw.
)"},
    {"histogram", R"(  histogram left|right
      The left or right histogram as a bar chart of its 46 bins, with the colour and
      item it shows and its five summary values (in the order the server gives them).
  histogram select [left|right COLOUR ITEM]
      What each histogram shows: a weft colour (1..6) and an item; without words, shows
      the choice of both sides. ITEM: to tb1 tb2 tb3 tb4 tb5 tb6 tb7 tb8 tbw tw tw_tbw.
  histogram clear COLOUR ITEM
      Sends a clear request for one colour and item.
  histogram set LCOLOUR LITEM LT RCOLOUR RITEM RT SAMP
      Sends histogram settings: colour, item and t of the left and the right side, samp.
)"},
    {"get", R"(  get NAME
      Runs read command NAME and prints its answer as it is.
)"},
    {"put", R"(  put NAME [ARGUMENT...]
      Runs write command NAME with ARGUMENT (several words are joined by one blank;
      quote the argument to send it exactly). Nothing is read back.
)"},
    {"ping", R"(  ping
      Connects and sends PING (the server sends no reply).
)"},
}};

constexpr std::string_view command_lists =
    R"(  Read commands:  IFC_get_select_item IFC_get_stat IFC_get_hst_select
                  IFC_get_hist_cntdatL IFC_get_hist_cntdatR and, with N the colour 1..6,
                  IFC_get_Tot_Twt_N IFC_get_To_Tw_N IFC_get_histo_ave_N IFC_get_on_off_N
  Write commands: IFC_set_select_item IFC_set_stat IFC_hst_select_item IFC_hst_clear
                  IFC_hst_set MLETOFF_set_btnstat IFC_set_to_tw_N IFC_set_on_off_N
)";

constexpr std::string_view rest = R"(
Output: a table for people by default; --json prints one JSON object per command, one
per line; --raw prints the server's answers exactly as received (several answers are
separated by one line feed).

Repeating: --interval SECONDS repeats a read command every SECONDS; --count N stops
after N rounds; Ctrl-C stops it as well.

Without a command, ifc-client reads commands (the words above, options allowed) one per
line: at a terminal with line editing and history (kept in ~/.ifc_client_history; "help"
shows this text, "quit" or Ctrl-D leaves); from a file or a pipe as a batch, where empty
lines and lines starting with # are skipped and the first failing line ends the run with
its exit status. A connection is opened for each command and closed while ifc-client
waits, because the server serves one client at a time.

Settings files: "ifc-settings dump FILE" shows every record of "ifc_set.set" or
"valve_fp.set"; "ifc-settings check FILE" says whether the file is sound (see
ifc-settings --help).

Exit status:
  0  success
  1  usage: unknown option, command or key, or a bad value (nothing was sent)
  2  cannot connect to the server
  3  unknown command: the server has no read command of that name
  4  protocol error: time-out, connection closed by the server, or an answer not understood
  5  refused by the server ("ERR!": the request is too large)
  6  not applied: a write was sent, but its read-back does not show the requested value

Examples:
  ifc-client status
  ifc-client status color=3
  ifc-client select main=1 sub3=1
  ifc-client targets 2 to=95 tw=245
  ifc-client valves 1 main_on=100 main_off=170
  ifc-client histogram select left 3 tbw
  ifc-client --interval 1 --count 10 histogram left
  ifc-client --json timing 2
  ifc-client --raw get IFC_get_on_off_1
  ifc-client put IFC_set_stat "color:2 mode:0 totw_sw:0"
  printf 'status\ntargets 1\n' | ifc-client --host 10.0.0.5)";

std::string texts_of(std::initializer_list<std::string_view> verbs) {
    std::string text;
    for (std::string_view verb : verbs)
        text += command_manual(verb);
    return text;
}

}  // namespace

std::string command_manual(std::string_view verb) {
    for (const command_text& c : commands) {
        if (c.verb == verb) return std::string(c.text);
    }
    return {};
}

std::string client_manual() {
    return std::string(usage) + std::string(settings_intro) +
           texts_of({"status", "select", "targets", "valves"}) + std::string(measurements_intro) +
           texts_of({"timing", "histogram"}) + std::string(raw_intro) +
           texts_of({"get", "put", "ping"}) + std::string(command_lists) + std::string(rest);
}
