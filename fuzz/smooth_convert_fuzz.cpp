// libFuzzer harness for the converter.  The converter's own source is
// compiled into this target with its entry point renamed, so every input
// goes through the real read-and-write path: it is written to smooth1.txt
// in a private directory, the converter runs, and what it left behind is
// checked against the plain model of the same rules in smooth_convert_model.h:
//   - the exit status is 0 or 1, and with 1 standard error holds exactly
//     one line, naming the line and the item where reading stopped;
//   - smooth2.txt is exactly what the model writes: only records read in
//     full, never more than 2048 data lines;
// and the sanitizers catch any access outside a buffer.
//
// The harness works in a directory of its own, so give libFuzzer absolute
// paths for corpora and artifacts.

#include "smooth_convert_model.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>

int smooth_convert_main(int argc, char **argv);

namespace {

std::string slurp(const char *name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

[[noreturn]] void finding(const std::string &what, const std::string &got, const std::string &want)
{
    std::fprintf(stderr, "\nFINDING: %s\n--- converter ---\n%s\n--- model ---\n%s\n", what.c_str(), got.c_str(),
                 want.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char dir[] = "/tmp/smooth-fuzz-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        std::perror("smooth_convert_fuzz: temporary directory");
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    {
        std::ofstream out("smooth1.txt", std::ios::binary | std::ios::trunc);
        out << input;
    }
    std::remove("smooth2.txt");

    std::fflush(stderr);
    const int saved_stderr = dup(2);
    const int capture = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(capture, 2);
    close(capture);
    char name[] = "smooth_convert";
    char *argv[] = {name, nullptr};
    // A run ends by holding the stops, as a process that is about to exit
    // may; this one goes on, and Ctrl-C must still reach it.
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    const int status = smooth_convert_main(1, argv);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    std::fflush(stderr);
    dup2(saved_stderr, 2);
    close(saved_stderr);

    const std::string err = slurp("stderr.txt");
    const std::string output = slurp("smooth2.txt");
    const Expected want = Model(input).run();

    if (status != want.status) {
        finding("exit status " + std::to_string(status), err, "exit status " + std::to_string(want.status));
    }
    if (output != want.output) {
        finding("smooth2.txt differs", output, want.output);
    }
    if (status == 0 && !err.empty()) {
        finding("success with a message", err, "");
    }
    if (status == 1) {
        if (err.empty() || err.back() != '\n' || err.find('\n') != err.size() - 1) {
            finding("not exactly one line on standard error", err, want.message_start);
        }
        if (err.compare(0, want.message_start.size(), want.message_start) != 0) {
            finding("diagnostic names another place", err, want.message_start);
        }
    }
    std::size_t lines = 0;
    for (const char c : output) {
        lines += c == '\n';
    }
    if (lines > 4 + 2048) {
        finding("more than 2048 data lines", std::to_string(lines - 4), "2048");
    }
    return 0;
}
