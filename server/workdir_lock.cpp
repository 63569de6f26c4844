#include "server/workdir_lock.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ifc/ifc_net.h"
#include "lib/diag.h"
#include "lib/sim_main.h"
#include "valve/vfp_ifc.h"

namespace {

const char* working_directory_name() {
    static char name[PATH_MAX];
    return ::getcwd(name, sizeof name) != nullptr ? name : ".";
}

}  // namespace

bool lock_working_directory() {
    // The descriptor stays open for the life of the process: closing it would release the
    // lock. Not inherited by programs the process might start.
    const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || ::flock(dir, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            diag::err_printf(
                "server: the working directory %s is in use by another ifc-server; exiting\n",
                working_directory_name());
        } else {
            diag::err_printf("server: cannot lock the working directory %s: %s\n",
                             working_directory_name(), std::strerror(error));
        }
        if (dir >= 0) ::close(dir);
        return false;
    }
    remove_stale_temp_files(ifc_net::settings_file);
    remove_stale_temp_files(vfp_ifc::settings_file);
    return true;
}
