// ifc-server: the weft-insertion operator-interface server on TCP port 9002. It takes no
// arguments and keeps its settings files in the working directory.
#include <cstdlib>

#include "lib/protocol.h"
#include "server/tcp9002.h"

int main() {
    tcp9002_loop(protocol::server_port);
    // Only a listening socket that cannot be set up ends the server.
    return EXIT_FAILURE;
}
