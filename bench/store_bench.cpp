// One read access and one write access of each settings table, each beside its floor measured
// in the same run: the bare system calls that such an access cannot avoid.
//   read floor:  open, read of the image, close
//   write floor: a temporary file created, written, flushed, closed and renamed over the
//                settings file, then the directory flushed
// Case and floor run in alternating batches, so that a slow moment of the machine hits both;
// each figure is the median over the batches. The run happens in a fresh temporary directory
// (or in the directory given as the first argument).
//
//   store_bench [directory] [rounds]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ifc/ifc_net.h"
#include "valve/vfp_ifc.h"

namespace {

using clock_type = std::chrono::steady_clock;

// The settings image read back by the read floor; large enough for both tables.
std::array<char, vfp_ifc::image_size> scratch;

void read_floor(const char* file, int size) {
    const int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::read(fd, scratch.data(), static_cast<std::size_t>(size)) != size) {
        std::perror("read floor");
        std::exit(1);
    }
    ::close(fd);
}

void write_floor(const char* file, const void* image, int size) {
    const std::string temp = std::string(file) + ".floor";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok =
        fd >= 0 && ::write(fd, image, static_cast<std::size_t>(size)) == size && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok && ::rename(temp.c_str(), file) == 0;
    const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && dir >= 0 && ::fsync(dir) == 0;
    ::close(dir);
    if (!ok) {
        std::perror("write floor");
        std::exit(1);
    }
}

// Seconds per operation of a batch of n calls of op.
template <class Op>
double per_op(int n, Op op) {
    const auto start = clock_type::now();
    for (int i = 0; i < n; ++i)
        op(i);
    return std::chrono::duration<double>(clock_type::now() - start).count() / n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct pair_result {
    double access;
    double floor;
};

template <class Access, class Floor>
pair_result measure(int rounds, int batch, Access access, Floor floor) {
    per_op(batch, access);  // warm up: files created, caches filled
    per_op(batch, floor);
    std::vector<double> a;
    std::vector<double> f;
    for (int r = 0; r < rounds; ++r) {
        a.push_back(per_op(batch, access));
        f.push_back(per_op(batch, floor));
    }
    return {median(a), median(f)};
}

void report(const char* label, const pair_result& r) {
    std::printf("%-34s %10.2f us %10.2f us %8.3f\n", label, r.access * 1e6, r.floor * 1e6,
                r.access / r.floor);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir;
    bool made_dir = false;
    if (argc > 1) {
        dir = argv[1];
    } else {
        std::string pattern = (std::filesystem::temp_directory_path() / "store-bench-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        dir = pattern;
        made_dir = true;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 31;
    if (::chdir(dir.c_str()) != 0) {
        std::perror("chdir");
        return 1;
    }
    std::printf("store_bench in %s, %d rounds, medians per operation\n", dir.c_str(), rounds);
    std::printf("%-34s %13s %13s %8s\n", "case", "access", "floor", "ratio");

    std::int32_t sink = 0;
    report("interface read  (Ifc_SetRead)",
           measure(
               rounds, 400, [&](int) { Ifc_SetRead("STAT_2", &sink, 4); },
               [](int) { read_floor(ifc_net::settings_file, ifc_net::image_size); }));
    report("valve read      (VfpRead)",
           measure(
               rounds, 400, [&](int) { VfpRead("VAL_1st_apc_drop_MPA", &sink, 6); },
               [](int) { read_floor(vfp_ifc::settings_file, vfp_ifc::image_size); }));
    report("interface write (Ifc_SetWrite)",
           measure(
               rounds, 10, [](int i) { Ifc_SetWrite("STAT_2", i, 4); },
               [](int) {
                   write_floor(ifc_net::settings_file, ifc_net::i4_init.data(),
                               ifc_net::image_size);
               }));
    report("valve write     (VfpWrite)",
           measure(
               rounds, 10, [](int i) { VfpWrite("VAL_1st_apc_drop_MPA", i, 6); },
               [](int) {
                   write_floor(vfp_ifc::settings_file, vfp_ifc::i4_init.data(),
                               vfp_ifc::image_size);
               }));

    if (made_dir) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return sink == 12345678 ? 2 : 0;
}
