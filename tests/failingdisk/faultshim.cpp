// Loaded into scorlet-export with LD_PRELOAD by the tests, to make the system fail where a real
// disk or a full memory would, and to count what the program asks of it. Each fault is chosen
// through the environment:
//
//   SCORLET_FAULT_FOLDER_FSYNC=N     fsync of a folder fails with error number N
//   SCORLET_FAULT_WRITE=TEXT         write to a file whose path holds TEXT fails with EIO
//   SCORLET_FAULT_COUNT=FILE         at exit, each process adds the line "folder-reads N"
//                                    (folders opened for reading their names) to FILE
//   SCORLET_FAULT_MEMORY_AFTER=N     after the Nth rename, the address space the program may
//   SCORLET_FAULT_HEADROOM=BYTES     still map is held to what it maps now plus BYTES
//
// Nothing here allocates memory, so that the faults do not change what the memory limit
// tests.

#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

long environmentNumber(const char *name)
{
    const char *value = getenv(name);
    return value ? strtol(value, nullptr, 10) : 0;
}

int folderReads = 0;
int renames = 0;

bool pathOfHolds(int fd, const char *text)
{
    char link[64];
    char path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t size = readlink(link, path, sizeof path - 1);
    if (size < 0)
        return false;
    path[size] = '\0';
    return strstr(path, text) != nullptr;
}

// The bytes of address space the process maps now.
rlim_t mappedBytes()
{
    const int fd = open("/proc/self/statm", O_RDONLY);
    if (fd < 0)
        return 0;
    char text[128] = {};
    const ssize_t size = read(fd, text, sizeof text - 1);
    close(fd);
    if (size <= 0)
        return 0;
    return rlim_t(strtoull(text, nullptr, 10)) * rlim_t(sysconf(_SC_PAGESIZE));
}

struct Report
{
    ~Report()
    {
        const char *file = getenv("SCORLET_FAULT_COUNT");
        if (!file)
            return;
        const int fd = open(file, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd < 0)
            return;
        char line[64];
        const int size = snprintf(line, sizeof line, "folder-reads %d\n", folderReads);
        if (write(fd, line, size_t(size)) != size) {
            // Nothing to be done: the test then finds no count.
        }
        close(fd);
    }
} report;

} // namespace

extern "C" {

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    const long error = environmentNumber("SCORLET_FAULT_FOLDER_FSYNC");
    struct stat status;
    if (error > 0 && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = int(error);
        return -1;
    }
    return real(fd);
}

ssize_t write(int fd, const void *data, size_t size)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
    const char *text = getenv("SCORLET_FAULT_WRITE");
    if (text && *text && pathOfHolds(fd, text)) {
        errno = EIO;
        return -1;
    }
    return real(fd, data, size);
}

DIR *fdopendir(int fd)
{
    static const auto real = next<DIR *(*)(int)>("fdopendir");
    ++folderReads;
    return real(fd);
}

DIR *opendir(const char *name)
{
    static const auto real = next<DIR *(*)(const char *)>("opendir");
    ++folderReads;
    return real(name);
}

int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    const int result = real(fromFolder, from, toFolder, to);
    const long after = environmentNumber("SCORLET_FAULT_MEMORY_AFTER");
    if (result == 0 && after > 0 && ++renames == after) {
        rlimit limit;
        if (getrlimit(RLIMIT_AS, &limit) == 0) {
            limit.rlim_cur = mappedBytes() + rlim_t(environmentNumber("SCORLET_FAULT_HEADROOM"));
            setrlimit(RLIMIT_AS, &limit);
        }
    }
    return result;
}
}
