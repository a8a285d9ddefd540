// Preloaded (LD_PRELOAD) into a program under test to make its heap run
// out: FAIL_ALLOC_AT=N fails the N-th allocation only, FAIL_ALLOC_FROM=N
// that one and every later one.  Uses glibc's own entry points underneath;
// the programs allocate through malloc alone (operator new included).

#include <cerrno>
#include <cstddef>
#include <cstdlib>

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
    if (count == at || (from > 0 && count >= from)) {
        errno = ENOMEM;
        return true;
    }
    return false;
}

}  // namespace

extern "C" {

void *malloc(std::size_t n)
{
    return fail_this_one() ? nullptr : __libc_malloc(n);
}

void *calloc(std::size_t n, std::size_t size)
{
    return fail_this_one() ? nullptr : __libc_calloc(n, size);
}

void *realloc(void *p, std::size_t n)
{
    return fail_this_one() ? nullptr : __libc_realloc(p, n);
}

}
