// Module lib_fp: the line-to-matrix parser, page routines and presentation records.
#pragma once

#include "lib/line2matrix2.h"
#include "lib/pages.h"
#include "lib/presentation.h"
