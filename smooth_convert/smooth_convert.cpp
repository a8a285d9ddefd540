// smooth_convert: turns the four-column data file "smooth1.txt" into the
// rescaled two-column file "smooth2.txt" in the current directory.
//
// The input is read in bounded chunks, so any size of file is converted in
// the same small amount of memory.  Every number is converted straight to
// the nearest single-precision value, and every line is formatted without
// reference to the locale, so the output is the same on every machine.
// Input that ends early or does not fit its syntax stops the conversion at
// once with one line on standard error naming the place; what was already
// written to "smooth2.txt" stays there, complete.
//
// Whatever stops a run (bad input, a full disk, a size limit, a signal),
// "smooth2.txt" is left holding whole lines only: output goes out a whole
// number of lines at a time, and a file left with part of a line is cut
// back to the end of its last whole line.  No diagnostic needs the heap,
// so that running out of memory is reported like anything else.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>

namespace {

constexpr const char *PROGRAM = "smooth_convert";
constexpr const char *INPUT_NAME = "smooth1.txt";
constexpr const char *OUTPUT_NAME = "smooth2.txt";

// Most data lines written, and the largest count written on line 2.
constexpr int MAX_RECORDS = 2048;

// Bytes asked of the input per read.  Tests build a copy with a tiny chunk
// so that every item in their files straddles a chunk boundary somewhere.
#ifndef SMOOTH_CONVERT_CHUNK_BYTES
#define SMOOTH_CONVERT_CHUNK_BYTES 65536  // 64 KiB: small enough to stay in cache
#endif
constexpr std::size_t CHUNK_BYTES = SMOOTH_CONVERT_CHUNK_BYTES;
static_assert(CHUNK_BYTES >= 1, "the input chunk must hold at least one byte");

// How much of an item that is still being read survives a refill, so that a
// diagnostic can quote it; a longer item keeps only its first bytes.
constexpr std::size_t QUOTE_LIMIT = 40;
constexpr std::size_t ITEM_KEEP = std::max<std::size_t>(CHUNK_BYTES / 2, 64);
static_assert(ITEM_KEEP >= QUOTE_LIMIT, "an item's quotable start must survive until it is dropped");
// A number is the longest prefix that fits, so after "e" or "e+" without a
// digit the reader steps back over up to two bytes it has already taken.
constexpr std::size_t HISTORY = 2;
constexpr std::size_t BUFFER_BYTES = CHUNK_BYTES + ITEM_KEEP + HISTORY;
// Output held before it is written: a whole number of lines at a time.
constexpr std::size_t OUTPUT_BYTES = 65536;

constexpr std::size_t NO_MARK = static_cast<std::size_t>(-1);
constexpr int END = -1;

// Significant digits kept of a number.  Every point halfway between two
// adjacent single-precision values has fewer than 120 significant digits, so
// keeping 200 and noting whether any non-zero digit was dropped decides the
// rounding exactly as the full text would.
constexpr int MAX_DIGITS = 200;
// Digits gathered into an integer for the quick conversion; 19 always fit.
constexpr int FAST_DIGITS = 19;
// Decimal exponents (of the form 0.ddd x 10^e) past which the value is
// certainly beyond the single-precision range or certainly rounds to zero.
constexpr long long OVERFLOW_EXPONENT = 40;
constexpr long long UNDERFLOW_EXPONENT = -50;
// Below this exponent a value is under 10^38 and so certainly in range.
constexpr long long SAFE_EXPONENT = 38;

// A diagnostic line, built in place: reporting a failure must not itself
// need memory that may have run out.  Text beyond the room is dropped.
struct Message {
    char text[512] = {};
    std::size_t len = 0;
};

void append(Message &m, const char *s, std::size_t n)
{
    n = std::min(n, sizeof m.text - m.len);
    std::memcpy(m.text + m.len, s, n);
    m.len += n;
}

void append(Message &m, const char *s)
{
    append(m, s, std::strlen(s));
}

void append(Message &m, long long v)
{
    char digits[24];
    append(m, digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, v).ptr - digits));
}

// Thrown to abandon the conversion; carries the whole diagnostic line.
struct Failure {
    Message message;
    bool output_failed = false;  // "smooth2.txt" can take nothing more
};

Failure program_failure(const char *what)
{
    Failure f;
    append(f.message, PROGRAM);
    append(f.message, ": ");
    append(f.message, what);
    return f;
}

// The signal that asked the program to stop, or 0.  A signal handler can
// tell the rest of the program nothing but through a flag like this one.
volatile std::sig_atomic_t stop_signal = 0;

extern "C" void note_stop_signal(int sig)
{
    stop_signal = sig;
}

// Abandons the conversion once a stop has been asked for; called between
// reads and wherever a blocked read or write was interrupted.
void check_stop()
{
    const int sig = stop_signal;
    if (sig != 0) {
        throw program_failure(sig == SIGINT ? "interrupted by SIGINT"
                              : sig == SIGTERM ? "interrupted by SIGTERM"
                                               : "interrupted by SIGHUP");
    }
}

inline std::uint64_t load8(const unsigned char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Line feeds among the first n bytes of p, eight bytes at a time: each
// byte's flag is exact (no test lets a carry into the next byte), and the
// flags add up in eight one-byte lanes that are emptied before they fill.
long long count_line_feeds(const unsigned char *p, std::size_t n)
{
    constexpr std::uint64_t ONES = 0x0101010101010101;
    constexpr std::uint64_t HIGH = 0x8080808080808080;
    constexpr std::uint64_t LOW7 = 0x7F7F7F7F7F7F7F7F;
    constexpr std::uint64_t EVEN_BYTES = 0x00FF00FF00FF00FF;
    long long total = 0;
    std::size_t i = 0;
    while (n - i >= 8) {
        const std::size_t stop = i + 8 * std::min<std::size_t>((n - i) / 8, 255);
        std::uint64_t lanes = 0;
        for (; i < stop; i += 8) {
            const std::uint64_t t = load8(p + i) ^ (ONES * '\n');
            lanes += (~(((t & LOW7) + LOW7) | t) & HIGH) >> 7;
        }
        const std::uint64_t pairs = (lanes & EVEN_BYTES) + ((lanes >> 8) & EVEN_BYTES);
        total += static_cast<long long>((pairs * 0x0001000100010001) >> 48);
    }
    for (; i < n; ++i) {
        total += p[i] == '\n' ? 1 : 0;
    }
    return total;
}

struct Input {
    int fd = -1;
    unsigned char *buf = nullptr;
    std::size_t pos = 0;          // next unread byte
    std::size_t len = 0;          // bytes held
    std::size_t mark = NO_MARK;   // where the item being read began, or NO_MARK
    bool mark_lost = false;       // the item outgrew ITEM_KEEP; its start is in `head`
    char head[QUOTE_LIMIT] = {};
    long long mark_line = 0;      // the line the item began on, once its mark is lost
    bool at_eof = false;
    long long lines_before = 0;   // line feeds in the input before buf[0]
};

// The line of buf[index], counting from 1.  Lines are counted only when a
// diagnostic needs one, and for bytes about to leave the buffer.
long long line_at(const Input &in, std::size_t index)
{
    return 1 + in.lines_before + count_line_feeds(in.buf, index);
}

Failure file_failure(const char *name, int err)
{
    Failure f;
    const char *reason = std::strerror(err != 0 ? err : EIO);
    for (const char *part : {PROGRAM, ": ", name, ": ", reason}) {
        append(f.message, part);
    }
    return f;
}

Failure output_failure(int err)
{
    Failure f = file_failure(OUTPUT_NAME, err);
    f.output_failed = true;
    return f;
}

// Makes at least one more unread byte available; false at the end of input.
bool refill(Input &in)
{
    if (in.at_eof) {
        return false;
    }
    std::size_t keep_from = in.pos >= HISTORY ? in.pos - HISTORY : 0;
    if (in.mark != NO_MARK) {
        if (in.pos - in.mark <= ITEM_KEEP) {
            keep_from = std::min(keep_from, in.mark);
        } else {
            std::memcpy(in.head, in.buf + in.mark, QUOTE_LIMIT);
            in.mark_line = line_at(in, in.mark);
            in.mark_lost = true;
            in.mark = NO_MARK;
        }
    }
    if (keep_from > 0) {
        in.lines_before += count_line_feeds(in.buf, keep_from);
        std::memmove(in.buf, in.buf + keep_from, in.len - keep_from);
        in.len -= keep_from;
        in.pos -= keep_from;
        if (in.mark != NO_MARK) {
            in.mark -= keep_from;
        }
    }
    const std::size_t want = std::min(CHUNK_BYTES, BUFFER_BYTES - in.len);
    ssize_t got = 0;
    do {
        check_stop();
        got = ::read(in.fd, in.buf + in.len, want);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        throw file_failure(INPUT_NAME, errno);
    }
    in.at_eof = got == 0;
    in.len += static_cast<std::size_t>(got);
    return got > 0;
}

inline int peek(Input &in)
{
    if (in.pos == in.len && !refill(in)) {
        return END;
    }
    return in.buf[in.pos];
}

constexpr bool space_table_entry(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

struct SpaceTable {
    bool is_space[256];
};

constexpr SpaceTable make_space_table()
{
    SpaceTable t{};
    for (int c = 0; c < 256; ++c) {
        t.is_space[c] = space_table_entry(c);
    }
    return t;
}

constexpr SpaceTable SPACE = make_space_table();

// White space is exactly these six characters, whatever the locale says.
inline bool is_space(int c)
{
    return c >= 0 && SPACE.is_space[c];
}

inline bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

// Skips white space; returns the first byte after it, not consumed.
int skip_space(Input &in)
{
    for (;;) {
        const int c = peek(in);
        if (!is_space(c)) {
            return c;
        }
        ++in.pos;
    }
}

void begin_item(Input &in)
{
    in.mark = in.pos;
    in.mark_lost = false;
}

void append_quoted(Message &out, const char *text, std::size_t n, bool more)
{
    static const char HEX[] = "0123456789abcdef";
    append(out, "\"");
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escaped[4] = {'\\', static_cast<char>(c)};
        std::size_t length = 2;
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            escaped[0] = static_cast<char>(c);
            length = 1;
        } else if (c < 0x20 || c >= 0x7f) {
            escaped[1] = 'x';
            escaped[2] = HEX[c >> 4];
            escaped[3] = HEX[c & 0xf];
            length = 4;
        }
        append(out, escaped, length);
    }
    append(out, more ? "\"..." : "\"");
}

// The text of the item read so far (the whole item once it has ended).
void quote_item(const Input &in, Message &out)
{
    if (in.mark_lost) {
        append_quoted(out, in.head, QUOTE_LIMIT, true);
    } else {
        const std::size_t n = in.pos - in.mark;
        append_quoted(out, reinterpret_cast<const char *>(in.buf + in.mark), std::min(n, QUOTE_LIMIT),
                      n > QUOTE_LIMIT);
    }
}

// The word that starts where the current item began: what stood in the
// place of the item that did not fit.
void quote_word_at_mark(Input &in, Message &out)
{
    in.pos = in.mark;
    in.mark = NO_MARK;
    char word[QUOTE_LIMIT];
    std::size_t n = 0;
    bool more = false;
    for (int c = peek(in); c != END && !is_space(c); c = peek(in)) {
        if (n == QUOTE_LIMIT) {
            more = true;
            break;
        }
        word[n++] = static_cast<char>(c);
        ++in.pos;
    }
    append_quoted(out, word, n, more);
}

// The line a diagnostic about the end of the input names: the last line,
// a final line feed not counting as the start of another.
long long line_of_end(const Input &in)
{
    const long long line = line_at(in, in.pos);
    if (in.pos > 0 && in.buf[in.pos - 1] == '\n' && line > 1) {
        return line - 1;
    }
    return line;
}

// The line on which the current item began.
long long line_of_item(const Input &in)
{
    return in.mark_lost ? in.mark_line : line_at(in, in.mark);
}

constexpr long long HEADER = 0;  // in place of a record number

// The start of every diagnostic about the input's content:
// "smooth_convert: smooth1.txt:<line>: <header|record r>: expected ".
Failure input_failure(long long line, long long record)
{
    Failure f;
    for (const char *part : {PROGRAM, ": ", INPUT_NAME, ":"}) {
        append(f.message, part);
    }
    append(f.message, line);
    if (record == HEADER) {
        append(f.message, ": header: expected ");
    } else {
        append(f.message, ": record ");
        append(f.message, record);
        append(f.message, ": expected ");
    }
    return f;
}

Failure missing(const Input &in, long long record, const char *expected)
{
    Failure f = input_failure(line_of_end(in), record);
    append(f.message, expected);
    append(f.message, ", found end of file");
    return f;
}

// A failure about the item that began at the mark: what was expected, and
// the word that stood there instead.
Failure unexpected_word(Input &in, long long record, const char *expected)
{
    Failure f = input_failure(line_of_item(in), record);
    append(f.message, expected);
    append(f.message, ", found ");
    quote_word_at_mark(in, f.message);
    return f;
}

// A failure about an item that fits its syntax but not its range.
Failure out_of_range(const Input &in, long long record, const char *expected)
{
    Failure f = input_failure(line_of_item(in), record);
    append(f.message, expected);
    append(f.message, ", found ");
    quote_item(in, f.message);
    return f;
}

// "smooth2.txt", written a whole number of lines at a time: only a header
// word too long for the buffer goes out in pieces.  So the file can always
// be brought back to whole lines, the bytes it holds up to the end of its
// last whole line are counted.
struct Output {
    int fd = -1;
    bool regular = false;       // a regular file, which can be cut back
    unsigned char *buf = nullptr;
    std::size_t len = 0;        // bytes held
    std::size_t line_end = 0;   // bytes held up to the end of the last whole line
    long long written = 0;      // bytes the file has taken
    long long whole = 0;        // bytes the file has taken up to the end of a line
};

// Writes everything held.  A short count is not an error: the rest is
// offered again, and a real failure (a full disk, a size limit) then
// reports itself with its own reason.
void drain(Output &out)
{
    const unsigned char *p = out.buf;
    std::size_t n = out.len;
    while (n > 0) {
        const ssize_t r = ::write(out.fd, p, n);
        if (r < 0 && errno == EINTR) {
            check_stop();
            continue;
        }
        if (r <= 0) {
            const int err = r < 0 ? errno : EIO;
            // The whole lines that did reach the file are kept.
            for (const unsigned char *q = p; q > out.buf; --q) {
                if (q[-1] == '\n') {
                    out.whole = out.written - (p - q);
                    break;
                }
            }
            throw output_failure(err);
        }
        out.written += r;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    if (out.line_end > 0) {
        out.whole = out.written - static_cast<long long>(out.len - out.line_end);
    }
    out.len = 0;
    out.line_end = 0;
}

// Adds part of a line.
void put_text(Output &out, const unsigned char *data, std::size_t n)
{
    while (n > OUTPUT_BYTES - out.len) {
        const std::size_t room = OUTPUT_BYTES - out.len;
        std::memcpy(out.buf + out.len, data, room);
        out.len += room;
        data += room;
        n -= room;
        drain(out);
    }
    std::memcpy(out.buf + out.len, data, n);
    out.len += n;
}

// Adds whole lines (at most OUTPUT_BYTES), never splitting them between writes.
void put_lines(Output &out, const char *text, std::size_t n)
{
    if (n > OUTPUT_BYTES - out.len) {
        drain(out);
    }
    std::memcpy(out.buf + out.len, text, n);
    out.len += n;
    out.line_end = out.len;
}

// After a failure that left the output working: the whole lines held are
// still written, and the line begun is dropped.
void write_whole_lines(Output &out)
{
    out.len = out.line_end;
    drain(out);
}

// After any failure: a file left with part of a line is cut back to the
// end of its last whole line.  Should that fail, the failure already being
// reported stands; there is nothing better to say.
void cut_back(const Output &out)
{
    if (out.regular && out.written != out.whole) {
        (void)::ftruncate(out.fd, static_cast<off_t>(out.whole));
    }
}

// Copies one header word to its own output line, streaming it through so
// that a word of any length is copied whole.
void copy_word(Input &in, Output &out, const char *name)
{
    if (skip_space(in) == END) {
        throw missing(in, HEADER, name);
    }
    for (;;) {
        const std::size_t start = in.pos;
        while (in.pos < in.len && !is_space(in.buf[in.pos])) {
            ++in.pos;
        }
        put_text(out, in.buf + start, in.pos - start);
        if (in.pos < in.len || !refill(in)) {
            break;
        }
    }
    put_lines(out, "\n", 1);
}

int read_count(Input &in)
{
    const char *name = "the record count";
    int c = skip_space(in);
    if (c == END) {
        throw missing(in, HEADER, name);
    }
    begin_item(in);
    const bool negative = c == '-';
    if (c == '+' || c == '-') {
        ++in.pos;
        c = peek(in);
    }
    if (!is_digit(c)) {
        throw unexpected_word(in, HEADER, name);
    }
    // Saturates one past the most negative int, which is enough to tell
    // every value that fits from every value that does not.
    constexpr long long LIMIT = 2147483648LL;
    long long value = 0;
    for (; is_digit(c); c = peek(in)) {
        value = std::min(LIMIT + 1, value * 10 + (c - '0'));
        ++in.pos;
    }
    if (value > (negative ? LIMIT : LIMIT - 1)) {
        throw out_of_range(in, HEADER, "a record count within the signed 32-bit range");
    }
    in.mark = NO_MARK;
    return static_cast<int>(negative ? -value : value);
}

// Powers of ten that a double holds exactly.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common case, value = mantissa x 10^scale with a short mantissa: one
// correctly rounded double operation on exact operands, then the rounding
// to single precision.  Two roundings in a row can go wrong only when the
// double lands within one of its units of a point halfway between two
// single-precision values; those cases, and results outside the normal
// single-precision range, are left to exact_float (false is returned).
bool quick_float(std::uint64_t mantissa, int n, long long scale, bool negative, float &value)
{
    constexpr std::uint64_t EXACT_INTEGER_LIMIT = std::uint64_t{1} << 53;
    if (n > FAST_DIGITS || mantissa >= EXACT_INTEGER_LIMIT || scale < -22 || scale > 22) {
        return false;
    }
    const double m = static_cast<double>(mantissa);
    const double d = scale >= 0 ? m * EXACT_POWERS_OF_TEN[scale] : m / EXACT_POWERS_OF_TEN[-scale];
    if (!(d >= static_cast<double>(std::numeric_limits<float>::min()) &&
          d <= static_cast<double>(std::numeric_limits<float>::max()))) {
        return false;
    }
    // The 29 low bits of a double's significand are the ones rounding to
    // single precision drops; 1 followed by 28 zeros is the halfway pattern.
    constexpr std::uint64_t DROPPED = (std::uint64_t{1} << 29) - 1;
    constexpr std::uint64_t HALFWAY = std::uint64_t{1} << 28;
    const std::uint64_t low = std::bit_cast<std::uint64_t>(d) & DROPPED;
    if (low + 1 >= HALFWAY && low <= HALFWAY + 1) {
        return false;
    }
    const auto f = static_cast<float>(d);
    value = negative ? -f : f;
    return true;
}

// Any number, exactly: rewritten as "[-]d1...dn[1]e<k>" so that a number of
// any length converts from a short text; the appended 1 stands for dropped
// non-zero digits, which can only push the value off a tie.  False when the
// value lies beyond the single-precision range.
bool exact_float(const char *digits, int n, bool dropped_nonzero, long long e, bool negative, float &value)
{
    char text[MAX_DIGITS + 32];
    char *t = text;
    if (negative) {
        *t++ = '-';
    }
    std::memcpy(t, digits, static_cast<std::size_t>(n));
    t += n;
    int kept = n;
    if (dropped_nonzero) {
        *t++ = '1';
        ++kept;
    }
    *t++ = 'e';
    t = std::to_chars(t, text + sizeof text, e - kept).ptr;
    const std::from_chars_result r = std::from_chars(text, t, value);
    if (r.ec == std::errc::result_out_of_range) {
        // Out of range means rounded to infinity or to zero; only the first
        // is an error, the second is the nearest value.
        value = negative ? -0.0f : 0.0f;
        return e <= 0;
    }
    return true;
}

// How many of the eight bytes in `v` (first byte in the low bits) are
// decimal digits before the first that is not.  Digits below the first
// non-digit neither carry nor borrow, so its flag is always exact.
inline int leading_digits(std::uint64_t v)
{
    const std::uint64_t flags = ((v + 0x4646464646464646) | (v - 0x3030303030303030)) & 0x8080808080808080;
    return flags == 0 ? 8 : std::countr_zero(flags) / 8;
}

// The value of eight digit values 0 to 9, one per byte, the first byte the
// most significant: combined pairwise, then in fours.
inline std::uint64_t combine_digits(std::uint64_t v)
{
    v = v * 10 + (v >> 8);
    constexpr std::uint64_t PAIRS = 0x000000FF000000FF;
    return ((v & PAIRS) * (100 + (1000000ULL << 32)) + ((v >> 16) & PAIRS) * (1 + (10000ULL << 32))) >> 32;
}

// The value of the first `k` (below 8) digit bytes of `v`; the rest is
// shifted out (in two steps, so that k = 0 needs no branch).
inline std::uint64_t digits_value(std::uint64_t v, int k)
{
    return combine_digits(((v - 0x3030303030303030) << (8 * (7 - k))) << 8);
}

// The value of all eight digit bytes of `v`.
inline std::uint64_t eight_digits_value(std::uint64_t v)
{
    return combine_digits(v - 0x3030303030303030);
}

constexpr std::uint64_t POWERS_OF_TEN[] = {1,
                                           10,
                                           100,
                                           1000,
                                           10000,
                                           100000,
                                           1000000,
                                           10000000,
                                           100000000,
                                           1000000000,
                                           10000000000,
                                           100000000000,
                                           1000000000000,
                                           10000000000000,
                                           100000000000000,
                                           1000000000000000};

// A run of digits that starts at `p`, at most 15 long: its length, or 16
// when it may be longer; with WANT_VALUE also its value in `value`.
template <bool WANT_VALUE>
[[gnu::always_inline]] inline int digit_run(const unsigned char *p, std::uint64_t &value)
{
    const std::uint64_t first = load8(p);
    const int n = leading_digits(first);
    if (n < 8) {
        if constexpr (WANT_VALUE) {
            value = digits_value(first, n);
        }
        return n;
    }
    const std::uint64_t second = load8(p + 8);
    const int m = leading_digits(second);
    if constexpr (WANT_VALUE) {
        value = m == 8 ? 0 : eight_digits_value(first) * POWERS_OF_TEN[m] + digits_value(second, m);
    }
    return 8 + m;
}

// The longest run digit_run measures in full.
constexpr int LONGEST_RUN = 15;
// The most digits whose value a 64-bit integer always holds.
constexpr int MOST_DIGITS = 19;

// A number of the everyday shape, at most 15 digits before and after the
// point and an exponent of at most 3 digits, as mantissa x 10^scale.
struct ShortNumber {
    std::uint64_t mantissa;
    int digits;
    int scale;
    int magnitude;  // the value is below 10^magnitude
    bool negative;
};

// Bytes the short-number scanner may look at past the start of a number.
constexpr std::size_t SHORT_LOOKAHEAD = 64;

// Scans a number of the everyday shape straight from the buffer, at least
// SHORT_LOOKAHEAD bytes of which must follow `p`.  Returns the bytes it
// takes, or 0 to leave the number, whatever it is, to the general reader.
// Without WANT_MANTISSA only the extent and the magnitude are worked out.
template <bool WANT_MANTISSA>
[[gnu::always_inline]] inline std::size_t scan_short_number(const unsigned char *p, ShortNumber &out)
{
    if constexpr (std::endian::native != std::endian::little) {
        return 0;
    }
    const unsigned char *const start = p;
    out.negative = *p == '-';
    p += (*p == '+') | (*p == '-');

    std::uint64_t whole_value = 0;
    const int whole = digit_run<WANT_MANTISSA>(p, whole_value);
    p += whole;
    int fraction = 0;
    std::uint64_t fraction_value = 0;
    if (*p == '.') {
        ++p;
        fraction = digit_run<WANT_MANTISSA>(p, fraction_value);
        p += fraction;
    }
    if (whole > LONGEST_RUN || fraction > LONGEST_RUN || whole + fraction == 0) {
        return 0;
    }
    if constexpr (WANT_MANTISSA) {
        if (whole + fraction > MOST_DIGITS) {
            return 0;
        }
        out.mantissa = whole_value * POWERS_OF_TEN[fraction] + fraction_value;
    }

    int exponent = 0;
    if ((*p | 0x20) == 'e') {
        const unsigned char *q = p + 1;
        const bool exponent_negative = *q == '-';
        q += (*q == '+') | (*q == '-');
        const std::uint64_t exponent_bytes = load8(q);
        const int length = leading_digits(exponent_bytes);
        // "e" without digits is not part of the number; too long an
        // exponent is left to the general reader.
        if (length > 3) {
            return 0;
        }
        if (length > 0) {
            const auto magnitude = static_cast<int>(digits_value(exponent_bytes, length));
            exponent = exponent_negative ? -magnitude : magnitude;
            p = q + length;
        }
    }

    out.digits = whole + fraction;
    out.scale = exponent - fraction;
    out.magnitude = whole + exponent;
    return static_cast<std::size_t>(p - start);
}

// The byte at `pos`, refilling the buffer when it is used up.  The scanning
// loops keep their position in locals rather than in `in`, so that it can
// stay in a register while they store digits.
inline int byte_at(Input &in, std::size_t &pos, std::size_t &len)
{
    if (pos == len) {
        in.pos = pos;
        const bool more = refill(in);
        pos = in.pos;
        len = in.len;
        if (!more) {
            return END;
        }
    }
    return in.buf[pos];
}

// Reads one number in full, whatever its shape and wherever it lies in the
// buffer: an optional sign, digits with at most one decimal point among
// them, and an optional exponent; the longest prefix that fits.  When the
// caller has no use for the value (`want_value` false) the number is still
// checked in full, but converted only when it might be out of range.
[[gnu::noinline]] float read_any_number(Input &in, long long record, bool want_value)
{
    int c = skip_space(in);
    if (c == END) {
        throw missing(in, record, "a number");
    }
    begin_item(in);
    std::size_t pos = in.pos;
    std::size_t len = in.len;

    const bool negative = c == '-';
    if (c == '+' || c == '-') {
        ++pos;
        c = byte_at(in, pos, len);
    }

    // The value is 0.d1d2...dn x 10^point_exp, d1 being the first non-zero
    // digit; `dropped_nonzero` records whether digits past MAX_DIGITS matter.
    // The first FAST_DIGITS digits are also gathered as an integer for the
    // quick conversion below.
    char digits[MAX_DIGITS];
    int n = 0;
    std::uint64_t mantissa = 0;
    bool dropped_nonzero = false;
    long long point_exp = 0;
    bool any_digit = false;
    bool after_point = false;
    for (;; ++pos, c = byte_at(in, pos, len)) {
        if (is_digit(c)) {
            any_digit = true;
            if (n == 0 && c == '0') {
                if (after_point) {
                    --point_exp;
                }
                continue;
            }
            if (n < FAST_DIGITS) {
                mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
            }
            if (n < MAX_DIGITS) {
                digits[n++] = static_cast<char>(c);
            } else if (c != '0') {
                dropped_nonzero = true;
            }
            if (!after_point) {
                ++point_exp;
            }
        } else if (c == '.' && !after_point) {
            after_point = true;
        } else {
            break;
        }
    }
    if (!any_digit) {
        in.pos = pos;
        throw unexpected_word(in, record, "a number");
    }

    long long exponent = 0;
    if (c == 'e' || c == 'E') {
        ++pos;
        std::size_t taken = 1;
        c = byte_at(in, pos, len);
        const bool exponent_negative = c == '-';
        if (c == '+' || c == '-') {
            ++pos;
            taken = 2;
            c = byte_at(in, pos, len);
        }
        if (is_digit(c)) {
            // Saturates far beyond any exponent that could still matter.
            constexpr long long EXPONENT_CAP = 1000000000LL;
            for (; is_digit(c); c = byte_at(in, pos, len)) {
                exponent = std::min(EXPONENT_CAP, exponent * 10 + (c - '0'));
                ++pos;
            }
            if (exponent_negative) {
                exponent = -exponent;
            }
        } else {
            // "e" or "e+" with no digit is not part of the number.
            pos -= taken;
        }
    }
    in.pos = pos;

    const long long e = point_exp + exponent;
    const float zero = negative ? -0.0f : 0.0f;
    float value = zero;
    bool overflow = false;
    if (n == 0 || e < UNDERFLOW_EXPONENT) {
        value = zero;
    } else if (e > OVERFLOW_EXPONENT) {
        overflow = true;
    } else if (!want_value && e <= SAFE_EXPONENT) {
        // Below 10^38: certainly within range, and nobody needs the value.
    } else if (!quick_float(mantissa, n, e - n, negative, value)) {
        overflow = !exact_float(digits, n, dropped_nonzero, e, negative, value);
    }
    if (overflow) {
        throw out_of_range(in, record, "a number within single-precision range");
    }
    in.mark = NO_MARK;
    return value;
}

// Reads one number; see read_any_number.  Most numbers in a large file are
// short and lie well inside the buffer, so they are taken here without the
// byte-by-byte bookkeeping of the general reader.
[[gnu::always_inline]] inline float read_number(Input &in, long long record, bool want_value)
{
    const unsigned char *const buf = in.buf;
    const std::size_t len = in.len;
    std::size_t pos = in.pos;
    while (pos < len && is_space(buf[pos])) {
        ++pos;
    }
    in.pos = pos;
    // cppcheck takes the loop above to end only at the buffer's end; it
    // also ends at the first byte that is not white space.
    // cppcheck-suppress knownConditionTrueFalse
    if (len - pos >= SHORT_LOOKAHEAD) {
        ShortNumber number{};
        if (want_value) {
            const std::size_t taken = scan_short_number<true>(in.buf + pos, number);
            float value = number.negative ? -0.0f : 0.0f;
            if (taken > 0 && (number.mantissa == 0 || quick_float(number.mantissa, number.digits, number.scale,
                                                                  number.negative, value))) {
                in.pos = pos + taken;
                return value;
            }
        } else {
            const std::size_t taken = scan_short_number<false>(in.buf + pos, number);
            if (taken > 0 && number.magnitude <= SAFE_EXPONENT) {
                in.pos = pos + taken;
                return 0.0f;
            }
        }
    }
    return read_any_number(in, record, want_value);
}

void put_fixed6(char *&p, char *end, double v)
{
    p = std::to_chars(p, end, v, std::chars_format::fixed, 6).ptr;
}

void convert(Input &in, Output &out)
{
    copy_word(in, out, "the first header word");

    const int n = read_count(in);
    char line[160];
    char *p = std::to_chars(line, line + sizeof line, std::min(n, MAX_RECORDS)).ptr;
    *p++ = '\n';
    put_lines(out, line, static_cast<std::size_t>(p - line));

    copy_word(in, out, "the second header word");
    copy_word(in, out, "the third header word");

    int written = 0;
    for (long long record = 1; record <= n; ++record) {
        // Once the last line that may be written is out, no value can
        // change the output any more, but every record must still be valid.
        const bool open = written < MAX_RECORDS;
        const float c1 = read_number(in, record, open);
        const float c2 = read_number(in, record, open);
        // The last two columns are read, and must be valid, but are not used.
        read_number(in, record, false);
        read_number(in, record, false);
        const double x = static_cast<double>(c1) * 0.2 - 360.0;
        const double y = static_cast<double>(c2) * 1e-6;
        if (x >= -200.0 && open) {
            p = line;
            put_fixed6(p, line + sizeof line, x);
            *p++ = ' ';
            put_fixed6(p, line + sizeof line, y);
            *p++ = '\n';
            put_lines(out, line, static_cast<std::size_t>(p - line));
            ++written;
        }
    }
    drain(out);
}

int report(Message message)
{
    append(message, "\n");
    // Nothing more can be done if even standard error fails.
    (void)std::fwrite(message.text, 1, message.len, stderr);
    return 1;
}

// A file descriptor, closed on every way out.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0) {
            (void)::close(fd);
        }
    }
};

// open(2), tried again when a signal interrupts the wait for the other end
// of a FIFO, unless that signal asks the program to stop.
int open_file(const char *name, int flags)
{
    for (;;) {
        check_stop();
        const int fd = ::open(name, flags, 0666);
        if (fd >= 0 || errno != EINTR) {
            return fd;
        }
    }
}

// Opens "smooth2.txt" without emptying it, so that nothing is lost when it
// turns out to be the input under another name (a link); only then is it
// emptied.
void open_output(const Descriptor &input, Descriptor &output, Output &out)
{
    output.fd = open_file(OUTPUT_NAME, O_WRONLY | O_CREAT);
    struct stat in_st {};
    struct stat out_st {};
    if (output.fd < 0 || ::fstat(output.fd, &out_st) != 0) {
        throw file_failure(OUTPUT_NAME, errno);
    }
    if (::fstat(input.fd, &in_st) == 0 && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) {
        Failure f = program_failure(OUTPUT_NAME);
        append(f.message, ": is the same file as ");
        append(f.message, INPUT_NAME);
        throw f;
    }
    // Devices and FIFOs cannot be emptied, nor do they need to be.
    out.regular = S_ISREG(out_st.st_mode);
    if (out.regular && ::ftruncate(output.fd, 0) != 0) {
        throw file_failure(OUTPUT_NAME, errno);
    }
    out.fd = output.fd;
}

// Were one of the standard descriptors closed, the next file opened would
// take its number, and a diagnostic meant for standard error could land in
// "smooth2.txt".
void keep_standard_descriptors_open()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) {
            return;
        }
    }
}

// SIGINT, SIGTERM and SIGHUP end the run through the ordinary failure path,
// so that the file keeps whole lines and the reason is reported; a signal
// the caller chose to ignore (under nohup, say) stays ignored.  The handler
// interrupts blocked reads and writes instead of restarting them, so that
// a stop is seen even while a FIFO waits for its other end.
void take_signals()
{
    stop_signal = 0;
    for (const int sig : {SIGHUP, SIGINT, SIGTERM}) {
        struct sigaction action {};
        if (::sigaction(sig, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) {
            continue;
        }
        action.sa_handler = note_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        (void)::sigaction(sig, &action, nullptr);
    }
    // A vanished reader of a FIFO and a file-size limit are write errors to
    // report, not reasons to die without a word.
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

struct FreeMemory {
    void operator()(unsigned char *p) const { std::free(p); }
};

}  // namespace

int main()
{
    keep_standard_descriptors_open();
    take_signals();

    // malloc rather than new: a failure must not go through the exception
    // machinery, which needs memory of its own.  Two blocks rather than
    // one: a block this size stays on the heap rather than in a mapping of
    // its own, and reads into such a mapping were measured to cost several
    // times as much system time.
    using Memory = std::unique_ptr<unsigned char, FreeMemory>;
    const Memory input_buffer(static_cast<unsigned char *>(std::malloc(BUFFER_BYTES)));
    const Memory output_buffer(static_cast<unsigned char *>(std::malloc(OUTPUT_BYTES)));
    if (!input_buffer || !output_buffer) {
        return report(program_failure("out of memory").message);
    }

    Descriptor input;
    Descriptor output;
    Input in;
    in.buf = input_buffer.get();
    Output out;
    out.buf = output_buffer.get();
    try {
        input.fd = open_file(INPUT_NAME, O_RDONLY);
        if (input.fd < 0) {
            throw file_failure(INPUT_NAME, errno);
        }
        in.fd = input.fd;
        // Read the first chunk before the output is opened, so that an
        // input that opens but cannot be read (a directory, say) leaves
        // "smooth2.txt" as it was.
        refill(in);
        open_output(input, output, out);
    } catch (const Failure &f) {
        return report(f.message);
    }

    bool failed = false;
    Failure failure;
    try {
        convert(in, out);
    } catch (const Failure &f) {
        failed = true;
        failure = f;
    }
    // Whatever stopped the conversion, the whole lines so far are written;
    // a failure of the output outranks any other, since then not even
    // those lines can be relied on.
    if (failed && !failure.output_failed) {
        try {
            write_whole_lines(out);
        } catch (const Failure &f) {
            failure = f;
        }
    }
    if (failed) {
        cut_back(out);
    }
    const int fd = output.fd;
    output.fd = -1;
    if (::close(fd) != 0 && !failure.output_failed) {
        failed = true;
        failure = output_failure(errno);
    }
    return failed ? report(failure.message) : 0;
}
