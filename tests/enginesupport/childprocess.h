#pragma once

// Runs a program in a child process that the test shapes first: standard streams that fail,
// and a watchdog. On Unix also a smaller file size limit (a disk that fills up), an
// address-space limit and an unprivileged user (so that permissions hold when the tests run as
// root); there the program starts under the small peakmem launcher (SCORLET_PEAKMEM), which
// reports how it ended and its own peak memory. Windows has no such limits; there the peak
// comes from the child's own process handle.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>
#else
#include <qt_windows.h>

// After windows.h, whose types it uses.
#include <psapi.h>
#endif

// Where one of the program's standard streams goes: to the test, which reads it afterwards,
// into a pipe whose reader has already gone, onto a full disk (Unix only: Windows has no such
// device), or nowhere.
enum class ChildStream { Captured, ClosedPipe, FullDisk, Closed };

struct ChildLimits
{
#ifdef Q_OS_UNIX
    // Bytes a file may grow to; 0 leaves the limit as it is.
    rlim_t fileSizeLimit = 0;
    // Bytes of address space the program may map; 0 leaves the limit as it is.
    rlim_t addressSpaceLimit = 0;
    // A write past that limit kills the program (as a crash would) instead of failing.
    bool killedAtFileSizeLimit = false;
    // Drop to this user before the program starts; -1 keeps the current one.
    uid_t uid = uid_t(-1);
    gid_t gid = gid_t(-1);
#endif
    // Only a guard against a hung child; no claim about its speed.
    int watchdogMs = 120000;
    ChildStream standardOutput = ChildStream::Captured;
    ChildStream standardError = ChildStream::Captured;
    // "NAME=value" entries set in the program's environment.
    QStringList environment;
};

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
        for (QString &line : lines) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
        }
        return lines;
    }
    QStringList errLines() const
    {
        QStringList lines = QString::fromUtf8(err).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (QString &line : lines) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
        }
        return lines;
    }
};

#ifdef Q_OS_UNIX

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
// folder is out of its reach. The check runs in the child, which ends before any exec.
inline bool userCanRun(uid_t uid, gid_t gid, const QString &program)
{
    const QByteArray launcher = QByteArrayLiteral(SCORLET_PEAKMEM);
    const QByteArray path = QFile::encodeName(program);
    QProcess check;
    check.setProgram(QString::fromLocal8Bit(launcher));
    check.setChildProcessModifier([&] {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
            _exit(1);
        _exit(access(launcher.constData(), X_OK) == 0 && access(path.constData(), X_OK) == 0 ? 0
                                                                                             : 1);
    });
    check.start();
    return check.waitForFinished() && check.exitStatus() == QProcess::NormalExit &&
           check.exitCode() == 0;
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

// The pipe's writing end for a stream that goes into a pipe nobody reads, else -1.
inline int readerlessPipe(ChildStream kind)
{
    int ends[2];
    if (kind != ChildStream::ClosedPipe || pipe(ends) != 0)
        return -1;
    close(ends[0]);
    return ends[1];
}

// In the child, after QProcess has set up its pipes: routes stream number `target` as `kind`
// asks. A captured stream keeps QProcess's pipe.
inline void routeChildStream(ChildStream kind, int target, int pipeEnd)
{
    switch (kind) {
    case ChildStream::Captured:
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

#else

// A handle for a stream that goes into a pipe nobody reads, else null. Inherited by the child.
inline HANDLE readerlessPipe(ChildStream kind)
{
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE reader = nullptr;
    HANDLE writer = nullptr;
    if (kind != ChildStream::ClosedPipe || !CreatePipe(&reader, &writer, &inherited, 0))
        return nullptr;
    CloseHandle(reader);
    return writer;
}

#endif

inline ChildOutcome runChild(const QString &program, const QStringList &arguments,
                             const ChildLimits &limits = ChildLimits())
{
    ChildOutcome outcome;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : limits.environment) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        environment.insert(entry.left(equals), entry.mid(equals + 1));
    }
    child.setProcessEnvironment(environment);
#ifdef Q_OS_UNIX
    QTemporaryFile reportFile;
    if (!reportFile.open())
        return outcome;
    child.setProgram(QStringLiteral(SCORLET_PEAKMEM));
    child.setArguments(QStringList{program} + arguments);
    const int reportFd = reportFile.handle();
    const int outPipe = readerlessPipe(limits.standardOutput);
    const int errPipe = readerlessPipe(limits.standardError);
    child.setChildProcessModifier([&limits, reportFd, outPipe, errPipe] {
        // Only async-signal-safe calls between fork and exec.
        // A group of its own, so that the watchdog stops the program with its launcher.
        setpgid(0, 0);
        dup2(reportFd, 3);
        routeChildStream(limits.standardOutput, STDOUT_FILENO, outPipe);
        routeChildStream(limits.standardError, STDERR_FILENO, errPipe);
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
    });
    child.start();
    for (const int end : {outPipe, errPipe}) {
        if (end >= 0)
            close(end);
    }
#else
    child.setProgram(program);
    child.setArguments(arguments);
    const HANDLE outPipe = readerlessPipe(limits.standardOutput);
    const HANDLE errPipe = readerlessPipe(limits.standardError);
    const auto route = [](ChildStream kind, HANDLE pipeEnd, HANDLE &handle) {
        if (kind == ChildStream::ClosedPipe)
            handle = pipeEnd;
        else if (kind == ChildStream::Closed)
            handle = nullptr;
    };
    child.setCreateProcessArgumentsModifier(
        [&limits, &route, outPipe, errPipe](QProcess::CreateProcessArguments *create) {
            route(limits.standardOutput, outPipe, create->startupInfo->hStdOutput);
            route(limits.standardError, errPipe, create->startupInfo->hStdError);
        });
    child.start();
    for (const HANDLE end : {outPipe, errPipe}) {
        if (end)
            CloseHandle(end);
    }
    // Held open, the finished process stays to be asked for its peak memory.
    const HANDLE process = child.processId() != 0 ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION,
                                                                FALSE, DWORD(child.processId()))
                                                  : nullptr;
#endif
    if (!child.waitForStarted())
        return outcome;
    outcome.started = true;

#ifdef Q_OS_UNIX
    const bool finished = child.waitForFinished(limits.watchdogMs);
#else
    // Wine forgets a process's memory once it has ended, so the peak is read while it runs,
    // and once more at the end for Windows, which keeps it.
    const auto readPeak = [&outcome, process] {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof(counters);
        if (process && K32GetProcessMemoryInfo(process, &counters, sizeof(counters)))
            outcome.peakKb = qMax(outcome.peakKb, long(counters.PeakWorkingSetSize / 1024));
    };
    QElapsedTimer waited;
    waited.start();
    bool finished = false;
    while (!(finished = child.waitForFinished(5)) && waited.elapsed() < limits.watchdogMs)
        readPeak();
    readPeak();
#endif
    if (!finished) {
        outcome.timedOut = true;
#ifdef Q_OS_UNIX
        ::kill(-pid_t(child.processId()), SIGKILL);
#else
        child.kill();
#endif
        child.waitForFinished(-1);
    }
    outcome.out = child.readAllStandardOutput();
    outcome.err = child.readAllStandardError();
#ifdef Q_OS_UNIX
    if (outcome.timedOut || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
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
#else
    if (process)
        CloseHandle(process);
    if (!outcome.timedOut && child.exitStatus() == QProcess::NormalExit)
        outcome.exitCode = child.exitCode();
#endif
    return outcome;
}
