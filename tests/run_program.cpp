#include "run_program.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testutil {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "numtools-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string quoted(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

pid_t start_shell(const std::string &command, const Inherit &inherit)
{
    const pid_t pid = fork();
    if (pid != 0) {
        return pid > 0 ? pid : throw std::runtime_error(std::string("cannot fork: ") + std::strerror(errno));
    }
    for (int sig = 1; sig < NSIG; ++sig) {
        const bool ignored = std::find(inherit.ignored.begin(), inherit.ignored.end(), sig) != inherit.ignored.end();
        (void)std::signal(sig, ignored ? SIG_IGN : SIG_DFL);
    }
    sigset_t mask;
    sigemptyset(&mask);
    for (const int sig : inherit.blocked) {
        sigaddset(&mask, sig);
    }
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    if (inherit.stdout_fd >= 0) {
        dup2(inherit.stdout_fd, 1);
    }
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, inherit.busy_below));
    setrlimit(RLIMIT_NOFILE, &files);
    for (int fd = 3; fd < inherit.busy_below; ++fd) {
        dup2(open("/dev/null", O_RDONLY), fd);
    }
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
    _exit(127);
}

int wait_child(pid_t pid, int seconds)
{
    int raw = 0;
    for (int tick = 0; pid > 0 && waitpid(pid, &raw, WNOHANG) != pid; ++tick) {
        if (tick == seconds * 1000) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            return -1;
        }
        usleep(1000);
    }
    return pid <= 0               ? -1
           : !WIFEXITED(raw)      ? 128 + WTERMSIG(raw)
           : WEXITSTATUS(raw) > 128 ? EXITED + WEXITSTATUS(raw)
                                  : WEXITSTATUS(raw);
}

RunResult run_program(const std::string &program, const std::filesystem::path &dir,
                      const std::string &stdout_target, const std::string &setup,
                      const std::vector<std::string> &arguments)
{
    TempDir capture;
    const auto out_file = capture.path() / "stdout";
    const auto err_file = capture.path() / "stderr";
    const std::string target = stdout_target == CLOSED ? CLOSED
                               : stdout_target.empty() ? quoted(out_file.string())
                                                       : quoted(stdout_target);
    std::string command = "cd " + quoted(dir.string()) + (setup.empty() ? "" : " && " + setup) + " && exec " +
                          quoted(program);
    for (const std::string &argument : arguments) {
        command.append(" ").append(quoted(argument));
    }
    command += " </dev/null >" + target + " 2>" + quoted(err_file.string());
    const int status = wait_child(start_shell(command));
    return {status, stdout_target.empty() ? read_file(out_file) : "", read_file(err_file)};
}

RunResult run_into_gone_reader(const std::string &program, const std::filesystem::path &dir, int stream,
                               const std::vector<std::string> &arguments, const Inherit &inherit)
{
    int fds[2];
    if (pipe(fds) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    close(fds[0]);
    TempDir capture;
    const auto other = capture.path() / "captured";
    std::string command = "cd " + quoted(dir.string()) + " && exec " + quoted(program);
    for (const std::string &argument : arguments) {
        command.append(" ").append(quoted(argument));
    }
    command += " </dev/null " + std::to_string(stream) + ">&" + std::to_string(fds[1]) + " " +
               std::to_string(3 - stream) + ">" + quoted(other.string());
    const int status = wait_child(start_shell(command, inherit));
    close(fds[1]);
    const std::string captured = read_file(other);
    return {status, stream == 2 ? captured : "", stream == 1 ? captured : ""};
}

std::string program_under_test(const char *variable, const char *built)
{
    const char *chosen = std::getenv(variable);
    return chosen != nullptr && *chosen != '\0' ? chosen : built;
}

std::string failing_allocation(int n, bool later_too, const std::filesystem::path &log)
{
    return "export LD_PRELOAD=" + quoted(FAULT_INJECTION_LIB) + (later_too ? " FAIL_ALLOC_FROM=" : " FAIL_ALLOC_AT=") +
           std::to_string(n) + " FAIL_ALLOC_LOG=" + quoted(log.string());
}

std::string failing_close(const std::string &name)
{
    return "export LD_PRELOAD=" + quoted(FAULT_INJECTION_LIB) + " FAIL_CLOSE_OF=" + quoted(name);
}

std::string failing_lock(int err)
{
    return "export LD_PRELOAD=" + quoted(FAULT_INJECTION_LIB) + " FAIL_LOCK=" + std::to_string(err);
}

std::string stops_at(const std::string &call, const std::string &name)
{
    return "export LD_PRELOAD=" + quoted(FAULT_INJECTION_LIB) + " STOPS_AT=" + quoted(call + ":" + name);
}

std::string limit(const char *resource, long value)
{
    // The shell's own ulimit sets it (setrlimit) in the shell that then
    // becomes the program: no outside tool, which not every system has.
    // Every sh counts a file's size in 512-byte blocks and a stack in KiB.
    const bool fsize = std::string(resource) == "fsize";
    if (value % (fsize ? 512 : 1024) != 0) {
        throw std::invalid_argument("a limit ulimit cannot express: " + std::to_string(value));
    }
    return (fsize ? "ulimit -f " : "ulimit -s ") + std::to_string(value / (fsize ? 512 : 1024));
}

std::string reason(int err) { return std::strerror(err); }

bool has_full_device()
{
    const int fd = open("/dev/full", O_WRONLY);
    const bool full = fd >= 0 && write(fd, "x", 1) < 0 && errno == ENOSPC;
    (void)(fd < 0 || close(fd));
    return full;
}

Full full_output(const std::filesystem::path &dir)
{
    return has_full_device() ? Full{"/dev/full", "", ENOSPC} : Full{(dir / "full").string(), limit("fsize", 512), EFBIG};
}

bool windows_build() { return std::getenv("NUMTOOLS_TEST_CRLF") != nullptr; }

bool emulated()
{
    return std::getenv("NUMTOOLS_TEST_SMOOTH_CONVERT") != nullptr || std::getenv("NUMTOOLS_TEST_INTEGRAL_TABLE") != nullptr;
}

bool sanitized()
{
#ifdef NUMTOOLS_SANITIZED
    return true;
#else
    return false;
#endif
}

bool preloadable(const std::string &program)
{
    // Whether the library really loads into `program`: a static program or
    // a system without preloading never loads it; under an emulator it
    // would load into the emulator, not the program; a sanitized program's
    // allocator cannot be replaced.
    if (*FAULT_INJECTION_LIB == '\0' || emulated() || sanitized()) {
        return false;
    }
    TempDir dir;
    const std::filesystem::path probe = dir.path() / "loaded";
    run_program(program, dir.path(), "", "export LD_PRELOAD=" + quoted(FAULT_INJECTION_LIB) + " FAULT_PROBE=" +
                quoted(probe.string()), {"--version"});
    return std::filesystem::exists(probe);
}

bool is_whole_line_prefix(const std::string &part, const std::string &complete)
{
    return complete.compare(0, part.size(), part) == 0 && (part.empty() || part.back() == '\n');
}

static std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string system_text(const std::string &text) { return windows_build() ? replace_all(text, "\n", "\r\n") : text; }
std::string lf_text(const std::string &text) { return windows_build() ? replace_all(text, "\r\n", "\n") : text; }

std::string read_file(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::filesystem::path &file, const std::string &content)
{
    std::ofstream out(file, std::ios::binary);
    out << content;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

}  // namespace testutil
