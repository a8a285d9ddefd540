// Preloaded (LD_PRELOAD) into a program under test to make things fail that
// cannot be made to fail from outside:
//   FAIL_ALLOC_AT=N fails the N-th heap allocation only, FAIL_ALLOC_FROM=N
//     that one and every later one; each failure injected adds one byte to
//     the file FAIL_ALLOC_LOG, if set, so that a test can tell a run that
//     met a failure from one the preload never touched;
//   FAIL_CLOSE_OF=NAME makes close() of a file whose path ends in /NAME
//     report an I/O error (after really closing it, as a failing NFS close
//     does); FAIL_LOCK=ERRNO makes every fcntl() lock fail with that error,
//     as a file system without locks does;
//   STOPS_AT=CALL:NAME raises SIGTERM and SIGINT together, as two stops
//     that arrive at once, at the entry of open(), write() or close()
//     (CALL) of such a file, or just after sigprocmask() (sigprocmask:end):
//     stops at the most awkward moments.
// Uses glibc's own entry points underneath; the programs allocate through
// malloc alone (operator new included).

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
}

namespace {

long long setting(const char *name)
{
    const char *s = std::getenv(name);
    return s == nullptr ? 0 : std::atoll(s);
}

bool fail_this_one()
{
    static long long count = 0;
    static const long long at = setting("FAIL_ALLOC_AT");
    static const long long from = setting("FAIL_ALLOC_FROM");
    ++count;
    if (count != at && (from <= 0 || count < from)) {
        return false;
    }
    if (const char *log = std::getenv("FAIL_ALLOC_LOG"); log != nullptr) {
        const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND, 0600);
        (void)!::write(fd, "x", 1);
        (void)::syscall(SYS_close, fd);
    }
    errno = ENOMEM;
    return true;
}

// Whether `path` (or, with none, the file open as `fd`) ends in /NAME.
bool is_named(const char *name, int fd, const char *path = nullptr)
{
    char link[64];
    char buf[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = path != nullptr ? static_cast<ssize_t>(std::strlen(path)) : ::readlink(link, buf, sizeof buf);
    path = path != nullptr ? path : buf;
    const auto len = static_cast<ssize_t>(name != nullptr ? std::strlen(name) : 0);
    return len > 0 && (n == len || (n > len && path[n - len - 1] == '/')) &&
           std::memcmp(path + n - len, name, static_cast<std::size_t>(len)) == 0;
}

// At the entry of `call` on the file the setting names: both stops held
// back, then let through in one step, for the system to take in its order.
void stop_if_named(const char *call, int fd, const char *path = nullptr)
{
    const char *setting = std::getenv("STOPS_AT");
    const std::size_t len = std::strlen(call);
    if (setting == nullptr || std::strncmp(setting, call, len) != 0 || setting[len] != ':' ||
        !is_named(setting + len + 1, fd, path)) {
        return;
    }
    sigset_t stops;
    sigset_t before;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    (void)::pthread_sigmask(SIG_BLOCK, &stops, &before);
    (void)std::raise(SIGTERM);
    (void)std::raise(SIGINT);
    (void)::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// FAULT_PROBE=FILE creates FILE as the library loads, so that a test can
// tell a program the preload reaches from one it does not.
[[gnu::constructor]] void say_loaded()
{
    if (const char *probe = std::getenv("FAULT_PROBE"); probe != nullptr) {
        (void)::syscall(SYS_close, ::syscall(SYS_openat, AT_FDCWD, probe, O_WRONLY | O_CREAT, 0600));
    }
}

}  // namespace

extern "C" {

void *malloc(std::size_t n) { return fail_this_one() ? nullptr : __libc_malloc(n); }
void *calloc(std::size_t n, std::size_t size) { return fail_this_one() ? nullptr : __libc_calloc(n, size); }
void *realloc(void *p, std::size_t n) { return fail_this_one() ? nullptr : __libc_realloc(p, n); }

int fcntl(int fd, int cmd, ...)
{
    va_list rest;
    va_start(rest, cmd);
    void *arg = va_arg(rest, void *);  // as the C library itself reads it
    va_end(rest);
    errno = cmd == F_SETLK && setting("FAIL_LOCK") != 0 ? static_cast<int>(setting("FAIL_LOCK")) : errno;
    return cmd == F_SETLK && setting("FAIL_LOCK") != 0 ? -1 : static_cast<int>(::syscall(SYS_fcntl, fd, cmd, arg));
}

int close(int fd)
{
    const bool fail = is_named(std::getenv("FAIL_CLOSE_OF"), fd);
    stop_if_named("close", fd);
    const long r = ::syscall(SYS_close, fd);
    errno = fail ? EIO : errno;
    return fail ? -1 : static_cast<int>(r);
}

ssize_t write(int fd, const void *buf, std::size_t n)
{
    stop_if_named("write", fd);
    return ::syscall(SYS_write, fd, buf, n);
}

int sigprocmask(int how, const sigset_t *set, sigset_t *old)
{
    const int r = ::pthread_sigmask(how, set, old);
    stop_if_named("sigprocmask", -1, "end");  // after the change, which they then meet
    return r;
}

int open(const char *path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    const auto mode = (flags & O_CREAT) != 0 ? va_arg(rest, unsigned) : 0u;
    va_end(rest);
    stop_if_named("open", -1, path);
    return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

}
