#ifndef TESTS_RUN_PROGRAM_H
#define TESTS_RUN_PROGRAM_H

#include <filesystem>
#include <string>

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

struct RunResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// Runs `program` in `dir` with standard input from /dev/null, standard
// output sent to `stdout_target` (a file name, or empty to capture it).
RunResult run_program(const std::string &program, const std::filesystem::path &dir,
                      const std::string &stdout_target = "");

std::string read_file(const std::filesystem::path &file);
void write_file(const std::filesystem::path &file, const std::string &content);

}  // namespace testutil

#endif
