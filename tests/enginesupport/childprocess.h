#pragma once

// Runs a program in a child process that the test shapes first: a smaller file size limit
// (a disk that fills up), an unprivileged user (so that permissions hold when the tests run
// as root), standard streams that fail, and a watchdog. The program starts under the small peakmem
// launcher (SCORLET_PEAKMEM), which reports how it ended and its own peak memory.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

// Where one of the program's standard streams goes: into a file that the test reads
// afterwards, into a pipe whose reader has already gone, onto a full disk, or nowhere.
enum class ChildStream { Captured, ClosedPipe, FullDisk, Closed };

struct ChildLimits
{
    // Bytes a file may grow to; 0 leaves the limit as it is.
    rlim_t fileSizeLimit = 0;
    // Bytes of address space the program may map; 0 leaves the limit as it is.
    rlim_t addressSpaceLimit = 0;
    // A write past that limit kills the program (as a crash would) instead of failing.
    bool killedAtFileSizeLimit = false;
    // Drop to this user before the program starts; -1 keeps the current one.
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
    // Only a guard against a hung child; no claim about its speed.
    int watchdogMs = 120000;
    ChildStream standardOutput = ChildStream::Captured;
    ChildStream standardError = ChildStream::Captured;
    // "NAME=value" entries added to the program's environment.
    QStringList environment;
};

// The pipe's writing end for a stream that goes into a pipe nobody reads, else -1.
inline int readerlessPipe(ChildStream kind)
{
    int ends[2];
    if (kind != ChildStream::ClosedPipe || pipe(ends) != 0)
        return -1;
    close(ends[0]);
    return ends[1];
}

// In the forked child: routes stream number `target` as `kind` asks.
inline void routeChildStream(ChildStream kind, int target, int captured, int pipeEnd)
{
    switch (kind) {
    case ChildStream::Captured:
        dup2(captured, target);
        break;
    case ChildStream::ClosedPipe:
        dup2(pipeEnd, target);
        break;
    case ChildStream::FullDisk: {
        const int full = open("/dev/full", O_WRONLY);
        dup2(full, target);
        close(full);
        break;
    }
    case ChildStream::Closed:
        close(target);
        break;
    }
}

struct ChildOutcome
{
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    int signal = 0;
    long peakKb = 0;
    QByteArray out;
    QByteArray err;

    QStringList outLines() const
    {
        QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    QStringList errLines() const
    {
        return QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

// The unprivileged user that root drops to, or false when there is none.
inline bool unprivilegedUser(uid_t &uid, gid_t &gid)
{
    const passwd *entry = getpwnam("nobody");
    if (!entry)
        return false;
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    return true;
}

// Whether that user may start the launcher and `program`: a build inside a private home
// folder is out of its reach.
inline bool userCanRun(uid_t uid, gid_t gid, const QString &program)
{
    const QByteArray launcher = QByteArrayLiteral(SCORLET_PEAKMEM);
    const QByteArray path = QFile::encodeName(program);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(1);
        _exit(access(launcher.constData(), X_OK) == 0 && access(path.constData(), X_OK) == 0 ? 0
                                                                                             : 1);
    }
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Has the child run `program` as the unprivileged user; why it cannot, or nothing.
inline const char *runAsUnprivileged(ChildLimits &limits, const QString &program)
{
    if (!unprivilegedUser(limits.uid, limits.gid))
        return "running as root without an unprivileged user to drop to";
    if (!userCanRun(limits.uid, limits.gid, program))
        return "the unprivileged user cannot reach the programs of this build";
    return nullptr;
}

inline ChildOutcome runChild(const QString &program, const QStringList &arguments,
                             const ChildLimits &limits = ChildLimits())
{
    ChildOutcome outcome;
    QTemporaryFile outFile;
    QTemporaryFile errFile;
    QTemporaryFile reportFile;
    if (!outFile.open() || !errFile.open() || !reportFile.open())
        return outcome;

    std::vector<QByteArray> storage;
    storage.push_back(QByteArrayLiteral(SCORLET_PEAKMEM));
    storage.push_back(QFile::encodeName(program));
    for (const QString &argument : arguments)
        storage.push_back(QFile::encodeName(argument));
    std::vector<char *> argv;
    for (QByteArray &bytes : storage)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    // The test's own environment, each variable the limits name replaced.
    std::vector<QByteArray> environmentStorage;
    for (const QString &entry : limits.environment)
        environmentStorage.push_back(QFile::encodeName(entry));
    for (char **entry = environ; *entry; ++entry) {
        const QByteArray inherited(*entry);
        const QByteArray name = inherited.left(inherited.indexOf('=') + 1);
        const bool replaced = std::any_of(
            limits.environment.cbegin(), limits.environment.cend(),
            [&](const QString &own) { return QFile::encodeName(own).startsWith(name); });
        if (!replaced)
            environmentStorage.push_back(inherited);
    }
    std::vector<char *> envp;
    for (QByteArray &bytes : environmentStorage)
        envp.push_back(bytes.data());
    envp.push_back(nullptr);

    const int outPipe = readerlessPipe(limits.standardOutput);
    const int errPipe = readerlessPipe(limits.standardError);
    const pid_t pid = fork();
    if (pid != 0) {
        for (const int end : {outPipe, errPipe}) {
            if (end >= 0)
                close(end);
        }
    }
    if (pid < 0)
        return outcome;
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        // A group of its own, so that the watchdog stops the program with its launcher.
        setpgid(0, 0);
        dup2(reportFile.handle(), 3);
        routeChildStream(limits.standardOutput, STDOUT_FILENO, outFile.handle(), outPipe);
        routeChildStream(limits.standardError, STDERR_FILENO, errFile.handle(), errPipe);
        // As a shell starts it: a write to a pipe without a reader kills unless the program
        // itself says otherwise.
        ::signal(SIGPIPE, SIG_DFL);
        if (limits.fileSizeLimit) {
            // Ignored, so that a write past the limit fails with EFBIG instead of killing.
            ::signal(SIGXFSZ, limits.killedAtFileSizeLimit ? SIG_DFL : SIG_IGN);
            const rlimit noCore{0, 0};
            if (limits.killedAtFileSizeLimit && setrlimit(RLIMIT_CORE, &noCore) != 0)
                _exit(125);
            const rlimit limit{limits.fileSizeLimit, limits.fileSizeLimit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(125);
        }
        if (limits.addressSpaceLimit) {
            const rlimit limit{limits.addressSpaceLimit, limits.addressSpaceLimit};
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                _exit(124);
        }
        if (limits.uid != uid_t(-1)) {
            // Root may read and write everything; the permissions under test hold only for
            // an ordinary user.
            if (setgroups(0, nullptr) != 0 || setgid(limits.gid) != 0 || setuid(limits.uid) != 0)
                _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    outcome.started = true;

    int status = 0;
    rusage usage{};
    int waited = 0;
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0 && errno != EINTR)
            return outcome;
        if (waited >= limits.watchdogMs) {
            outcome.timedOut = true;
            kill(-pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            break;
        }
        const timespec pause{0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        waited += 5;
    }
    if (outcome.timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return outcome;
    reportFile.seek(0);
    for (const QByteArray &line : reportFile.readAll().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 2)
            continue;
        if (words.at(0) == "exit")
            outcome.exitCode = words.at(1).toInt();
        else if (words.at(0) == "signal")
            outcome.signal = words.at(1).toInt();
        else if (words.at(0) == "peak")
            outcome.peakKb = words.at(1).toLong();
    }

    outFile.seek(0);
    errFile.seek(0);
    outcome.out = outFile.readAll();
    outcome.err = errFile.readAll();
    return outcome;
}
