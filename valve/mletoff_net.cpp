#include "valve/mletoff_net.h"

#include <cstdio>

int MLETOFF_set_btnstat(char* arg, int len) {
    arg[len] = '\0';  // the byte after the argument belongs to the server
    return std::puts(arg);
}
