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

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
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
#define SMOOTH_CONVERT_CHUNK_BYTES (256 * 1024)
#endif
constexpr std::size_t CHUNK_BYTES = SMOOTH_CONVERT_CHUNK_BYTES;
static_assert(CHUNK_BYTES >= 1, "the input chunk must hold at least one byte");

// How much of an item that is still being read survives a refill, so that a
// diagnostic can quote it; a longer item keeps only its first bytes.
constexpr std::size_t QUOTE_LIMIT = 40;
constexpr std::size_t ITEM_KEEP = std::max<std::size_t>(CHUNK_BYTES / 2, 64);
// A number is the longest prefix that fits, so after "e" or "e+" without a
// digit the reader steps back over up to two bytes it has already taken.
constexpr std::size_t HISTORY = 2;
constexpr std::size_t BUFFER_BYTES = CHUNK_BYTES + ITEM_KEEP + HISTORY;

constexpr std::size_t NO_MARK = static_cast<std::size_t>(-1);
constexpr int END = -1;

// Significant digits kept of a number.  Every point halfway between two
// adjacent single-precision values has fewer than 120 significant digits, so
// keeping 200 and noting whether any non-zero digit was dropped decides the
// rounding exactly as the full text would.
constexpr int MAX_DIGITS = 200;
// Decimal exponents (of the form 0.ddd x 10^e) past which the value is
// certainly beyond the single-precision range or certainly rounds to zero.
constexpr long long OVERFLOW_EXPONENT = 40;
constexpr long long UNDERFLOW_EXPONENT = -50;

// Thrown to abandon the conversion; carries the whole diagnostic line.
struct Failure {
    std::string message;
};

struct Input {
    std::FILE *file;
    unsigned char *buf;
    std::size_t pos;        // next unread byte
    std::size_t len;        // bytes held
    std::size_t mark;       // where the item being read began, or NO_MARK
    bool mark_lost;         // the item outgrew ITEM_KEEP; its start is in `head`
    char head[QUOTE_LIMIT];
    bool at_eof;
    long long line;         // line of buf[pos], counting from 1
};

std::string describe_errno(int err)
{
    return std::strerror(err != 0 ? err : EIO);
}

Failure file_failure(const char *name, int err)
{
    return Failure{std::string(PROGRAM) + ": " + name + ": " + describe_errno(err)};
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
            in.mark_lost = true;
            in.mark = NO_MARK;
        }
    }
    if (keep_from > 0) {
        std::memmove(in.buf, in.buf + keep_from, in.len - keep_from);
        in.len -= keep_from;
        in.pos -= keep_from;
        if (in.mark != NO_MARK) {
            in.mark -= keep_from;
        }
    }
    const std::size_t want = std::min(CHUNK_BYTES, BUFFER_BYTES - in.len);
    errno = 0;
    const std::size_t got = std::fread(in.buf + in.len, 1, want, in.file);
    if (got < want) {
        if (std::ferror(in.file)) {
            throw file_failure(INPUT_NAME, errno);
        }
        in.at_eof = true;
    }
    in.len += got;
    return got > 0;
}

inline int peek(Input &in)
{
    if (in.pos == in.len && !refill(in)) {
        return END;
    }
    return in.buf[in.pos];
}

inline bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
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
        if (c == '\n') {
            ++in.line;
        } else if (!is_space(c)) {
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

void append_quoted(std::string &out, const char *text, std::size_t n, bool more)
{
    static const char HEX[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 0xf];
        }
    }
    out += more ? "\"..." : "\"";
}

// The text of the item read so far (the whole item once it has ended).
std::string quote_item(const Input &in)
{
    std::string out;
    if (in.mark_lost) {
        append_quoted(out, in.head, QUOTE_LIMIT, true);
    } else {
        const std::size_t n = in.pos - in.mark;
        append_quoted(out, reinterpret_cast<const char *>(in.buf + in.mark), std::min(n, QUOTE_LIMIT),
                      n > QUOTE_LIMIT);
    }
    return out;
}

// The word that starts where the current item began: what stood in the
// place of the item that did not fit.
std::string quote_word_at_mark(Input &in)
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
    std::string out;
    append_quoted(out, word, n, more);
    return out;
}

// Where a diagnostic points: the item's own line, or at the end of the
// input the last line that holds anything.
long long line_of_end(const Input &in)
{
    if (in.pos > 0 && in.buf[in.pos - 1] == '\n' && in.line > 1) {
        return in.line - 1;
    }
    return in.line;
}

Failure input_failure(long long line, const std::string &where, const std::string &what)
{
    return Failure{std::string(PROGRAM) + ": " + INPUT_NAME + ":" + std::to_string(line) + ": " + where + ": " +
                   what};
}

Failure missing(const Input &in, const std::string &where, const char *expected)
{
    return input_failure(line_of_end(in), where, std::string("expected ") + expected + ", found end of file");
}

void put(std::FILE *out, const void *data, std::size_t n)
{
    errno = 0;
    if (std::fwrite(data, 1, n, out) != n) {
        throw file_failure(OUTPUT_NAME, errno);
    }
}

// Copies one header word to its own output line, streaming it through so
// that a word of any length is copied whole.
void copy_word(Input &in, std::FILE *out, const char *name)
{
    if (skip_space(in) == END) {
        throw missing(in, "header", name);
    }
    for (;;) {
        const std::size_t start = in.pos;
        while (in.pos < in.len && !is_space(in.buf[in.pos])) {
            ++in.pos;
        }
        put(out, in.buf + start, in.pos - start);
        if (in.pos < in.len || !refill(in)) {
            break;
        }
    }
    put(out, "\n", 1);
}

int read_count(Input &in)
{
    const char *name = "the record count";
    int c = skip_space(in);
    if (c == END) {
        throw missing(in, "header", name);
    }
    const long long line = in.line;
    begin_item(in);
    const bool negative = c == '-';
    if (c == '+' || c == '-') {
        ++in.pos;
        c = peek(in);
    }
    if (!is_digit(c)) {
        throw input_failure(line, "header", std::string("expected ") + name + ", found " + quote_word_at_mark(in));
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
        throw input_failure(line, "header",
                            "expected a record count within the signed 32-bit range, found " + quote_item(in));
    }
    in.mark = NO_MARK;
    return static_cast<int>(negative ? -value : value);
}

std::string record_label(long long record)
{
    return "record " + std::to_string(record);
}

// Reads one number: an optional sign, digits with at most one decimal point
// among them, and an optional exponent; the longest prefix that fits.
float read_number(Input &in, long long record)
{
    int c = skip_space(in);
    if (c == END) {
        throw missing(in, record_label(record), "a number");
    }
    const long long line = in.line;
    begin_item(in);

    const bool negative = c == '-';
    if (c == '+' || c == '-') {
        ++in.pos;
        c = peek(in);
    }

    // The value is 0.d1d2...dn x 10^point_exp, d1 being the first non-zero
    // digit; `dropped_nonzero` records whether digits past MAX_DIGITS matter.
    char digits[MAX_DIGITS];
    int n = 0;
    bool dropped_nonzero = false;
    long long point_exp = 0;
    bool any_digit = false;
    bool after_point = false;
    for (;; ++in.pos, c = peek(in)) {
        if (is_digit(c)) {
            any_digit = true;
            if (n == 0 && c == '0') {
                if (after_point) {
                    --point_exp;
                }
                continue;
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
        throw input_failure(line, record_label(record), "expected a number, found " + quote_word_at_mark(in));
    }

    long long exponent = 0;
    if (c == 'e' || c == 'E') {
        ++in.pos;
        std::size_t taken = 1;
        c = peek(in);
        const bool exponent_negative = c == '-';
        if (c == '+' || c == '-') {
            ++in.pos;
            taken = 2;
            c = peek(in);
        }
        if (is_digit(c)) {
            // Saturates far beyond any exponent that could still matter.
            constexpr long long EXPONENT_CAP = 1000000000LL;
            for (; is_digit(c); c = peek(in)) {
                exponent = std::min(EXPONENT_CAP, exponent * 10 + (c - '0'));
                ++in.pos;
            }
            if (exponent_negative) {
                exponent = -exponent;
            }
        } else {
            // "e" or "e+" with no digit is not part of the number.
            in.pos -= taken;
        }
    }

    const long long e = point_exp + exponent;
    const float zero = negative ? -0.0f : 0.0f;
    if (n == 0 || e < UNDERFLOW_EXPONENT) {
        in.mark = NO_MARK;
        return zero;
    }
    bool overflow = e > OVERFLOW_EXPONENT;
    float value = zero;
    if (!overflow) {
        // Rewritten as "[-]d1...dn[1]e<k>" so that a number of any length
        // converts from a short text; the appended 1 stands for the dropped
        // non-zero digits, which only ever push the value off a tie.
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
            // Out of range means rounded to infinity or to zero; only the
            // first is an error, the second is the nearest value.
            overflow = e > 0;
            value = zero;
        }
    }
    if (overflow) {
        throw input_failure(line, record_label(record),
                            "expected a number within single-precision range, found " + quote_item(in));
    }
    in.mark = NO_MARK;
    return value;
}

void put_fixed6(char *&p, char *end, double v)
{
    p = std::to_chars(p, end, v, std::chars_format::fixed, 6).ptr;
}

void convert(Input &in, std::FILE *out)
{
    copy_word(in, out, "the first header word");

    const int n = read_count(in);
    char line[160];
    char *p = std::to_chars(line, line + sizeof line, std::min(n, MAX_RECORDS)).ptr;
    *p++ = '\n';
    put(out, line, static_cast<std::size_t>(p - line));

    copy_word(in, out, "the second header word");
    copy_word(in, out, "the third header word");

    int written = 0;
    for (long long record = 1; record <= n; ++record) {
        const float c1 = read_number(in, record);
        const float c2 = read_number(in, record);
        // The last two columns are read, and must be valid, but are not used.
        read_number(in, record);
        read_number(in, record);
        const double x = static_cast<double>(c1) * 0.2 - 360.0;
        const double y = static_cast<double>(c2) * 1e-6;
        if (x >= -200.0 && written < MAX_RECORDS) {
            p = line;
            put_fixed6(p, line + sizeof line, x);
            *p++ = ' ';
            put_fixed6(p, line + sizeof line, y);
            *p++ = '\n';
            put(out, line, static_cast<std::size_t>(p - line));
            ++written;
        }
    }
}

int report(const std::string &message)
{
    std::fputs((message + "\n").c_str(), stderr);
    return 1;
}

}  // namespace

int main()
{
#ifdef SIGPIPE
    // "smooth2.txt" may be a FIFO; a vanished reader is a write error to
    // report, not a reason to die silently.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[BUFFER_BYTES]);
    if (!buffer) {
        return report(std::string(PROGRAM) + ": out of memory");
    }

    errno = 0;
    std::FILE *in_file = std::fopen(INPUT_NAME, "r");
    if (in_file == nullptr) {
        return report(file_failure(INPUT_NAME, errno).message);
    }
    // The reader does its own buffering in `buffer`.
    std::setvbuf(in_file, nullptr, _IONBF, 0);
    Input in{in_file, buffer.get(), 0, 0, NO_MARK, false, {}, false, 1};

    // Read the first chunk before the output is created, so that an input
    // that opens but cannot be read (a directory, say) leaves "smooth2.txt"
    // as it was.
    try {
        refill(in);
    } catch (const Failure &f) {
        std::fclose(in_file);
        return report(f.message);
    }

    errno = 0;
    std::FILE *out = std::fopen(OUTPUT_NAME, "w");
    if (out == nullptr) {
        const int err = errno;
        std::fclose(in_file);
        return report(file_failure(OUTPUT_NAME, err).message);
    }
    std::setvbuf(out, nullptr, _IOFBF, 64 * 1024);

    std::string failure;
    try {
        convert(in, out);
    } catch (const Failure &f) {
        failure = f.message;
    }
    std::fclose(in_file);

    // Whatever stopped the conversion, the lines written so far are flushed
    // and the file closed; a failure there outranks any other, since then
    // not even those lines can be relied on.
    errno = 0;
    bool written = std::fflush(out) == 0 && std::ferror(out) == 0;
    int err = errno;
    errno = 0;
    if (std::fclose(out) != 0 && written) {
        written = false;
        err = errno;
    }
    if (!written) {
        failure = file_failure(OUTPUT_NAME, err).message;
    }
    if (!failure.empty()) {
        return report(failure);
    }
    return 0;
}
