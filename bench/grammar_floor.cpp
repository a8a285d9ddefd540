// The floor under the converter's speed: reads "smooth1.txt" as the
// converter does, 64 KiB at a time, and checks the grammar of every item
// (four header words, then numbers: sign, digits, one point, exponent),
// converting nothing and writing nothing.  A converter can hardly beat a
// loop that only looks at each byte once; the benchmark shows how near it
// comes.  Exit status 1 when an item is not a number.

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

bool space(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

int main()
{
    constexpr long CHUNK = 65536;
    static unsigned char buf[2 * CHUNK + 1];
    const int fd = open("smooth1.txt", O_RDONLY);
    long kept = 0;
    long items = 0;
    for (long got = 1; fd >= 0 && got > 0;) {
        got = read(fd, buf + kept, CHUNK);
        long len = kept + (got > 0 ? got : 0);
        // Only what ends before the last white space is surely whole;
        // the rest waits for the next chunk, or the end of the file.
        long end = len;
        while (got > 0 && end > 0 && !space(buf[end - 1])) {
            --end;
        }
        const unsigned char first_kept = buf[end];
        buf[end] = 0;  // stops every loop below
        const unsigned char *p = buf;
        for (;;) {
            while (space(*p)) {
                ++p;
            }
            if (p == buf + end) {
                break;
            }
            if (++items <= 4) {  // the header
                while (!space(*p) && p < buf + end) {
                    ++p;
                }
                continue;
            }
            p += *p == '+' || *p == '-';
            long digits = 0;
            for (; digit(*p); ++p) {
                ++digits;
            }
            if (*p == '.') {
                for (++p; digit(*p); ++p) {
                    ++digits;
                }
            }
            if (digits == 0) {
                return 1;
            }
            if ((*p | 0x20) == 'e') {
                const unsigned char *q = p + 1 + (p[1] == '+' || p[1] == '-');
                for (p = digit(*q) ? q : p; digit(*p); ++p) {
                }
            }
        }
        buf[end] = first_kept;
        kept = len - end;
        std::memmove(buf, buf + end, static_cast<unsigned long>(kept));
    }
    return fd >= 0 && items > 0 ? 0 : 1;
}
