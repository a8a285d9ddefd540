// smooth_convert: turns the four-column data file "smooth1.txt" into the
// rescaled two-column file "smooth2.txt" in the current directory, in the same
// small memory for any size of input, each number read as its nearest float,
// whatever the locale.  A failure or a stop ends a run with one line on
// standard error; a regular "smooth2.txt" then holds whole lines only, each
// as the complete run writes it, and a pipe or FIFO a prefix of the output.
//
// Contents, in the order the data flows; each section opens with
// "// {==== Name" and closes with "// }==== Name":
//   Failures    the one line that says why a run failed, and quoting
//   Platform    all that differs between POSIX and Windows, and the stops: a
//               POSIX stop ends the run in its handler, take_stop()
//   Calls       failed calls and stops as failures; closing; write_failure()
//   Input       smooth1.txt a chunk at a time, and where each item began
//   Numbers     read_number(): scan_number(), the grammar; to_float(), the
//               nearest float
//   Output      smooth2.txt, held and written; finish() cuts a regular file
//               back to its last whole line (cut_back)
//   Conversion  the header and the records (check_records() past the last
//               line written), and how a run ends
//   Arguments   --help, --version, and a warning for any other
//   main        the run, its own line, and its end
#ifdef _WIN32
#define NOMINMAX  // std::min and std::max, not the macros windows.h would define
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#if !defined(NUMTOOLS_PACKAGE) || !defined(NUMTOOLS_VERSION)
#error "the package's name and version come from the build, which takes them from the project"
#endif

namespace {

constexpr const char *PROGRAM = "smooth_convert";
constexpr const char *INPUT_NAME = "smooth1.txt";
constexpr const char *OUTPUT_NAME = "smooth2.txt";

// {==== Failures: the one line that says why a run failed
// Thrown to abandon the conversion.  The line is built in place, so that
// saying what went wrong needs no memory that may have run out.
struct Failure {
    char text[512] = {};
    std::size_t len = 0;
    bool output_failed = false;  // "smooth2.txt" can take nothing more
};

constexpr const char *INTERRUPTED = "interrupted by ";  // then the stop's name, as SIGINT

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

// Text in double quotes, kept on one line: unprintable bytes as \xNN, and
// a quote or a backslash after a backslash.
void append_quoted(Failure &f, const char *text, std::size_t n, bool cut)
{
    append(f, "\"");
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        append(f, !is_shown(text[i]) ? "\\x%02x" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
    }
    append(f, cut ? "\"..." : "\"");
}

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

// {==== Platform: all that differs between POSIX and Windows, and the stops
// The rest of the program knows only stop_signal, own_line_begun;
// FileHandle, NO_FILE, standard_stream(n); LINE_END; DOCUMENTATION;
// ErrorCode, last_error(), append_reason(), why the call that just failed
// did; Opened; prepare_process(), which catches the stops, publish_output(),
// settle_stop(), end_by_stop_signal(), stop_name(); and open_input(),
// open_output(), read_some(), write_some(), cut_back(), close_file(), one
// step each.  On POSIX a stop's handler ends the run itself, wherever it
// waits (take_stop).  Windows' handler only notes a stop, which the run
// takes at its next step: its reads and writes are not cut short.

// The stop the Windows console handler noted, or 0; a POSIX stop never
// comes back to the run, so there it stays 0.
volatile std::sig_atomic_t stop_signal = 0;
// Set as the run's own last line begins: a stop then adds no line.
volatile std::sig_atomic_t own_line_begun = 0;

// How opening "smooth2.txt" went: ready (perhaps where nothing locks), refused, or failed.
enum class Opened { READY, UNLOCKED, SAME_FILE, IN_USE, FAILED };

#ifdef _WIN32

using FileHandle = HANDLE;
const FileHandle NO_FILE = INVALID_HANDLE_VALUE;
constexpr char LINE_END[] = "\r\n";
#define DOCUMENTATION "smooth_convert.txt, beside smooth_convert.exe"
using ErrorCode = DWORD;

FileHandle standard_stream(int n) { return GetStdHandle(n == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }
ErrorCode last_error() { return GetLastError(); }

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

const char *stop_name(int sig) { return sig == SIGINT ? "SIGINT" : "SIGBREAK"; }

// Ctrl-C and Ctrl-Break stop the run the way SIGINT does elsewhere; Windows
// runs the handler on a thread of its own, and it only notes the first.
BOOL WINAPI note_console_stop(DWORD event)
{
    const bool stop = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
    if (stop && stop_signal == 0) {
        stop_signal = event == CTRL_C_EVENT ? SIGINT : SIGBREAK;
    }
    return stop ? TRUE : FALSE;
}

void prepare_process()
{
    stop_signal = 0;
    (void)SetConsoleCtrlHandler(note_console_stop, TRUE);
}

void publish_output(FileHandle, long long) {}  // the run itself cuts back after a stop

// The console's handler runs on a thread of its own: nothing to hold back.
int settle_stop() { return stop_signal; }

// A stopped run ends with the status of a console program stopped by Ctrl-C.
[[noreturn]] void end_by_stop_signal(int) { ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT)); }

// Opening a directory is refused as access denied; name the real reason.
FileHandle open_file(const char *name, DWORD access, DWORD disposition)
{
    const HANDLE h = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    // Asking for the attributes sets the last error again, so the open's is kept.
    const DWORD err = GetLastError();
    const DWORD attributes = h == INVALID_HANDLE_VALUE && err == ERROR_ACCESS_DENIED ? GetFileAttributesA(name)
                                                                                     : INVALID_FILE_ATTRIBUTES;
    const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    SetLastError(directory ? ERROR_DIRECTORY : err);
    return h;
}

FileHandle open_input() { return open_file(INPUT_NAME, GENERIC_READ, OPEN_EXISTING); }

Opened open_output(FileHandle in, FileHandle &file, bool &regular)
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    OVERLAPPED from_start{};
    file = open_file(OUTPUT_NAME, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        return Opened::FAILED;
    }
    if (GetFileInformationByHandle(in, &a) && GetFileInformationByHandle(file, &b) &&
        a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
        a.nFileIndexLow == b.nFileIndexLow) {
        return Opened::SAME_FILE;
    }
    regular = GetFileType(file) == FILE_TYPE_DISK;
    if (!regular) {
        return Opened::READY;
    }
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &from_start) &&
        GetLastError() == ERROR_LOCK_VIOLATION) {
        return Opened::IN_USE;
    }
    return SetEndOfFile(file) ? Opened::READY : Opened::FAILED;
}

// -1 on failure; a pipe whose writer has gone is at its end.
long long read_some(FileHandle fd, unsigned char *buf, std::size_t n)
{
    DWORD got = 0;
    if (ReadFile(fd, buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &got, nullptr)) {
        return got;
    }
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

long long write_some(FileHandle fd, const unsigned char *buf, std::size_t n)
{
    DWORD done = 0;
    const bool written = WriteFile(fd, buf, static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30)), &done, nullptr);
    return written ? static_cast<long long>(done) : -1;
}

bool cut_back(FileHandle fd, long long length)
{
    LARGE_INTEGER at{};
    at.QuadPart = length;
    return SetFilePointerEx(fd, at, nullptr, FILE_BEGIN) && SetEndOfFile(fd);
}

bool close_file(FileHandle fd) { return CloseHandle(fd) != 0; }

#else  // POSIX.1-2008

using FileHandle = int;
constexpr FileHandle NO_FILE = -1;
constexpr char LINE_END[] = "\n";
#define DOCUMENTATION "man smooth_convert"
using ErrorCode = int;

FileHandle standard_stream(int n) { return n; }
ErrorCode last_error() { return errno; }
void append_reason(Failure &f, ErrorCode err) { append(f, "%s", std::strerror(err != 0 ? err : EIO)); }
const char *stop_name(int sig) { return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP"; }

// What the stop handler reads: the regular "smooth2.txt" it may cut back (-1
// for none) and the length of the whole lines it holds, set first; a file
// let go of keeps its own, so no file is paired with a length not its own.
std::atomic<int> output_fd{-1};
std::atomic<long long> output_whole{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long long>::is_always_lock_free,
              "a signal handler may read only lock-free atomics");

void publish_output(FileHandle fd, long long whole) { output_whole = whole; output_fd = fd; }

constexpr int STOP_SIGNALS[] = {SIGHUP, SIGINT, SIGTERM};  // in the order the system takes them

sigset_t only(int sig) { sigset_t set; sigemptyset(&set); sigaddset(&set, sig); return set; }

sigset_t stop_set()
{
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : STOP_SIGNALS) {
        sigaddset(&stops, sig);
    }
    return stops;
}

volatile std::sig_atomic_t line_late = 0;  // set once the stop's line has had its time
extern "C" void note_line_late(int) { line_late = 1; }

// Whether a call that failed is worth trying again: one a signal cut short,
// or one on a descriptor another process made non-blocking, 10 ms later.
bool worth_again()
{
    pollfd none{-1, 0, 0};  // a pure sleep
    return errno == EINTR || (errno == EAGAIN && ::poll(&none, 1, 10) >= 0);
}

// Plain blocking calls: a FIFO's other end, a full pipe or a silent terminal
// are simply waited for, since a stop ends the run wherever it waits.
long long read_some(FileHandle fd, unsigned char *buf, std::size_t n)
{
    ssize_t r = -1;
    while ((r = ::read(fd, buf, n)) < 0 && worth_again()) {}
    return r;
}

long long write_some(FileHandle fd, const unsigned char *buf, std::size_t n)
{
    ssize_t r = -1;
    while ((r = ::write(fd, buf, n)) < 0 && line_late == 0 && worth_again()) {}
    return r;
}

// Death by the stop's own signal, so that a shell loop stops at Ctrl-C; where
// the system drops it (PID 1 of a namespace), the status a shell shows.
[[noreturn]] void end_by_stop_signal(int sig)
{
    const sigset_t deciding = only(sig);
    (void)std::signal(sig, SIG_DFL);
    (void)std::raise(sig);
    (void)::sigprocmask(SIG_UNBLOCK, &deciding, nullptr);
    ::_exit(128 + sig);
}

// A stop ends the run here, wherever it waits, as make and sort end theirs;
// the other stops wait meanwhile (sa_mask), so the first decides.  A regular
// "smooth2.txt" is cut back to its whole lines, the line goes out in one
// write unless the run's own has begun, and the run ends.  The line has
// about 100 ms: SIGALRM at 90 ms, and every 10 ms after in case one came
// just before the write, cuts short a write that standard error holds
// (setitimer, a plain system call wherever this builds, if not on POSIX's
// list for handlers); SIGTTOU is held (sa_mask) for `stty tostop`.
bool write_all(int stream, const char *text, std::size_t n);  // in Calls
extern "C" void take_stop(int sig)
{
    struct sigaction late {};
    late.sa_handler = note_line_late;
    (void)::sigaction(SIGALRM, &late, nullptr);  // the caller's timer can no longer end the run
    if (const int fd = output_fd; fd >= 0) {
        (void)::ftruncate(fd, static_cast<off_t>(output_whole.load()));
    }
    if (own_line_begun == 0) {
        char line[64] = {};
        for (const char *part : {PROGRAM, ": ", INTERRUPTED, stop_name(sig), "\n"}) {
            std::strncat(line, part, sizeof line - std::strlen(line) - 1);
        }
        const sigset_t alarm = only(SIGALRM);
        const itimerval bound{{0, 10000}, {0, 90000}};
        (void)::setitimer(ITIMER_REAL, &bound, nullptr);
        (void)::sigprocmask(SIG_UNBLOCK, &alarm, nullptr);
        line_late = 0;  // a SIGALRM that was waiting for the unblock is not ours
        (void)write_all(2, line, std::strlen(line));
    }
    end_by_stop_signal(sig);
}

// SIGINT, SIGTERM and SIGHUP end the run in take_stop; one the caller
// ignores (nohup) or blocks stays so.  A gone reader and a file-size limit
// are write errors, not silent deaths.
void prepare_process()
{
    own_line_begun = 0;
    for (const int sig : STOP_SIGNALS) {
        struct sigaction action {};
        if (::sigaction(sig, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
            action.sa_handler = take_stop;
            action.sa_mask = stop_set();
            sigaddset(&action.sa_mask, SIGTTOU);
            action.sa_flags = 0;
            (void)::sigaction(sig, &action, nullptr);
        }
    }
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);
}

// The run's end: the stops are held from here, so that a later one changes
// nothing.  A stop before it never comes back from take_stop.
int settle_stop()
{
    const sigset_t stops = stop_set();
    (void)::sigprocmask(SIG_BLOCK, &stops, nullptr);
    return 0;
}

// A closed standard descriptor is opened on /dev/null first, lest
// "smooth2.txt" take its number and a diagnostic land there.  A FIFO waits
// here for its writer, and "smooth2.txt" below for its reader.
FileHandle open_input()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) != fd) {
            break;
        }
    }
    return ::open(INPUT_NAME, O_RDONLY);
}

Opened open_output(FileHandle in, FileHandle &file, bool &regular)
{
    struct stat a {};
    struct stat b {};
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    file = ::open(OUTPUT_NAME, O_WRONLY | O_CREAT, 0666);
    if (file < 0 || ::fstat(file, &b) != 0) {
        return Opened::FAILED;
    }
    if (::fstat(in, &a) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
        return Opened::SAME_FILE;
    }
    // Two runs into one FIFO would splice their lines, so a FIFO is locked
    // too; devices are neither locked nor emptied, and FIFOs not emptied.
    // Only EACCES and EAGAIN say "held"; any other refusal, a file system
    // that locks nothing (NFS without its lock daemon: ENOLCK) or a system
    // that locks no FIFO (macOS: ENOTSUP, FreeBSD: EBADF), lets the run go on.
    regular = S_ISREG(b.st_mode);
    if (!regular && !S_ISFIFO(b.st_mode)) {
        return Opened::READY;
    }
    const int refused = ::fcntl(file, F_SETLK, &lock) == 0 ? 0 : errno;
    if (refused == EACCES || refused == EAGAIN) {
        return Opened::IN_USE;
    }
    if (regular && ::ftruncate(file, 0) != 0) {
        return Opened::FAILED;
    }
    errno = refused;
    return regular && refused != 0 ? Opened::UNLOCKED : Opened::READY;
}

bool cut_back(FileHandle fd, long long length) { return ::ftruncate(fd, static_cast<off_t>(length)) == 0; }
bool close_file(FileHandle fd) { return ::close(fd) == 0; }

#endif
// }==== Platform

// {==== Calls: failed calls and stops as failures; closing; the line written
// What a failed call was working on.
enum class Target { INPUT, OUTPUT, OUTPUT_LOCK, STANDARD_OUTPUT };

// "smooth_convert: <file>: <reason>", with "write error" for the file when
// standard output failed, and "not locked" before the reason a lock was refused.
Failure call_failure(Target target)
{
    const ErrorCode err = last_error();
    Failure f = program_failure(target == Target::INPUT             ? INPUT_NAME
                                : target == Target::STANDARD_OUTPUT ? "write error"
                                                                    : OUTPUT_NAME);
    append(f, target == Target::OUTPUT_LOCK ? ": not locked: " : ": ");
    append_reason(f, err);
    f.output_failed = target == Target::OUTPUT;
    return f;
}

Failure stop_failure()
{
    Failure f = program_failure(INTERRUPTED);
    append(f, "%s", stop_name(stop_signal));
    return f;
}

// Abandons the conversion once the Windows console handler noted a stop:
// before a call that may block.
void check_stop()
{
    if (stop_signal != 0) {
        throw stop_failure();
    }
}

// The end of a file and its buffer, on every way out of the program.
void close_and_free(FileHandle fd, unsigned char *buf)
{
    std::free(buf);
    if (fd != NO_FILE) {
        (void)close_file(fd);  // only ever called once the outcome is settled
    }
}

// Writes all of `text` to standard output or error; false when a write failed.
bool write_all(int stream, const char *text, std::size_t n)
{
    for (long long r = 0; n > 0; text += r, n -= static_cast<std::size_t>(r)) {
        r = write_some(standard_stream(stream), reinterpret_cast<const unsigned char *>(text), n);
        if (r <= 0) {
            return false;
        }
    }
    return true;
}

// False when standard error did not take the line: nothing more can be done.
bool write_failure(Failure failure)
{
    failure.text[failure.len] = '\n';  // append leaves room for it
    return write_all(2, failure.text, failure.len + 1);
}
// }==== Calls

// {==== Input: smooth1.txt, read a chunk at a time, and where each item began
// Bytes asked of the input per read.  Tests build a copy with a tiny chunk
// so that every item in their files straddles a chunk boundary somewhere.
#ifndef SMOOTH_CONVERT_CHUNK_BYTES
#define SMOOTH_CONVERT_CHUNK_BYTES 65536  // 64 KiB: small enough to stay in cache
#endif
constexpr std::size_t CHUNK_BYTES = SMOOTH_CONVERT_CHUNK_BYTES;
static_assert(CHUNK_BYTES >= 1, "the input chunk must hold at least one byte");

// How much of an item that is still being read survives a refill, so that a
// diagnostic can quote it; a longer item keeps only its first bytes.
constexpr std::size_t ITEM_KEEP = std::max<std::size_t>(CHUNK_BYTES / 2, 64);
static_assert(ITEM_KEEP >= QUOTE_LIMIT, "an item's quotable start must survive until it is dropped");
// A number is the longest prefix that fits, so after "e" or "e+" without a
// digit the reader steps back over up to two bytes it has already taken.
constexpr std::size_t HISTORY = 2;
constexpr std::size_t BUFFER_BYTES = CHUNK_BYTES + ITEM_KEEP + HISTORY;

constexpr std::size_t NO_MARK = static_cast<std::size_t>(-1);
constexpr int END = -1;  // what peek gives at the end of the input

// White space is exactly these six characters, whatever the locale says:
// space, and tab to carriage return.
inline bool is_space(int c) { return c == ' ' || static_cast<unsigned>(c - '\t') <= '\r' - '\t'; }
inline bool is_digit(int c) { return static_cast<unsigned>(c - '0') <= 9; }

struct Output;
void drain(Output &out);  // in Output
// The input, read a chunk at a time.  buf[len] is always 0, and an item that
// begins before `unsplit_end` ends before it, so it needs no bound check.
struct Input {
    FileHandle fd = NO_FILE;
    Output *out = nullptr;        // written out before each read, once open
    unsigned char *buf = nullptr;
    std::size_t pos = 0;          // next unread byte
    std::size_t len = 0;          // bytes held
    std::size_t unsplit_end = 0;  // items that begin before this index end within the buffer
    std::size_t mark = NO_MARK;   // where the item being read began, or NO_MARK
    bool mark_lost = false;       // the item outgrew ITEM_KEEP; its start is in `head`
    char head[QUOTE_LIMIT] = {};
    long long mark_line = 0;      // the line the item began on, once its mark is lost
    bool at_eof = false;
    long long lines_before = 0;   // line feeds in the input before buf[0]
    long long bytes_before = 0;   // bytes of the input before buf[0]

    Input() = default;
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;
    ~Input() { close_and_free(fd, buf); }
};

// Line feeds among the first n bytes, counted in blocks short enough for a
// one-byte tally, a loop the compiler turns into vector instructions.
long long count_line_feeds(const unsigned char *p, std::size_t n)
{
    long long total = 0;
    for (std::size_t i = 0; i < n;) {
        const std::size_t stop = std::min(n, i + 255);
        unsigned char block = 0;
        for (; i < stop; ++i) {
            block += p[i] == '\n' ? 1 : 0;
        }
        total += block;
    }
    return total;
}

// The line of buf[index], counting from 1.  Lines are counted only when a
// diagnostic needs one, and for bytes about to leave the buffer.
long long line_at(const Input &in, std::size_t index)
{
    return 1 + in.lines_before + count_line_feeds(in.buf, index);
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
        in.bytes_before += static_cast<long long>(keep_from);
        std::memmove(in.buf, in.buf + keep_from, in.len - keep_from);
        in.len -= keep_from;
        in.pos -= keep_from;
        in.mark -= in.mark != NO_MARK ? keep_from : 0;
    }
    const std::size_t want = std::min(CHUNK_BYTES, BUFFER_BYTES - in.len);
    check_stop();
    // What is held goes out before a read, which may wait, as C's stdio
    // does before it reads a terminal: a stop while it waits keeps it.
    if (in.out != nullptr) {
        drain(*in.out);
    }
    const long long got = read_some(in.fd, in.buf + in.len, want);
    if (got < 0) {
        throw call_failure(Target::INPUT);
    }
    in.at_eof = got == 0;
    in.len += static_cast<std::size_t>(got);
    in.buf[in.len] = 0;
    in.unsplit_end = in.len;
    while (!in.at_eof && in.unsplit_end > in.pos && !is_space(in.buf[in.unsplit_end - 1])) {
        --in.unsplit_end;
    }
    return got > 0;
}

inline int peek(Input &in)
{
    if (in.pos == in.len && !refill(in)) {
        return END;
    }
    return in.buf[in.pos];
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

// The text of the item read so far (all of it once it has ended).
void quote_item(const Input &in, Failure &f)
{
    if (in.mark_lost) {
        append_quoted(f, in.head, QUOTE_LIMIT, true);
    } else {
        const std::size_t n = in.pos - in.mark;
        append_quoted(f, reinterpret_cast<const char *>(in.buf + in.mark), std::min(n, QUOTE_LIMIT),
                      n > QUOTE_LIMIT);
    }
}

// The word that starts where the current item began: what stood in the
// place of the item that did not fit.
void quote_word_at_mark(Input &in, Failure &f)
{
    in.pos = in.mark;
    in.mark = NO_MARK;
    char word[QUOTE_LIMIT + 1];  // one more byte tells whether the word goes on
    std::size_t n = 0;
    for (int c = peek(in); c != END && !is_space(c) && n <= QUOTE_LIMIT; c = peek(in)) {
        word[n++] = static_cast<char>(c);
        ++in.pos;
    }
    append_quoted(f, word, std::min(n, QUOTE_LIMIT), n > QUOTE_LIMIT);
}

// The line a diagnostic about the end of the input names: the last line,
// a final line feed not counting as the start of another.
long long line_of_end(const Input &in)
{
    const long long line = line_at(in, in.pos);
    return line - (in.pos > 0 && in.buf[in.pos - 1] == '\n' && line > 1 ? 1 : 0);
}

// The line on which the current item began.
long long line_of_item(const Input &in) { return in.mark_lost ? in.mark_line : line_at(in, in.mark); }

constexpr long long HEADER = 0;  // in place of a record number

// The start of every diagnostic about the input's content, up to what stood
// there: "smooth_convert: smooth1.txt:<line>: <header|record r>: expected <what>, found ".
Failure input_failure(long long line, long long record, const char *expected)
{
    Failure f;
    append(f, "%s: %s:%lld: ", PROGRAM, INPUT_NAME, line);
    if (record == HEADER) {
        append(f, "header: expected %s, found ", expected);
    } else {
        append(f, "record %lld: expected %s, found ", record, expected);
    }
    return f;
}

Failure missing(const Input &in, long long record, const char *expected)
{
    Failure f = input_failure(line_of_end(in), record, expected);
    append(f, "end of file");
    return f;
}

// The item that began at the mark does not fit its syntax: its word is quoted.
Failure unexpected_word(Input &in, long long record, const char *expected)
{
    Failure f = input_failure(line_of_item(in), record, expected);
    quote_word_at_mark(in, f);
    return f;
}

// The item fits its syntax but not its range.
Failure out_of_range(const Input &in, long long record, const char *expected)
{
    Failure f = input_failure(line_of_item(in), record, expected);
    quote_item(in, f);
    return f;
}
// }==== Input

// {==== Numbers: the grammar of a number, and its nearest float, exactly
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
// At or below this exponent a value is under 10^38 and so certainly in range.
constexpr long long SAFE_EXPONENT = 38;

// What scanning a number found: its sign, how many digits stand before and
// after the point, and the exponent.
struct Scan {
    bool negative = false;
    long long int_digits = 0;
    long long frac_digits = 0;
    long long exponent = 0;  // saturated far beyond any that could matter
};

// A number's significant digits, as the conversion needs them: the value
// is 0.d1d2...dn x 10^point, d1 being the first non-zero digit.
struct Digits {
    char text[MAX_DIGITS];
    int n = 0;
    bool dropped_nonzero = false;  // a non-zero digit past MAX_DIGITS
    std::uint64_t mantissa = 0;    // the first FAST_DIGITS digits
    long long point = 0;
};

void gather(Digits &d, int c, bool after_point)
{
    if (d.n == 0 && c == '0') {  // a leading zero only moves the point
        d.point -= after_point ? 1 : 0;
        return;
    }
    d.mantissa = d.n < FAST_DIGITS ? d.mantissa * 10 + static_cast<unsigned>(c - '0') : d.mantissa;
    if (d.n < MAX_DIGITS) {
        d.text[d.n++] = static_cast<char>(c);
    } else {
        d.dropped_nonzero |= c != '0';
    }
    d.point += after_point ? 0 : 1;
}

// Powers of ten that a double holds exactly.
constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                          1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common case, mantissa x 10^(e - n): one correctly rounded double
// operation on exact operands, then the rounding to single precision.  The
// two roundings can differ from one only when the double lands within one
// unit of a single-precision halfway point; those cases, and results out of
// the normal range, are left to exact_float (false is returned).
bool quick_float(const Digits &digits, long long e, bool negative, float &value)
{
    constexpr std::uint64_t EXACT_INTEGER_LIMIT = std::uint64_t{1} << 53;
    const long long scale = e - digits.n;
    if (digits.n > FAST_DIGITS || digits.mantissa >= EXACT_INTEGER_LIMIT || scale < -22 || scale > 22) {
        return false;
    }
    const double m = static_cast<double>(digits.mantissa);
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
bool exact_float(const Digits &d, long long e, bool negative, float &value)
{
    const int kept = d.n + (d.dropped_nonzero ? 1 : 0);
    char text[MAX_DIGITS + 32] = {'-'};
    char *t = std::copy_n(d.text, d.n, text + (negative ? 1 : 0));
    *t = '1';
    t += kept - d.n;
    *t++ = 'e';
    t = std::to_chars(t, text + sizeof text, e - kept).ptr;
#ifdef __cpp_lib_to_chars
    const std::from_chars_result r = std::from_chars(text, t, value);
    if (r.ec == std::errc::result_out_of_range) {
        // Out of range means rounded to infinity or to zero; only the first
        // is an error, the second is the nearest value.
        value = negative ? -0.0f : 0.0f;
        return e <= 0;
    }
    return true;
#else
    // A C++ library without floating-point from_chars (libc++ before 17,
    // Apple's): C's strtof, which glibc, musl and the BSD and macOS C
    // libraries round correctly.  The text has no decimal point, so no
    // locale can change how it reads; beyond range it gives infinity.
    *t = '\0';
    value = std::strtof(text, nullptr);
    return !std::isinf(value);
#endif
}

// The bytes of an item that lies unsplit in the buffer: a white space or the
// buffer's final 0 ends it, so no byte needs a bound check.
template <bool GATHER>
struct InBuffer {
    const unsigned char *p;
    Digits *digits = nullptr;
    int peek() const { return *p; }
    int advance() { return *++p; }  // moves past this byte, and gives the next
    void back(int n) { p -= n; }
    const unsigned char *position() const { return p; }
    void digit(int c, bool after_point) { if constexpr (GATHER) { gather(*digits, c, after_point); } }
};

// The bytes of an item that runs past the end of the buffer, taken as the
// input streams past: the rare case of an item split by a chunk boundary,
// or longer than all the buffer holds.
struct Streamed {
    Input &in;
    Digits &digits;
    int peek() const { return ::peek(in); }
    int advance() { ++in.pos; return ::peek(in); }  // moves past this byte, and gives the next
    void back(int n) { in.pos -= static_cast<std::size_t>(n); }
    long long position() const { return in.bytes_before + static_cast<long long>(in.pos); }
    void digit(int c, bool after_point) { gather(digits, c, after_point); }
};

// The grammar of a number, one for every source: an optional sign, digits
// with at most one point before, among or after them (one digit at least), and an
// optional exponent ("e" or "E", an optional sign, digits).  The longest
// prefix that fits is taken, so an "e" or "e+" with no digit after it is
// left to the next item.  False when there is no digit.
template <class Source>
bool scan_number(Source &src, Scan &s)
{
    int c = src.peek();
    s.negative = c == '-';
    if (c == '+' || c == '-') {
        c = src.advance();
    }
    const auto int_start = src.position();
    for (; is_digit(c); c = src.advance()) {
        src.digit(c, false);
    }
    s.int_digits = src.position() - int_start;
    if (c == '.') {
        c = src.advance();
        const auto frac_start = src.position();
        for (; is_digit(c); c = src.advance()) {
            src.digit(c, true);
        }
        s.frac_digits = src.position() - frac_start;
    }
    if (s.int_digits + s.frac_digits == 0) {
        return false;
    }
    if (c == 'e' || c == 'E') {
        c = src.advance();
        const bool negative = c == '-';
        const int taken = c == '+' || c == '-' ? 2 : 1;
        if (taken == 2) {
            c = src.advance();
        }
        if (!is_digit(c)) {
            src.back(taken);
            return true;
        }
        // Saturating near 10^18 keeps the exponent far beyond anything the
        // digits could cancel (that would take a mantissa of 10^18 bytes),
        // and the sum with the digits' own scale far from overflowing.
        constexpr long long EXPONENT_CAP = 100000000000000000LL;
        for (; is_digit(c); c = src.advance()) {
            if (s.exponent < EXPONENT_CAP) {
                s.exponent = s.exponent * 10 + (c - '0');
            }
        }
        s.exponent = negative ? -s.exponent : s.exponent;
    }
    return true;
}

// The nearest single-precision value to the number; false beyond their range.
bool to_float(const Digits &d, const Scan &s, float &value)
{
    const long long e = d.point + s.exponent;
    value = s.negative ? -0.0f : 0.0f;
    if (d.n == 0 || e < UNDERFLOW_EXPONENT) {
        return true;
    }
    return e <= OVERFLOW_EXPONENT && (quick_float(d, e, s.negative, value) || exact_float(d, e, s.negative, value));
}

// Reads one number, wherever it lies, and converts it.
float read_number(Input &in, long long record)
{
    if (skip_space(in) == END) {
        throw missing(in, record, "a number");
    }
    in.mark = in.pos;
    in.mark_lost = false;
    Digits digits;
    Scan scan;
    bool found = false;
    if (in.pos < in.unsplit_end) {
        InBuffer<true> src{in.buf + in.pos, &digits};
        found = scan_number(src, scan);
        in.pos = static_cast<std::size_t>(src.p - in.buf);
    } else {
        Streamed src{in, digits};
        found = scan_number(src, scan);
    }
    if (!found) {
        throw unexpected_word(in, record, "a number");
    }
    float value = 0.0f;
    if (!to_float(digits, scan, value)) {
        throw out_of_range(in, record, "a number within single-precision range");
    }
    in.mark = NO_MARK;
    return value;
}

// }==== Numbers

// {==== Output: smooth2.txt, held and written; whole lines kept in a regular file
constexpr std::size_t OUTPUT_BYTES = 65536;  // held before it is written

// "smooth2.txt" and the bytes held for it.  Bytes held and bytes the file
// has taken are counted apart, so that the file can always be cut back to
// its last whole line.
struct Output {
    FileHandle fd = NO_FILE;
    bool regular = false;          // a regular file, which can be cut back
    unsigned char *buf = nullptr;
    std::size_t held = 0;          // bytes held in the buffer
    std::size_t held_sent = 0;     // of those, bytes the file has already taken
    long long file_bytes = 0;      // bytes the file has taken
    long long file_line_end = 0;   // of those, bytes up to the end of the last whole line

    Output() = default;
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    ~Output() { close_and_free(fd, buf); }
};

// Tells the stop handler how far a regular file may be cut back.
void publish(const Output &out) { publish_output(out.regular ? out.fd : NO_FILE, out.file_line_end); }

// Opens "smooth2.txt" (see open_output), or says why it may not be written.
void open_checked_output(const Input &in, Output &out)
{
    check_stop();
    const Opened opened = open_output(in.fd, out.fd, out.regular);
    if (opened == Opened::FAILED) {
        throw call_failure(Target::OUTPUT);
    }
    if (opened == Opened::UNLOCKED) {  // said once, and the run goes on
        (void)write_failure(call_failure(Target::OUTPUT_LOCK));
    } else if (opened != Opened::READY) {
        Failure f = program_failure(OUTPUT_NAME);
        opened == Opened::SAME_FILE ? append(f, ": is the same file as %s", INPUT_NAME)
                                    : append(f, ": in use by another run");
        throw f;
    }
    publish(out);
}

// Writes everything held, never offering twice what the file has taken, and
// publishes the whole lines the file holds after each write.  A short count
// is no error: a real one (a full disk) reports itself on the next try.  A
// stop noted on Windows is looked for before a write that may block.
void drain(Output &out)
{
    while (out.held_sent < out.held) {
        if (!out.regular) {
            check_stop();
        }
        const long long r = write_some(out.fd, out.buf + out.held_sent, out.held - out.held_sent);
        if (r <= 0) {
            throw call_failure(Target::OUTPUT);
        }
        out.file_bytes += r;
        out.held_sent += static_cast<std::size_t>(r);
        const unsigned char *line_end = std::find(std::make_reverse_iterator(out.buf + out.held_sent),
                                                  std::make_reverse_iterator(out.buf), '\n').base();
        if (line_end != out.buf) {
            out.file_line_end = out.file_bytes - (out.buf + out.held_sent - line_end);
            publish(out);
        }
    }
    out.held = out.held_sent = 0;
}

// Adds text to what is held; text that does not fit what the buffer has
// left is written out, in parts.
void put(Output &out, const void *data, std::size_t n)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    if (n > OUTPUT_BYTES - out.held) {
        drain(out);
    }
    for (; n > OUTPUT_BYTES - out.held; n -= OUTPUT_BYTES) {  // a header word too long for the buffer
        std::memcpy(out.buf, bytes, OUTPUT_BYTES);
        bytes += OUTPUT_BYTES;
        out.held = OUTPUT_BYTES;
        drain(out);
    }
    std::memcpy(out.buf + out.held, bytes, n);
    out.held += n;
}

// Ends the output.  After a failure the whole lines held are still written
// unless the output failed, and part of a line is cut back; a cut-back that
// fails is not reported over the line that already says what went wrong.  A
// failure of the output, its close included, outranks any other.  A stop
// during the close cuts nothing back.  True, with `failure`, when it failed.
bool finish(Output &out, Failure &failure, bool failed)
{
    if (failed && !failure.output_failed) {
        while (out.held > out.held_sent && out.buf[out.held - 1] != '\n') {
            --out.held;
        }
        try {
            drain(out);
        } catch (const Failure &f) {
            failure = f;
        }
    }
    if (failed && out.regular && out.file_bytes != out.file_line_end) {
        (void)cut_back(out.fd, out.file_line_end);
    }
    publish_output(NO_FILE, out.file_line_end);
    if (!close_file(std::exchange(out.fd, NO_FILE)) && !failure.output_failed) {
        failed = true;
        failure = call_failure(Target::OUTPUT);
    }
    return failed;
}
// }==== Output

// {==== Conversion: the header and the records, and how a run ends
// Checks records `record` to `n`, once no line can be written any more, as
// four numbers within range.  A large file spends its time here, so the common
// item (unsplit, far from the range's edge) is scanned with the position in
// locals; any other is left to read_number.
void check_records(Input &in, long long record, long long n)
{
    const unsigned char *p = in.buf + in.pos;
    const unsigned char *unsplit_end = in.buf + in.unsplit_end;
    for (; record <= n; ++record) {
        for (int column = 0; column < 4; ++column) {
            while (is_space(*p)) {
                ++p;
            }
            InBuffer<false> src{p};
            Scan scan;
            if (p < unsplit_end && scan_number(src, scan) && scan.int_digits + scan.exponent <= SAFE_EXPONENT) {
                p = src.p;
                continue;
            }
            in.pos = static_cast<std::size_t>(p - in.buf);
            read_number(in, record);
            p = in.buf + in.pos;
            unsplit_end = in.buf + in.unsplit_end;
        }
    }
    in.pos = static_cast<std::size_t>(p - in.buf);
}
// Most data lines written, and the largest count written on line 2.
constexpr int MAX_RECORDS = 2048;

// Copies one header word to its own output line, streaming it through so
// that a word of any length is copied in full.
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
        put(out, in.buf + start, in.pos - start);
        if (in.pos < in.len || !refill(in)) {
            break;
        }
    }
    put(out, LINE_END, sizeof LINE_END - 1);
}

int read_count(Input &in)
{
    const char *name = "the record count";
    int c = skip_space(in);
    if (c == END) {
        throw missing(in, HEADER, name);
    }
    in.mark = in.pos;
    in.mark_lost = false;
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

void convert(Input &in, Output &out)
{
    copy_word(in, out, "the first header word");
    const int n = read_count(in);
    char line[160];
    char *p = std::to_chars(line, line + sizeof line, std::min(n, MAX_RECORDS)).ptr;
    p = std::copy_n(LINE_END, sizeof LINE_END - 1, p);
    put(out, line, static_cast<std::size_t>(p - line));
    copy_word(in, out, "the second header word");
    copy_word(in, out, "the third header word");

    int written = 0;
    long long record = 1;
    for (; record <= n && written < MAX_RECORDS; ++record) {
        const float c1 = read_number(in, record);
        const float c2 = read_number(in, record);
        // The last two columns are read, and must be valid, but are not used.
        read_number(in, record);
        read_number(in, record);
        const double x = static_cast<double>(c1) * 0.2 - 360.0;
        const double y = static_cast<double>(c2) * 1e-6;
        if (x >= -200.0) {
            // to_chars gives the digits of "%f", whatever the locale.
            p = std::to_chars(line, line + sizeof line, x, std::chars_format::fixed, 6).ptr;
            *p++ = ' ';
            p = std::to_chars(p, line + sizeof line, y, std::chars_format::fixed, 6).ptr;
            p = std::copy_n(LINE_END, sizeof LINE_END - 1, p);
            put(out, line, static_cast<std::size_t>(p - line));
            ++written;
        }
    }
    // Once the last line that may be written is out, no value can change
    // the output any more, but every record must still be valid; the lines
    // go out first, so that a stop while the rest is checked keeps them all.
    drain(out);
    check_records(in, record, n);
}

// The conversion from start to end; true, with `failure` saying why, when it failed.
bool convert_files(Failure &failure)
{
    // malloc, not new, and no throw when it fails: a thrown Failure needs
    // memory too, from the pool the runtime keeps for exceptions, and a heap
    // exhausted from the start may have left the runtime without that pool.
    // Later failures find it.  Two blocks, not one: reads into a block large
    // enough to get a mapping of its own took several times as long.
    Input in;
    Output out;
    in.buf = static_cast<unsigned char *>(std::malloc(BUFFER_BYTES + 1));
    out.buf = static_cast<unsigned char *>(std::malloc(OUTPUT_BYTES));
    if (in.buf == nullptr || out.buf == nullptr) {
        failure = program_failure("out of memory");
        return true;
    }
    try {
        check_stop();
        in.fd = open_input();
        if (in.fd == NO_FILE) {
            throw call_failure(Target::INPUT);
        }
        // Read the first chunk before the output is opened, so that an
        // input that opens but cannot be read (a directory, say) leaves
        // "smooth2.txt" as it was.
        refill(in);
        open_checked_output(in, out);
        in.out = &out;
        convert(in, out);
    } catch (const Failure &f) {
        failure = f;
        return out.fd == NO_FILE || finish(out, failure, true);
    }
    return finish(out, failure, false);
}
// }==== Conversion

// {==== Arguments: --help, --version, and a warning for any other
constexpr const char *HELP =
    "Usage: smooth_convert [--help] [--version]\n"
    "Reads smooth1.txt in the current directory and writes smooth2.txt beside it:\n"
    "the header's four items one to a line (the count at most 2048), then for each\n"
    "record c1 c2 c3 c4 with x = c1 * 0.2 - 360 >= -200 the line \"x y\" with\n"
    "y = c2 * 1e-6, six decimals each, at most 2048 lines.  Other arguments are\n"
    "ignored, with a warning.  Exit status: 0 when every record was read and every\n"
    "line written; 1 otherwise, with one line on standard error saying why; a run\n"
    "that is stopped says so in one line, then ends by the stopping signal.\n"
    "Full documentation: " DOCUMENTATION "\n";

// --help and --version answer and end the run before any file is touched,
// other arguments unremarked.  Otherwise an argument changes nothing, as
// callers may rely on, but is named.  False when the run ends here.
bool take_arguments(int argc, char **argv, Failure &failure, bool &failed)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0) {
            const char *text = argv[i][2] == 'h' ? HELP : "smooth_convert (" NUMTOOLS_PACKAGE ") " NUMTOOLS_VERSION "\n";
            if (!write_all(1, text, std::strlen(text))) {
                failed = true;
                failure = call_failure(Target::STANDARD_OUTPUT);
            }
            return false;
        }
    }
    for (int i = 1; i < argc && stop_signal == 0; ++i) {
        Failure warning = program_failure("ignoring argument ");
        append_argument(warning, argv[i]);
        append(warning, ": the input is always %s and the output %s, in the current directory", INPUT_NAME,
               OUTPUT_NAME);
        (void)write_failure(warning);
    }
    return true;
}
// }==== Arguments

}  // namespace

// {==== main: the run, its own line, and its end
// Renamed where another program drives the converter (the fuzz harness, the reading check).
#ifndef SMOOTH_CONVERT_ENTRY
#define SMOOTH_CONVERT_ENTRY main
#endif

int SMOOTH_CONVERT_ENTRY(int argc, char **argv)
{
    prepare_process();
    Failure failure;
    bool failed = false;
    if (take_arguments(argc, argv, failure, failed)) {
        failed = convert_files(failure);
    }
    // The run's own line, with the stops open so that one may end a run a
    // full standard error holds: a stop then adds no line.  One noted on
    // Windows but not yet taken replaces it.
    own_line_begun = failed && stop_signal == 0 ? 1 : 0;
    if (own_line_begun != 0) {
        (void)write_failure(failure);
    }
    if (settle_stop() != 0) {
        if (own_line_begun == 0) {
            (void)write_failure(stop_failure());
        }
        end_by_stop_signal(stop_signal);
    }
    return failed ? 1 : 0;
}
// }==== main
