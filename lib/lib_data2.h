// Module lib_data2: record operations, message buffer and local-time record.
#pragma once

#include "lib/i4_record.h"
#include "lib/mprint.h"
#include "lib/what_time.h"
