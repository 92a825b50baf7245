// peakmem PROGRAM [ARGUMENT...]
// Runs PROGRAM as its own child and writes to file descriptor 3 how it ended and its peak
// resident memory. A launcher this small keeps the test program's own memory, which a forked child
// inherits into its peak, out of the figure.

#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const pid_t pid = fork();
    if (pid < 0)
        return 3;
    if (pid == 0) {
        close(3);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return 4;
    if (WIFEXITED(status))
        dprintf(3, "exit %d\n", WEXITSTATUS(status));
    else
        dprintf(3, "signal %d\n", WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    dprintf(3, "peak %ld\n", usage.ru_maxrss);
    return 0;
}
