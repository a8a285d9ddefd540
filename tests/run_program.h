#ifndef TESTS_RUN_PROGRAM_H
#define TESTS_RUN_PROGRAM_H

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testutil {

// A fresh directory under the system's temporary directory, removed again
// when the object goes away.
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
    std::vector<int> ignored;
    std::vector<int> blocked;
    int stdout_fd = -1;  // becomes its standard output, where set
};

// Starts `sh -c command` as a child of this process.
pid_t start_shell(const std::string &command, const Inherit &inherit = {});

// The child's exit status, or 128 + the signal that ended it; -1 when it
// has not ended within `seconds` (it is then killed).
int wait_child(pid_t pid, int seconds = 600);

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// The program to test: the one named by the environment variable, if set
// (a build for another system, run under an emulator), else `built`.
std::string program_under_test(const char *variable, const char *built);

// Where the programs under test run, for the tests that cannot run there,
// which skip and say why.
bool windows_build();  // a Windows build, run under Wine
bool emulated();       // a build for another system, under qemu or Wine
bool preloadable();    // a native, dynamically linked, unsanitized build

// Standard output closed, as a `stdout_target`.
inline const std::string CLOSED = "&-";

// Runs `program` in `dir` with standard input from /dev/null, standard
// output sent to `stdout_target` (a file name, CLOSED, or empty to capture
// it), with `arguments`.  `setup`, if given, is a shell command run first in
// the shell that then becomes the program, to set what the program
// inherits: a limit, an environment variable.
RunResult run_program(const std::string &program, const std::filesystem::path &dir,
                      const std::string &stdout_target = "", const std::string &setup = "",
                      const std::vector<std::string> &arguments = {});

// A `setup` that makes the program's n-th heap allocation fail, and with
// `later_too` every one after it as well; each failure it injects adds a
// byte to `log`.
std::string failing_allocation(int n, bool later_too, const std::filesystem::path &log);

// A `setup` that makes closing the file `name` report an I/O error, or with
// `stops`, succeed with SIGINT and then SIGTERM raised as it closes.
std::string failing_close(const std::string &name, bool stops = false);

// A `setup` that sets the limit `resource` of prlimit(1) (fsize, stack).
std::string limit(const char *resource, long value);

// `s` quoted for the shell.
std::string quoted(const std::string &s);

// Whether `part` is the complete result's first whole lines and nothing else.
bool is_whole_line_prefix(const std::string &part, const std::string &complete);

// Text as the program under test writes its text files (smooth2.txt, the
// report): lines that end in LF, or in CR LF for a Windows build.  lf_text
// undoes it.
std::string system_text(const std::string &text);
std::string lf_text(const std::string &text);

std::string read_file(const std::filesystem::path &file);
void write_file(const std::filesystem::path &file, const std::string &content);

}  // namespace testutil

#endif
