// integral_table: samples sin(t)/t on a fixed grid, fits a parabola through
// the first three samples, and prints a table of running integrals.
//
// Contents; each section opens with "// {==== Name" and closes with
// "// }==== Name":
//   Report      the samples, the fit, and the report's text: integrate()
//               computes every column of each row; the memory they live in
//   Failures    one line on standard error, quoting an argument
//   Platform    everything that differs between POSIX and Windows
//   Writing     the report out; write_report() cuts a failed one back to its
//               last whole line (cut_back), write_failure() says why
//   Arguments   --help, --version, and a warning for any other
//   main        the run, in order: sample, fit, integrate, write_out

#include "integrate_uneven.h"
#include "solve_3x3.h"

#ifdef _WIN32
#define NOMINMAX  // std::min and std::max, not the macros windows.h would define
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if !defined(NUMTOOLS_PACKAGE) || !defined(NUMTOOLS_VERSION)
#error "the package's name and version come from the build, which takes them from the project"
#endif

namespace {

// {==== Report: the samples, the fit, the running integrals and the report's text

constexpr int SAMPLE_COUNT = 256;
constexpr int ARRAY_CAPACITY = 2048;
constexpr double FIRST_ABSCISSA = -15.0;
constexpr double LAST_ABSCISSA = 15.0;
constexpr double STEP = (LAST_ABSCISSA - FIRST_ABSCISSA) / (SAMPLE_COUNT - 1);
// One double constant, not 80/3 re-evaluated in the expression: the two can
// round differently and the reference column is part of the fixed output.
constexpr double CUBIC_K = 80.0 / 3.0;

// No special case for t = 0: the grid has an even number of points placed
// symmetrically about 0, so 0 itself is never sampled.
double sinc(double t)
{
    return std::sin(t) / t;
}

double reference_cubic(double t)
{
    return ((64.0 - t * CUBIC_K) * t) * t;
}

// Antiderivative of a*t^2 + b*t + c; the terms are added left to right in
// the written order because that order fixes the rounding of the result.
double antiderivative(double t, double a, double b, double c)
{
    return c * t + b * std::pow(t, 2.0) / 2.0 + a * std::pow(t, 3.0) / 3.0;
}

// The report is held whole and written at the end in one go, so that the
// write that fails is the one whose reason is reported, and a report cut
// short can be cut back to the end of its last whole line.  Every number
// in it follows from fixed constants: it is 12,722 bytes, and the buffer
// has room for five times that.  The buffer is on the heap, so that the
// program also runs in a small stack.
constexpr std::size_t REPORT_BYTES = 65536;

struct Report {
    char *text = nullptr;
    std::size_t len = 0;
};

void append_row(Report &table, int i, float x, float y, double cubic, double integral)
{
    const int n = std::snprintf(table.text + table.len, REPORT_BYTES - table.len, " %d  %f  %f  %f  %f\n", i,
                                static_cast<double>(x), static_cast<double>(y), cubic, integral);
    table.len = std::min(table.len + static_cast<std::size_t>(std::max(n, 0)), REPORT_BYTES - 1);
}

struct FreeMemory {
    void operator()(void *p) const { std::free(p); }
};
using FloatArray = std::unique_ptr<float[], FreeMemory>;
using TextBuffer = std::unique_ptr<char[], FreeMemory>;

// malloc rather than new, so that running out of memory is a null pointer
// to report rather than an exception to catch.
FloatArray allocate_array()
{
    return FloatArray(static_cast<float *>(std::malloc(ARRAY_CAPACITY * sizeof(float))));
}

// The grid's abscissae, stored in single precision, and sin(t)/t at each.
void sample(float *x, float *y)
{
    for (int i = 0; i < SAMPLE_COUNT; ++i) {
        const double t = FIRST_ABSCISSA + i * STEP;
        x[i] = static_cast<float>(t);
        // The function is evaluated at the exact grid point, not at its
        // single-precision rounding.
        y[i] = static_cast<float>(sinc(t));
    }
}

// The parabola a*t^2 + b*t + c through the first three samples, as `coef`.
void fit(const float *x, const float *y, double (&coef)[3])
{
    double fit_matrix[3][3];
    double fit_rhs[3];
    for (int k = 0; k < 3; ++k) {
        const double xk = x[k];
        fit_matrix[k][0] = xk * xk;
        fit_matrix[k][1] = xk;
        fit_matrix[k][2] = 1.0;
        fit_rhs[k] = y[k];
    }
    // Should the solver ever fail it leaves `coef` alone; starting from zero
    // keeps the report well defined even then.
    coef[0] = coef[1] = coef[2] = 0.0;
    solve_3x3(fit_matrix, fit_rhs, coef);
}

// The report's text: the coefficients, then a row per sample, every column
// computed here: index, t, sin(t)/t, the cubic, and the running integral
// from the first abscissa, kept in `integral`.
void integrate(const float *x, const float *y, float *integral, const double (&coef)[3], Report &table)
{
    const double a = coef[0];
    const double b = coef[1];
    const double c = coef[2];
    table.len = static_cast<std::size_t>(
        std::snprintf(table.text, REPORT_BYTES, "\n a,b,c = %f %f %f\n\n", a, b, c));

    // Why floats among doubles: the samples and the running integrals live
    // in single-precision arrays, and I0 and I1 are rounded to single
    // precision while I2 is not, while every operation is done in double.
    // The printed digits depend on each of those choices, so each is kept.
    const float i0 = static_cast<float>(antiderivative(x[0], a, b, c));
    const float i1 = static_cast<float>(antiderivative(x[1], a, b, c));
    const double i2 = antiderivative(x[2], a, b, c);
    integral[0] = 0.0f;
    integral[1] = static_cast<float>(static_cast<double>(i1) - static_cast<double>(i0));
    integral[2] = static_cast<float>((i2 - static_cast<double>(i1)) + static_cast<double>(integral[1]));

    for (int i = 0; i < 3; ++i) {
        append_row(table, i, x[i], y[i], reference_cubic(x[i]), integral[i]);
    }
    for (int i = 3; i < SAMPLE_COUNT; ++i) {
        // The whole prefix is integrated again for every row: panels are
        // paired from the first sample, so row i is not row i-1 plus a term.
        const double v = integrate_uneven(i + 1, x, y);
        integral[i] = static_cast<float>(v);
        append_row(table, i, x[i], y[i], reference_cubic(x[i]), v);
    }
}

// }==== Report

// {==== Failures: one line on standard error, built in place, so that saying
// what went wrong needs no memory that may have run out

constexpr const char *PROGRAM = "integral_table";

struct Failure {
    char text[512] = {};
    std::size_t len = 0;
};

// {---- shared: append (written the same in both programs; CI compares them)
// Adds formatted text to the diagnostic; what does not fit is dropped.
// vsnprintf needs no heap for these plain conversions, and no locale
// touches them.
[[gnu::format(printf, 2, 3)]] void append(Failure &f, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    // va_start has just set it up; clang-tidy 14, run on this build's commands, does not see that.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int n = std::vsnprintf(f.text + f.len, sizeof f.text - 1 - f.len, format, args);
    va_end(args);
    f.len = std::min(f.len + static_cast<std::size_t>(std::max(n, 0)), sizeof f.text - 2);
}
// }---- shared: append

// {---- shared: program_failure (written the same in both programs; CI compares them)
Failure program_failure(const char *what)
{
    Failure f;
    append(f, "%s: %s", PROGRAM, what);
    return f;
}
// }---- shared: program_failure

// {---- shared: quoting (written the same in both programs; CI compares them)
// Quoted text is cut after this many bytes, and "..." after the closing
// quote says so; a byte a terminal cannot show is written as \xNN.
constexpr std::size_t QUOTE_LIMIT = 40;
inline bool is_shown(char c) { return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f; }
// }---- shared: quoting

// {---- shared: append_argument (written the same in both programs; CI compares them)
// An argument quoted so that the shell would read it back: in single quotes
// with a quote written '\'' or, when it holds a byte a terminal cannot show,
// in the $'...' form of bash, ksh and zsh, with \xNN for such a byte.  Past
// QUOTE_LIMIT bytes it is cut, and "..." after the quote says so.
void append_argument(Failure &f, const char *argument)
{
    const std::size_t n = std::min(std::strlen(argument), QUOTE_LIMIT);
    const bool plain = std::all_of(argument, argument + n, is_shown);
    append(f, plain ? "'" : "$'");
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(argument[i]);
        if (plain) {
            append(f, c == '\'' ? "'\\''" : "%c", c);
        } else {
            append(f, !is_shown(argument[i]) ? "\\x%02x" : c == '\'' || c == '\\' ? "\\%c" : "%c", c);
        }
    }
    append(f, argument[n] != '\0' ? "'..." : "'");
}
// }---- shared: append_argument

// }==== Failures

// {==== Platform: everything that differs between POSIX and Windows.  The rest
// of the program sees only what is declared here:
//   FileHandle, standard_stream(n)   standard output (1) or error (2)
//   ErrorCode, last_error()          why the call that just failed did
//   append_reason(failure, err)      that reason in words
//   DOCUMENTATION                    where --help sends the reader
//   prepare_process()                what a run needs set before it writes
//   quiet_broken_pipe(quiet)         a broken pipe a write error, not SIGPIPE
//   write_some(fd, ...)              one write, tried again if a signal cut it short
//   placement_of_output()            see Placement
//   cut_back(at, end)                standard output cut back to `end`, never below its length at start
//   close_output()                   false when even closing standard output failed
//   to_system_text(...)              LF-ended text as the system's text files end lines

// Where standard output is a regular file written from a known place (not
// appended to), the offset the report starts at and the file's length
// before it; otherwise a start of -1, and nothing is ever cut back.
struct Placement {
    long long start = -1;
    long long length = 0;
};

#ifdef _WIN32

using FileHandle = HANDLE;
using ErrorCode = DWORD;
#define DOCUMENTATION "integral_table.txt, beside integral_table.exe"

FileHandle standard_stream(int n)
{
    return GetStdHandle(n == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

ErrorCode last_error()
{
    return GetLastError();
}

// {---- shared: append_reason (written the same in both programs; CI compares them)
// Reasons that POSIX also has are worded as POSIX words them, so that a
// diagnostic reads the same everywhere; any other is the system's message.
void append_reason(Failure &f, ErrorCode err)
{
    const int posix = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? ENOENT
                      : err == ERROR_ACCESS_DENIED                               ? EACCES
                      : err == ERROR_DIRECTORY                                   ? EISDIR
                      : err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL  ? ENOSPC
                      : err == ERROR_BROKEN_PIPE || err == ERROR_NO_DATA || err == ERROR_PIPE_NOT_CONNECTED ? EPIPE
                      : err == ERROR_INVALID_HANDLE                              ? EBADF
                      : err == ERROR_SUCCESS                                     ? EIO
                                                                                 : 0;
    if (posix != 0) {
        append(f, "%s", std::strerror(posix));
        return;
    }
    char text[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                             sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) {
        --n;
    }
    n > 0 ? append(f, "%.*s", static_cast<int>(n), text) : append(f, "Windows error %lu", err);
}
// }---- shared: append_reason

void prepare_process()
{
}

void quiet_broken_pipe(bool) {}

long long write_some(FileHandle fd, const char *text, std::size_t n)
{
    DWORD done = 0;
    const bool written = WriteFile(fd, text, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &done, nullptr);
    return written ? static_cast<long long>(done) : -1;
}

Placement placement_of_output()
{
    const HANDLE file = standard_stream(1);
    LARGE_INTEGER here{};
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !SetFilePointerEx(file, LARGE_INTEGER{}, &here, FILE_CURRENT) ||
        !GetFileSizeEx(file, &size)) {
        return {};
    }
    return {here.QuadPart, size.QuadPart};
}

void cut_back(const Placement &at, long long end)
{
    const HANDLE file = standard_stream(1);
    LARGE_INTEGER size{};
    LARGE_INTEGER keep{};
    keep.QuadPart = std::max(end, at.length);
    if (GetFileSizeEx(file, &size) && size.QuadPart > keep.QuadPart && SetFilePointerEx(file, keep, nullptr, FILE_BEGIN)) {
        (void)SetEndOfFile(file);
    }
    keep.QuadPart = end;
    (void)SetFilePointerEx(file, keep, nullptr, FILE_BEGIN);
}

bool close_output()
{
    return CloseHandle(standard_stream(1)) != 0;
}

// Each line feed becomes CR LF, working from the end so that the text can
// grow in place; the report is far smaller than half its buffer.
std::size_t to_system_text(char *text, std::size_t len, std::size_t capacity)
{
    const std::size_t grown = len + static_cast<std::size_t>(std::count(text, text + len, '\n'));
    if (grown > capacity) {
        return len;
    }
    for (std::size_t from = len, to = grown; from > 0;) {
        text[--to] = text[--from];
        if (text[from] == '\n') {
            text[--to] = '\r';
        }
    }
    return grown;
}

#else  // POSIX.1-2008

using FileHandle = int;
using ErrorCode = int;
#define DOCUMENTATION "man integral_table"

FileHandle standard_stream(int n)
{
    return n;
}

ErrorCode last_error()
{
    return errno;
}

void append_reason(Failure &f, ErrorCode err)
{
    append(f, "%s", std::strerror(err != 0 ? err : EIO));
}

// A reader that stops reading (integral_table | head -1) ends the run
// quietly through the default action, whatever the caller left set or
// blocked; a file-size limit is a write error to report, not a silent death.
void prepare_process()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    (void)::sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
    (void)std::signal(SIGPIPE, SIG_DFL);
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

// While quiet, a broken pipe is a write error, as it is for the warnings on
// standard error: nobody reading them must not change the run.
void quiet_broken_pipe(bool quiet) { (void)std::signal(SIGPIPE, quiet ? SIG_IGN : SIG_DFL); }

long long write_some(FileHandle fd, const char *text, std::size_t n)
{
    for (;;) {
        const ssize_t r = ::write(fd, text, n);
        if (r >= 0 || errno != EINTR) {
            return r;
        }
    }
}

Placement placement_of_output()
{
    struct stat st {};
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0 || (flags & O_APPEND) != 0 || ::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    return {::lseek(STDOUT_FILENO, 0, SEEK_CUR), st.st_size};
}

void cut_back(const Placement &at, long long end)
{
    struct stat st {};
    const auto keep = static_cast<off_t>(std::max(end, at.length));
    if (::fstat(STDOUT_FILENO, &st) == 0 && st.st_size > keep) {
        (void)::ftruncate(STDOUT_FILENO, keep);
    }
    (void)::lseek(STDOUT_FILENO, static_cast<off_t>(end), SEEK_SET);
}

bool close_output()
{
    return ::close(STDOUT_FILENO) == 0;
}

std::size_t to_system_text(char *, std::size_t len, std::size_t)
{
    return len;
}

#endif
// }==== Platform

// {==== Writing: the report out, and what a failed write leaves

// Writes all of `text` to standard output or error; false when a write
// failed, with `err` its reason and `done` how much went out.
bool write_all(int stream, const char *text, std::size_t len, std::size_t &done, ErrorCode &err)
{
    for (done = 0; done < len;) {
        const long long r = write_some(standard_stream(stream), text + done, len - done);
        if (r <= 0) {
            err = r < 0 ? last_error() : 0;
            return false;
        }
        done += static_cast<std::size_t>(r);
    }
    return true;
}

// Nothing more can be done if even standard error fails.
void write_failure(Failure failure)
{
    failure.text[failure.len] = '\n';  // append leaves room for it
    std::size_t done = 0;
    ErrorCode ignored = 0;
    (void)write_all(2, failure.text, failure.len + 1, done, ignored);
}

// Reports a failed write; returns the status the run then ends with.
int write_error(ErrorCode err)
{
    Failure f = program_failure("write error: ");
    append_reason(f, err);
    write_failure(f);
    return 1;
}

// Writes the report to standard output; false, with the reason of the write
// that failed, when it could not.  After a failure only the report's whole
// lines are kept where that can be done: the part of a line past the file's
// length at start is cut off, and the offset goes to the end of the last
// whole line, so that whoever writes next goes on from there.
bool write_report(const Report &table, const Placement &at, ErrorCode &err)
{
    std::size_t done = 0;
    if (write_all(1, table.text, table.len, done, err)) {
        return true;
    }
    while (done > 0 && table.text[done - 1] != '\n') {
        --done;
    }
    if (at.start >= 0) {
        cut_back(at, at.start + static_cast<long long>(done));
    }
    return false;
}

// A report cut short by a full disk or a size limit must not pass for a
// complete one.  It goes out as the system's text files are written; the
// exit status is returned.
int write_out(Report &table)
{
    table.len = to_system_text(table.text, table.len, REPORT_BYTES);
    ErrorCode err = 0;
    if (!write_report(table, placement_of_output(), err)) {
        return write_error(err);
    }
    if (!close_output()) {
        return write_error(last_error());
    }
    return 0;
}

// }==== Writing

// {==== Arguments: --help, --version, and a warning for any other

constexpr const char *HELP =
    "Usage: integral_table [--help] [--version]\n"
    "Samples sin(t)/t at 256 points from -15 to 15, fits a parabola a*t^2 + b*t + c\n"
    "through the first three, and writes to standard output an empty line, the\n"
    "line \" a,b,c = a b c\", another empty line, and one row per sample: index,\n"
    "t, sin(t)/t, the cubic 64t^2 - (80/3)t^3 and the running integral from -15,\n"
    "six decimals each.\n"
    "Reads nothing; arguments other than the two options are ignored, with a\n"
    "warning.  Exit status: 0 when the whole report was written; 1 otherwise,\n"
    "with one line on standard error saying why; a reader that stops reading\n"
    "ends the run by SIGPIPE.\n"
    "Full documentation: " DOCUMENTATION "\n";

// --help and --version answer and end the run, and then other arguments go
// unremarked.  Otherwise any argument changes nothing (callers may rely on
// that), but is named on standard error.  Returns the exit status when the
// run ends here, or -1.
int take_arguments(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0) {
            const char *text = argv[i][2] == 'h' ? HELP : "integral_table (" NUMTOOLS_PACKAGE ") " NUMTOOLS_VERSION "\n";
            std::size_t done = 0;
            ErrorCode err = 0;
            return write_all(1, text, std::strlen(text), done, err) ? 0 : write_error(err);
        }
    }
    for (int i = 1; i < argc; ++i) {
        Failure warning = program_failure("ignoring argument ");
        append_argument(warning, argv[i]);
        append(warning, ": the program reads nothing and always writes its report to standard output");
        quiet_broken_pipe(true);
        write_failure(warning);
        quiet_broken_pipe(false);
    }
    return -1;
}

// }==== Arguments

}  // namespace

// {==== main: the run, in order
int main(int argc, char **argv)
{
    prepare_process();
    if (const int status = take_arguments(argc, argv); status >= 0) {
        return status;
    }

    FloatArray x_array = allocate_array();
    FloatArray y_array = allocate_array();
    FloatArray integral_array = allocate_array();
    TextBuffer report_text(static_cast<char *>(std::malloc(REPORT_BYTES)));
    if (!x_array || !y_array || !integral_array || !report_text) {
        write_failure(program_failure("out of memory"));
        return 1;
    }
    float *const x = x_array.get();
    float *const y = y_array.get();
    sample(x, y);
    double coef[3];
    fit(x, y, coef);
    // The solver's message, if any, goes out ahead of the report.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return write_error(last_error());
    }
    Report table{report_text.get()};
    integrate(x, y, integral_array.get(), coef, table);
    x_array.reset();
    y_array.reset();
    integral_array.reset();
    return write_out(table);
}
// }==== main
