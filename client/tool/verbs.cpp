#include "client/tool/verbs.h"

#include <array>

#include "client/commands.h"
#include "client/tool/handlers.h"

namespace ifc_tool {

namespace {

namespace cmd = ifc_client::commands;

bool always(const request&) {
    return true;
}

bool never(const request&) {
    return false;
}

bool without_changes(const request& r) {
    return r.words.empty();
}

// "histogram left", "histogram right" and "histogram select" (without a new choice) read.
bool histogram_reads(const request& r) {
    return r.words.size() == 1 &&
           (r.words[0] == "left" || r.words[0] == "right" || r.words[0] == "select");
}

constexpr std::array<verb, 12> table{{
    {"status", verb_group::settings, "machine status: weft colour, mode, TO/TW switch",
     R"(  status [color=N] [mode=N] [totw_sw=N]
      Machine status. color is the selected weft colour (1..6). mode and totw_sw
      (the TO/TW switch) take 0..6; the server only stores them for the operator
      terminal, and what their values mean is not documented. Defaults: color 1,
      mode 0, totw_sw 0.
)",
     arguments::changes, cmd::status_keys, without_changes, run_status},
    {"select", verb_group::settings,
     "device selection: ITEM=1 selects, ITEM=0 deselects; all: none",
     R"(  select [ITEM=0|1 ...]
      Device selection: ITEM=1 selects an item, ITEM=0 deselects it; without items,
      shows every item. ITEM: pin abs main tandem stretch sub1 sub2 ... sub20.
  select all
      Deselects every item at once. No word selects them all.
)",
     arguments::changes, cmd::selection_keys, without_changes, run_select},
    {"targets", verb_group::settings, "arrival-timing targets TO and TW of a weft colour",
     R"(  targets COLOUR [to=N] [tw=N]
      Arrival-timing targets of weft colour COLOUR (1..6): to (50..150) and tw
      (190..290).
)",
     arguments::colour_and_changes, cmd::target_keys, without_changes, run_targets},
    {"valves", verb_group::settings, "valve on and off angles of a weft colour",
     R"(  valves COLOUR [KEY=ANGLE ...]
      Valve on and off angles (0..359 degrees) of weft colour COLOUR (1..6).
      KEY: pin_on abs_on abs_off main_on main_off tandem_on tandem_off stretch_on
      stretch_off sub1_on sub1_off sub2_on sub2_off ... sub18_on sub18_off.
      ATC_TO_DELAY is shown but is a constant; sub nozzles 19 and 20 are not served.
)",
     arguments::colour_and_changes, cmd::valve_keys, without_changes, run_valves},
    {"export",
     verb_group::documents,
     "write every setting of the server as a settings document",
     R"(  export [-o FILE] [--name NAME] [--note TEXT]
      Reads every setting of the server in one connection and writes them as a
      settings document (JSON) to standard output, or to FILE (replaced only once
      the new document is complete). NAME and TEXT go into the document. Values
      that no document may hold (from a damaged settings file) are refused, each
      named with its path (exit status 8).
)",
     arguments::export_options,
     {},
     never,
     run_export},
    {"diff",
     verb_group::documents,
     "compare the settings of two documents, servers or settings directories",
     R"(  diff A B [--only SECTIONS] [--colours LIST]
      Compares two sets of settings value by value. A and B are each a document
      (a file, - for standard input), a directory holding a server's two settings
      files (read by ifc-settings), or a server, HOST[:PORT]; an existing file or
      directory is taken as such. Prints one line per value that differs, e.g.
      "colour 2  main_on  90 -> 100" (A's value, then B's). Exit status 0 when
      they are equal, 1 when they differ, 2 or more for an error (8 for a usage
      error), as diff does.
)",
     arguments::two_sides,
     {},
     never,
     run_diff},
    {"apply",
     verb_group::documents,
     "make the server hold a document's settings, with read-back and restore",
     R"(  apply DOC [--dry-run] [--only SECTIONS] [--colours LIST]
      Reads the server, then writes only what differs from document DOC (a file, -
      for standard input): one write per settings line (the selection, whose write
      command takes one item, one per item), each read back. When a step fails, the
      lines already changed are written back to their old values, and the output
      says what could not be restored and what the server holds now. --dry-run
      shows the changes and sends nothing. --only limits it to SECTIONS: status,
      selection, targets, valves, histogram-selection (comma-separated); --colours
      to the colours in LIST (1..6, comma-separated).
)",
     arguments::document,
     {},
     never,
     run_apply},
    {"timing",
     verb_group::measurements,
     "measured arrival timing of a weft colour (simulated)",
     R"(  timing COLOUR
      Measured TO and TW of weft colour COLOUR (1..6) beside the averages of to,
      tb1..tb8, tbw and tw. The server simulates these measurements: fixed values,
      apart from the tbw average of colours 3..6, which is drawn at random.
)",
     arguments::colour,
     {},
     always,
     run_timing},
    {"histogram",
     verb_group::measurements,
     "a histogram (simulated), what each shows, clear and set requests",
     R"(  histogram left|right
      The left or right histogram as a bar chart of its 46 bins, with the colour and
      item it shows and its five summary values. They are named after the fields of
      the server's measurement record that they come from (ival1 ival0 fval ival3
      ival2); what each one measures is not documented. The server simulates the
      histograms: the same curve whatever is chosen.
  histogram select [left|right COLOUR ITEM]
      What each histogram shows: a weft colour (1..6) and an item; without words, shows
      the choice of both sides. ITEM: to tb1 tb2 tb3 tb4 tb5 tb6 tb7 tb8 tbw tw tw_tbw.
  histogram clear COLOUR ITEM
      Sends a clear request for one colour and item (the server only logs it).
  histogram set LCOLOUR LITEM LT RCOLOUR RITEM RT SAMP
      Sends histogram settings: colour, item and t of the left and the right side,
      then samp (the server only logs them).
)",
     arguments::words,
     {},
     histogram_reads,
     run_histogram},
    {"get",
     verb_group::raw,
     "run a read command by name, print its answer",
     R"(  get NAME
      Runs read command NAME and prints its answer as it is.
)",
     arguments::name,
     {},
     always,
     run_get},
    {"put",
     verb_group::raw,
     "run a write command by name with an argument",
     R"(  put NAME [ARGUMENT...]
      Runs write command NAME with ARGUMENT (several words are joined by one blank;
      quote the argument to send it exactly). Nothing is read back. A NAME that is
      none of the write commands below is refused with exit status 3, because the
      server ignores it without a word; --force sends it all the same.
)",
     arguments::name_and_words,
     {},
     never,
     run_put},
    {"ping",
     verb_group::raw,
     "check that the server serves",
     R"(  ping
      Connects, sends PING and DISCONNECT and waits until the server closes the
      connection: exit status 0 means that the server is serving clients.
)",
     arguments::none,
     {},
     always,
     run_ping},
}};

}  // namespace

std::span<const verb> verbs() {
    return table;
}

const verb* find_verb(std::string_view name) {
    for (const verb& v : table) {
        if (v.name == name) return &v;
    }
    return nullptr;
}

}  // namespace ifc_tool
