// A record table bound to its settings file and its default image: the load-and-save
// discipline shared by the interface table and the valve table. The file is the store of
// record: the table is loaded from it before it is used and saved whole after a change.
//
// Outside a request every access loads the table first and every write saves it. Within a
// request of the server (store_request) each table is loaded at most once, at its first
// access, and saved at most once, at the end of the request, and only when the request
// changed it: a request that changes nothing writes nothing, and a crash leaves either all
// of a request's changes in the file or none of them.
#pragma once

#include <cstdint>
#include <span>

#include "lib/i4_record.h"

// Where a table stands within the current request.
struct i4_table_state {
    bool loaded = false;   // loaded in this request
    bool writable = true;  // the file is a sound place to save to (missing, or regular)
    bool changed = false;  // this request changed the table or replaced a missing file
};

struct i4_table_file {
    const char* path;                   // settings file, relative to the working directory
    std::span<i4_item> table;           // the live table, loaded in place
    std::span<const i4_item> defaults;  // same capacity as table
    i4_table_state* state;              // one per table, in static storage
};

// Copies the whole default image over the table. Within a request, the next access loads the
// file again (the table in memory no longer holds what the file does).
void i4_table_reset(const i4_table_file& t);
// Loads the table from its file. A missing or short file is replaced by the defaults, in the
// table and on disk (within a request: at its end). A file that is there but cannot be read,
// or is not a regular file, leaves the defaults in the table for this access only and is
// never written, so a passing fault cannot wipe the stored settings; the result is then
// false and one line on standard error says so.
bool i4_table_load(const i4_table_file& t);
// fp_main_read on the loaded table.
int i4_table_read(const i4_table_file& t, const char* name, std::int32_t* out, int slot);
// fp_main_write on the loaded table. Outside a request the whole table is then saved (also
// when nothing changed) and -1 tells that the value did not reach the file; within a request
// the table is saved at the end of the request if the value changed. -1 also when the record
// cannot be written or the file could not be loaded.
int i4_table_write(const i4_table_file& t, const char* name, std::int32_t value, int slot);

// One request of the server: one run of a command handler. Saves every table the request
// changed when it ends; a failed save is reported on standard error and leaves the old file.
class store_request {
  public:
    store_request();
    ~store_request();
    store_request(const store_request&) = delete;
    store_request& operator=(const store_request&) = delete;
};
