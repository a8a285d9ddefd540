// integral_table: samples sin(t)/t on a fixed grid, fits a parabola through
// the first three samples, and prints a table of running integrals.

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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if !defined(NUMTOOLS_PACKAGE) || !defined(NUMTOOLS_VERSION)
#error "the package's name and version come from the build, which takes them from the project"
#endif

namespace {

constexpr const char *HELP =
    "Usage: integral_table [--help] [--version]\n"
    "Samples sin(t)/t at 256 points from -15 to 15, fits a parabola a*t^2 + b*t + c\n"
    "through the first three, and writes to standard output an empty line, the\n"
    "line \" a,b,c = a b c\", another empty line, and one row per sample: index,\n"
    "t, sin(t)/t, the cubic 64t^2 - (80/3)t^3 and the running integral from -15,\n"
    "six decimals each.\n"
    "Reads nothing; arguments other than the two options are ignored, with a\n"
    "warning.  Exit status: 0 when the whole report was written; 1 otherwise,\n"
    "with one line on standard error saying why.\n"
    "Full documentation: man integral_table\n";

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

void print_row(Report &report, int i, float x, float y, double integral)
{
    const int n = std::snprintf(report.text + report.len, REPORT_BYTES - report.len,
                                " %d  %f  %f  %f  %f\n", i, static_cast<double>(x), static_cast<double>(y),
                                reference_cubic(x), integral);
    report.len = std::min(report.len + static_cast<std::size_t>(std::max(n, 0)), REPORT_BYTES - 1);
}

// Where standard output is a regular file written from a known place (not
// appended to), the offset the report starts at and the file's length
// before it; otherwise a start of -1, and nothing is ever cut back.
struct Placement {
    long long start = -1;
    long long length = 0;
};

// ===========================================================================
// Platform section: everything that differs between POSIX and Windows.
// The rest of the program sees only what is declared here:
//   ErrorCode              why a call failed: errno, or a Win32 error code
//   last_error()           the reason of the call that just failed
//   describe(err, ...)     that reason in words
//   prepare_process()      what a run needs set before it writes
//   write_some(stream, ...) one write to standard output (1) or error (2)
//   interrupted(err)       a failure that only means "try again"
//   placement_of_output()  see Placement
//   cut_back(at, end)      see below
//   close_output()         false when even closing standard output failed
//   to_system_text(...)    LF-ended text as the system's text files end lines
// ===========================================================================

#ifdef _WIN32

using ErrorCode = DWORD;

ErrorCode last_error()
{
    return GetLastError();
}

// The reasons that have a POSIX counterpart are worded as POSIX words them,
// so that a diagnostic reads the same on every system; any other is the
// system's own message.
void describe(ErrorCode err, char *text, std::size_t size)
{
    const char *posix = err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? "No space left on device"
                        : err == ERROR_BROKEN_PIPE || err == ERROR_NO_DATA   ? "Broken pipe"
                        : err == ERROR_INVALID_HANDLE                          ? "Bad file descriptor"
                        : err == ERROR_SUCCESS                                 ? "Input/output error"
                                                                               : nullptr;
    if (posix != nullptr) {
        (void)std::snprintf(text, size, "%s", posix);
        return;
    }
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                             static_cast<DWORD>(size), nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) {
        text[--n] = '\0';
    }
    if (n == 0) {
        (void)std::snprintf(text, size, "Windows error %lu", err);
    }
}

void prepare_process()
{
}

HANDLE standard_handle(int stream)
{
    return GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

long long write_some(int stream, const char *text, std::size_t n)
{
    DWORD done = 0;
    const bool written =
        WriteFile(standard_handle(stream), text, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &done, nullptr);
    return written ? static_cast<long long>(done) : -1;
}

bool interrupted(ErrorCode)
{
    return false;
}

Placement placement_of_output()
{
    const HANDLE out = standard_handle(1);
    LARGE_INTEGER here{};
    LARGE_INTEGER size{};
    if (GetFileType(out) != FILE_TYPE_DISK || !SetFilePointerEx(out, LARGE_INTEGER{}, &here, FILE_CURRENT) ||
        !GetFileSizeEx(out, &size)) {
        return {};
    }
    return {here.QuadPart, size.QuadPart};
}

void cut_back(const Placement &at, long long end)
{
    const HANDLE out = standard_handle(1);
    LARGE_INTEGER size{};
    LARGE_INTEGER keep{};
    keep.QuadPart = std::max(end, at.length);
    if (GetFileSizeEx(out, &size) && size.QuadPart > keep.QuadPart && SetFilePointerEx(out, keep, nullptr, FILE_BEGIN)) {
        (void)SetEndOfFile(out);
    }
    keep.QuadPart = end;
    (void)SetFilePointerEx(out, keep, nullptr, FILE_BEGIN);
}

bool close_output()
{
    return CloseHandle(standard_handle(1)) != 0;
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

using ErrorCode = int;

ErrorCode last_error()
{
    return errno;
}

void describe(ErrorCode err, char *text, std::size_t size)
{
    (void)std::snprintf(text, size, "%s", std::strerror(err != 0 ? err : EIO));
}

// A reader that stops reading (integral_table | head -1) ends the run
// quietly through the default action, whatever the caller left set; a
// file-size limit is a write error to report, not a silent death.
void prepare_process()
{
    (void)std::signal(SIGPIPE, SIG_DFL);
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

long long write_some(int stream, const char *text, std::size_t n)
{
    return ::write(stream, text, n);
}

bool interrupted(ErrorCode err)
{
    return err == EINTR;
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
// ===========================================================================
// End of the platform section.
// ===========================================================================

// Writes all of `text`; false when a write failed, with `err` its reason
// and `done` how much went out.
bool write_all(int stream, const char *text, std::size_t len, std::size_t &done, ErrorCode &err)
{
    for (done = 0; done < len;) {
        const long long r = write_some(stream, text + done, len - done);
        err = r < 0 ? last_error() : 0;
        if (r > 0) {
            done += static_cast<std::size_t>(r);
        } else if (!interrupted(err)) {
            return false;
        }
    }
    return true;
}

// Writes the report to standard output; false, with the reason of the write
// that failed, when it could not.  After a failure only the report's whole
// lines are kept where that can be done (see cut_back).
bool write_report(const Report &report, const Placement &at, ErrorCode &err)
{
    std::size_t done = 0;
    if (write_all(1, report.text, report.len, done, err)) {
        return true;
    }
    while (done > 0 && report.text[done - 1] != '\n') {
        --done;
    }
    if (at.start >= 0) {
        cut_back(at, at.start + static_cast<long long>(done));
    }
    return false;
}

struct FreeMemory {
    void operator()(void *p) const { std::free(p); }
};
using FloatArray = std::unique_ptr<float[], FreeMemory>;
using TextBuffer = std::unique_ptr<char[], FreeMemory>;

// malloc rather than new: a failure must not go through the exception
// machinery, which needs memory of its own.
FloatArray allocate_array()
{
    return FloatArray(static_cast<float *>(std::malloc(ARRAY_CAPACITY * sizeof(float))));
}

// Nothing more can be done if even standard error fails.
void to_standard_error(const char *line, std::size_t n)
{
    std::size_t done = 0;
    ErrorCode ignored = 0;
    (void)write_all(2, line, n, done, ignored);
}

// Says on standard error what went wrong, in one line; returns the status
// the run then ends with.
int fail(const char *what, const char *reason = nullptr)
{
    char line[512];
    const int n = std::snprintf(line, sizeof line, "integral_table: %s%s%s\n", what, reason != nullptr ? ": " : "",
                                reason != nullptr ? reason : "");
    to_standard_error(line, std::min(static_cast<std::size_t>(std::max(n, 0)), sizeof line - 1));
    return 1;
}

int write_error(ErrorCode err)
{
    char reason[256];
    describe(err, reason, sizeof reason);
    return fail("write error", reason);
}

// Warns that an argument is ignored, in one line whatever it holds, and
// quoted so that the shell would read it back: in single quotes with a quote
// written '\'' or, when it holds a byte a terminal cannot show, in the $'...'
// form of bash, ksh and zsh, with \xNN for such a byte.  A very long
// argument is cut short.
void warn_ignored(const char *argument)
{
    char line[512];
    std::size_t n = 0;
    const auto put = [&](const char *text) {
        for (; *text != '\0' && n < sizeof line; ++text) {
            line[n++] = *text;
        }
    };
    const auto shown = [](char c) { return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7f; };
    const bool plain = std::all_of(argument, argument + std::strlen(argument), shown);
    put(plain ? "integral_table: ignoring argument '" : "integral_table: ignoring argument $'");
    for (const char *p = argument; *p != '\0' && n < 400; ++p) {
        char piece[5] = {*p};
        if (!shown(*p)) {
            (void)std::snprintf(piece, sizeof piece, "\\x%02x", static_cast<unsigned char>(*p));
        }
        if (*p == '\'') {
            put(plain ? "'\\''" : "\\'");
        } else if (*p == '\\' && !plain) {
            put("\\\\");
        } else {
            put(piece);
        }
    }
    put("': the program reads nothing and always writes its report to standard output\n");
    to_standard_error(line, n);
}

// --help and --version answer and end the run.  Any other argument changes
// nothing (callers may rely on that), but is named on standard error.
// Returns the exit status when the run ends here, or -1.
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
        warn_ignored(argv[i]);
    }
    return -1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (const int status = take_arguments(argc, argv); status >= 0) {
        return status;
    }
    prepare_process();

    FloatArray x_array = allocate_array();
    FloatArray y_array = allocate_array();
    FloatArray integral_array = allocate_array();
    TextBuffer report_text(static_cast<char *>(std::malloc(REPORT_BYTES)));
    if (!x_array || !y_array || !integral_array || !report_text) {
        return fail("out of memory");
    }
    float *const x = x_array.get();
    float *const y = y_array.get();
    float *const integral = integral_array.get();

    for (int i = 0; i < SAMPLE_COUNT; ++i) {
        const double t = FIRST_ABSCISSA + i * STEP;
        x[i] = static_cast<float>(t);
        // The function is evaluated at the exact grid point, not at its
        // single-precision rounding.
        y[i] = static_cast<float>(sinc(t));
    }

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
    double coef[3] = {0.0, 0.0, 0.0};
    solve_3x3(fit_matrix, fit_rhs, coef);
    const double a = coef[0];
    const double b = coef[1];
    const double c = coef[2];
    // The solver's message, if any, goes out ahead of the report.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        return fail("write error", std::strerror(errno != 0 ? errno : EIO));
    }

    Report report{report_text.get()};
    report.len = static_cast<std::size_t>(
        std::snprintf(report.text, REPORT_BYTES, "\n a,b,c = %f %f %f\n\n", a, b, c));

    const float i0 = static_cast<float>(antiderivative(x[0], a, b, c));
    const float i1 = static_cast<float>(antiderivative(x[1], a, b, c));
    const double i2 = antiderivative(x[2], a, b, c);
    integral[0] = 0.0f;
    integral[1] = static_cast<float>(static_cast<double>(i1) - static_cast<double>(i0));
    integral[2] = static_cast<float>((i2 - static_cast<double>(i1)) + static_cast<double>(integral[1]));

    for (int i = 0; i < 3; ++i) {
        print_row(report, i, x[i], y[i], integral[i]);
    }
    for (int i = 3; i < SAMPLE_COUNT; ++i) {
        // The whole prefix is integrated again for every row: panels are
        // paired from the first sample, so row i is not row i-1 plus a term.
        const double v = integrate_uneven(i + 1, x, y);
        integral[i] = static_cast<float>(v);
        print_row(report, i, x[i], y[i], v);
    }

    x_array.reset();
    y_array.reset();
    integral_array.reset();

    // A report cut short by a full disk or a size limit must not pass for
    // a complete one.  It goes out as the system's text files are written.
    report.len = to_system_text(report.text, report.len, REPORT_BYTES);
    ErrorCode err = 0;
    if (!write_report(report, placement_of_output(), err)) {
        return write_error(err);
    }
    if (!close_output()) {
        return write_error(last_error());
    }
    return 0;
}
