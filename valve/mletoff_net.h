// Module mletoff_net: the let-off button command.
#pragma once

// PUT handler: prints the argument text as one line on standard output.
int MLETOFF_set_btnstat(char* arg, int len);
