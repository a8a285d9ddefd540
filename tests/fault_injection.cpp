// Preloaded (LD_PRELOAD) into a program under test to make things fail that
// cannot be made to fail from outside:
//   FAIL_ALLOC_AT=N fails the N-th heap allocation only, FAIL_ALLOC_FROM=N
//     that one and every later one; each failure injected adds one byte to
//     the file FAIL_ALLOC_LOG, if set, so that a test can tell a run that
//     met a failure from one the preload never touched;
//   FAIL_CLOSE_OF=NAME makes close() of a file whose path ends in /NAME
//     report an I/O error (after really closing it, as a failing NFS close
//     does); STOPS_AT_CLOSE_OF=NAME raises SIGINT and then SIGTERM there,
//     two stops at the last moment of a run.
// Uses glibc's own entry points underneath; the programs allocate through
// malloc alone (operator new included).

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
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

bool is_named(int fd, const char *variable)
{
    const char *name = std::getenv(variable);
    if (name == nullptr) {
        return false;
    }
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path);
    const auto len = static_cast<ssize_t>(std::strlen(name));
    return n > len && path[n - len - 1] == '/' && std::memcmp(path + n - len, name, static_cast<std::size_t>(len)) == 0;
}

}  // namespace

extern "C" {

void *malloc(std::size_t n) { return fail_this_one() ? nullptr : __libc_malloc(n); }
void *calloc(std::size_t n, std::size_t size) { return fail_this_one() ? nullptr : __libc_calloc(n, size); }
void *realloc(void *p, std::size_t n) { return fail_this_one() ? nullptr : __libc_realloc(p, n); }

int close(int fd)
{
    const bool fail = is_named(fd, "FAIL_CLOSE_OF");
    const bool stops = is_named(fd, "STOPS_AT_CLOSE_OF");
    const long r = ::syscall(SYS_close, fd);
    if (stops) {
        (void)std::raise(SIGINT);
        (void)std::raise(SIGTERM);
    }
    errno = fail ? EIO : errno;
    return fail ? -1 : static_cast<int>(r);
}

}
