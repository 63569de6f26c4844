// Module sim_main: the file primitives under the settings files.
#pragma once

// 0 when the file cannot be opened (buf untouched); otherwise the result of one read of at
// most size bytes: the count read, or -1 on a read error.
int hfp_load_data2(const char* path, void* buf, int size);
// Stores len bytes as the whole content of path; 0 on success, -1 on failure.
int hfp_save_data2(const char* path, const void* data, int len);
// Appends len bytes to "cgi.log" in the working directory; silent on failure.
void append_log(const void* data, int len);
