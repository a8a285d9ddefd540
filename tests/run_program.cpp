#include "run_program.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
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
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string quoted(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
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
    const int raw = std::system(command.c_str());
    RunResult result;
    if (raw != -1 && WIFEXITED(raw)) {
        result.status = WEXITSTATUS(raw);
    } else if (raw != -1 && WIFSIGNALED(raw)) {
        result.status = 128 + WTERMSIG(raw);
    }
    if (stdout_target.empty()) {
        result.out = read_file(out_file);
    }
    result.err = read_file(err_file);
    return result;
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

std::string file_size_limit(long bytes)
{
    // Set on the shell itself, which then becomes the program.
    return "prlimit --pid $$ --fsize=" + std::to_string(bytes);
}

bool is_whole_line_prefix(const std::string &part, const std::string &complete)
{
    return complete.compare(0, part.size(), part) == 0 && (part.empty() || part.back() == '\n');
}

namespace {

std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

const bool CRLF = std::getenv("NUMTOOLS_TEST_CRLF") != nullptr;

}  // namespace

std::string system_text(const std::string &text)
{
    return CRLF ? replace_all(text, "\n", "\r\n") : text;
}

std::string lf_text(const std::string &text)
{
    return CRLF ? replace_all(text, "\r\n", "\n") : text;
}

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
