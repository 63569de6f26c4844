// A record table bound to its settings file and its default image: the load-and-save
// discipline shared by the interface table and the valve table. The file is the store of
// record: every access loads the table from it first, every write saves the whole table.
#pragma once

#include <cstdint>
#include <span>

#include "lib/i4_record.h"

struct i4_table_file {
    const char* path;                   // settings file, relative to the working directory
    std::span<i4_item> table;           // the live table, loaded in place
    std::span<const i4_item> defaults;  // same capacity as table
};

// Copies the whole default image over the table.
void i4_table_reset(const i4_table_file& t);
// Loads the table from its file. A missing or short file is replaced by the defaults, in the
// table and on disk. A file that is there but cannot be read leaves the defaults in the table
// for this access only and is not touched, so a passing fault cannot wipe the stored
// settings; the result is then false.
bool i4_table_load(const i4_table_file& t);
// Loads, then fp_main_read on the table.
int i4_table_read(const i4_table_file& t, const char* name, std::int32_t* out, int slot);
// Loads, then fp_main_write, then saves the whole table (also when nothing changed). -1 when
// the record cannot be written or the table could not be loaded or saved: a value that did
// not reach the file is not reported as stored.
int i4_table_write(const i4_table_file& t, const char* name, std::int32_t value, int slot);
