// Samples a file system's used space until a stop file appears, then prints
// the most it held in use, in bytes:
//   peak_use <folder on the file system> <stop file>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: peak_use <folder> <stop file>\n");
        return 2;
    }
    uint64_t most = 0;
    for (bool last = false; !last;) {
        last = access(argv[2], F_OK) == 0;  // one more sample after the stop file appears
        struct statvfs info;
        if (statvfs(argv[1], &info) != 0) {
            std::perror(argv[1]);
            return 1;
        }
        const uint64_t used = uint64_t(info.f_blocks - info.f_bfree) * info.f_frsize;
        if (used > most) most = used;
        usleep(1000);
    }
    std::printf("%llu\n", static_cast<unsigned long long>(most));
    return 0;
}
