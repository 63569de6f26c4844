#include "client/tool/help_text.h"

#include "client/tool/verbs.h"

namespace ifc_tool {

namespace {

constexpr std::string_view usage = R"(Running:
  ifc-client [OPTIONS] COMMAND [ARGUMENTS...]   run one command
  ifc-client [OPTIONS]                          a prompt at a terminal; from a file or a
                                                pipe: one command per line
  ifc-client help [COMMAND]                     this text, or the help of one command
)";

constexpr std::string_view settings_intro = R"(
Settings:
  Without KEY=VALUE items a command reads and shows the setting. With items it
  reads the setting, changes only the named keys, writes it back, reads it again,
  shows the new values and lists each change as "changed KEY: OLD -> NEW". The
  server never reports whether a write took effect: the read-back is the proof,
  and exit status 6 says that it does not show the requested value. Unknown keys
  and values outside their range (the range of the setting in the settings file)
  are refused before anything is sent; --force sends such values all the same.

)";

constexpr std::string_view documents_intro = R"(
Settings documents:
  A settings document is a JSON file with every setting of one machine (status,
  selection, the targets and valve angles of each colour, the histogram selection)
  and where and when they were read; its format is described by
  settings-document.schema.json in the documentation. ifc-settings exports and
  writes the settings files themselves.

)";

constexpr std::string_view measurements_intro = R"(
Measurements and histograms:
)";

constexpr std::string_view raw_intro = R"(
Raw protocol:
)";

constexpr std::string_view command_lists =
    R"(  Read commands:  IFC_get_select_item IFC_get_stat IFC_get_hst_select
                  IFC_get_hist_cntdatL IFC_get_hist_cntdatR and, with N the colour 1..6,
                  IFC_get_Tot_Twt_N IFC_get_To_Tw_N IFC_get_histo_ave_N IFC_get_on_off_N
  Write commands: IFC_set_select_item IFC_set_stat IFC_hst_select_item IFC_hst_clear
                  IFC_hst_set MLETOFF_set_btnstat IFC_set_to_tw_N IFC_set_on_off_N
)";

constexpr std::string_view rest = R"(
Output:
  A table for people by default; --json prints one JSON object per command, one per
  line; --raw prints the server's answers exactly as received (several answers are
  separated by one line feed, and at a terminal a line feed ends the output).
  Warnings go to standard error: a value that no sound settings file holds (a
  colour 0, a target outside its range) comes with one that points to
  "ifc-settings check".

Repeating:
  --interval SECONDS repeats a read command every SECONDS; --count N stops after N
  rounds; Ctrl-C stops it as well. A round that fails is reported on standard error
  with its time, and the next round goes on; the exit status is that of the last
  round that failed, 0 when none did.

Busy server:
  The server serves one client at a time; a client connected meanwhile waits
  unanswered (an idle client is dropped after 5 seconds). When the first answer
  takes more than a second, ifc-client says so on standard error and waits up to
  --wait SECONDS in all (10 by default; --timeout when that is longer).

Without a command:
  ifc-client reads commands (the words above, options allowed) one per line: at a
  terminal with line editing, Tab completion and history (kept in
  ~/.ifc_client_history; "help" shows this text, "quit" or Ctrl-D leaves); from a
  file or a pipe as a batch, where empty lines and lines starting with # are
  skipped and the first failing line ends the run with its exit status. A
  connection is opened for each command and closed while ifc-client waits, because
  the server serves one client at a time.

Settings files:
  "ifc-settings dump FILE" shows every record of "ifc_set.set" or "valve_fp.set";
  "ifc-settings check FILE" says whether the file is sound; "ifc-settings export"
  and "ifc-settings write" turn the files into a settings document and back (see
  ifc-settings --help).

Exit status:
  0  success
  1  usage: unknown option, command or key, or a bad value (nothing was sent)
  2  cannot connect to the server
  3  unknown command: the server has no read command of that name, or put names no
     write command this client knows (--force sends it)
  4  protocol error: time-out, connection closed by the server, or an answer not
     understood
  5  refused by the server ("ERR!": the request is too large)
  6  not applied: a write was sent, but its read-back does not show the requested
     value
  7  outcome unknown: a write went out whole, but its confirmation (FIN) or its
     read-back did not come; ifc-client reads the setting again on a new
     connection and says what the server holds
  8  a settings document or directory cannot be read, is refused, or cannot be
     written (and every usage error of diff, whose 1 means "different")
  diff: 0 equal, 1 different, 2 or more an error

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
  ifc-client --host 10.0.0.7 export -o loom7.json --name "loom 7"
  ifc-client diff loom7.json 10.0.0.8
  ifc-client --host 10.0.0.8 apply loom7.json --dry-run
  ifc-client --host 10.0.0.5:9002 --wait 5 ping
  printf 'status\ntargets 1\n' | ifc-client --host 10.0.0.5
)";

std::string manuals_of(verb_group group) {
    std::string text;
    for (const verb& v : verbs()) {
        if (v.group == group) text += v.manual;
    }
    return text;
}

}  // namespace

std::string client_manual() {
    return std::string(usage) + std::string(settings_intro) + manuals_of(verb_group::settings) +
           std::string(documents_intro) + manuals_of(verb_group::documents) +
           std::string(measurements_intro) + manuals_of(verb_group::measurements) +
           std::string(raw_intro) + manuals_of(verb_group::raw) + std::string(command_lists) +
           std::string(rest);
}

}  // namespace ifc_tool
