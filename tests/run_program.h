#ifndef TESTS_RUN_PROGRAM_H
#define TESTS_RUN_PROGRAM_H

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// A fresh directory under the system's temporary directory, removed with it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

// What a child inherits besides its command: every signal at its default
// action and none blocked, whatever this process inherited (a suite started
// from a background job has SIGINT ignored), but for these.
struct Inherit {
    std::vector<int> ignored = {};
    std::vector<int> blocked = {};
    int stdout_fd = -1;  // becomes its standard output, where set
    int busy_below = 0;  // descriptors 3 to this one less are open, on /dev/null
};

// Starts `sh -c command` as a child of this process; throws when it cannot.
pid_t start_shell(const std::string &command, const Inherit &inherit = {});

// The child's exit status, or 128 + the signal that ended it; an exit
// status above 128, which a shell shows as such a death, comes back as
// EXITED + status, to tell the two apart.  -1 when it has not ended within
// `seconds` (it is then killed), or is no child.
constexpr int EXITED = 1000;
int wait_child(pid_t pid, int seconds = 300);

struct RunResult {
    int status = -1;  // as wait_child gives it
    std::string out;
    std::string err;
};

// The program to test: the one the environment variable names (a build for
// another system, run under an emulator), else `built`.
std::string program_under_test(const char *variable, const char *built);

// Where the programs under test run, for the tests that cannot run
// everywhere: they skip, and say why.
bool windows_build();  // a Windows build, run under Wine
bool emulated();       // a build for another system, under qemu or Wine
bool sanitized();      // built with the sanitizers
bool preloadable(const std::string &program);  // the fault library takes effect in `program`
bool has_full_device();  // /dev/full, whose writes fail with ENOSPC

// Standard output that takes no more than 512 bytes: /dev/full, or where
// there is none a file under a size limit; `err` is the failure's errno.
struct Full {
    std::string target;
    std::string setup;
    int err = 0;
};
Full full_output(const std::filesystem::path &dir);
#define SKIP_WHERE(condition, why) if (condition) GTEST_SKIP() << (why)  // where a test cannot run

inline const std::string CLOSED = "&-";  // standard output closed, as a `stdout_target`

// Runs `program` with `arguments` in `dir`, standard input from /dev/null,
// standard output sent to `stdout_target` (a file, CLOSED, or captured when
// empty).  `setup` is a shell command run first in the shell that becomes
// the program, to set what it inherits: a limit, an environment variable.
RunResult run_program(const std::string &program, const std::filesystem::path &dir,
                      const std::string &stdout_target = "", const std::string &setup = "",
                      const std::vector<std::string> &arguments = {});

// `setup`s: the n-th heap allocation fails (with `later_too`, every one
// after it as well), each failure adding a byte to `log`; closing the file
// `name` reports an I/O error; every fcntl lock is refused with the error
// `err`; SIGTERM and SIGINT come together at the
// entry of `call` (open, write, close) on the file `name`; the limit
// `resource` (fsize, stack) is `value` bytes, a multiple of 512 or 1024.
std::string failing_allocation(int n, bool later_too, const std::filesystem::path &log);
std::string failing_close(const std::string &name);
std::string failing_lock(int err);
std::string stops_at(const std::string &call, const std::string &name);
std::string limit(const char *resource, long value);

// Runs `program` with `arguments` in `dir`, its standard output (`stream`
// 1) or error (2) a pipe whose reader has gone, the other stream captured.
RunResult run_into_gone_reader(const std::string &program, const std::filesystem::path &dir, int stream,
                               const std::vector<std::string> &arguments = {}, const Inherit &inherit = {});

std::string quoted(const std::string &s);  // for the shell
std::string reason(int err);  // an errno as this C library words it, as the program under test does

// Whether `part` is the complete result's first whole lines and nothing else.
bool is_whole_line_prefix(const std::string &part, const std::string &complete);

// Text as the program under test writes its text files: lines that end in
// LF, or in CR LF for a Windows build.  lf_text undoes it.
std::string system_text(const std::string &text);
std::string lf_text(const std::string &text);

std::string read_file(const std::filesystem::path &file);
void write_file(const std::filesystem::path &file, const std::string &content);

}  // namespace testutil

#endif
