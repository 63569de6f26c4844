// Not built: the include check's test runs the check on this folder and expects it to fail.
#include "protocol/protocol.h"
#include "server/tcp9002.h"
