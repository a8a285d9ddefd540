// Start-up: most users convert many small files, one process each, so what
// counts there is the cost of starting one.  Runs each program N times on
// the bundled example, taking turns with as many runs of /bin/true (the
// cost of starting any process), and prints each one's time per run and
// that time as a multiple of /bin/true's.
//
// usage: startup_bench INTEGRAL_TABLE SMOOTH_CONVERT EXAMPLE WORKDIR [RUNS]

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

extern char **environ;

namespace {

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "startup_bench: %s\n", what.c_str());
    std::exit(1);
}

// Seconds from starting `path`, standard output on /dev/null, to its end.
double run_once(const char *path, posix_spawn_file_actions_t *to_null)
{
    char *argv[] = {const_cast<char *>(path), nullptr};
    pid_t pid = 0;
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, path, to_null, nullptr, argv, environ) != 0 || waitpid(pid, &status, 0) != pid) {
        fail(std::string("cannot run ") + path);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(std::string(path) + " failed on the example");
    }
    return elapsed.count();
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        fail("usage: startup_bench INTEGRAL_TABLE SMOOTH_CONVERT EXAMPLE WORKDIR [RUNS]");
    }
    const int runs = argc > 5 ? std::atoi(argv[5]) : 400;
    const std::string integral_table = std::filesystem::absolute(argv[1]);
    const std::string smooth_convert = std::filesystem::absolute(argv[2]);
    std::filesystem::create_directories(argv[4]);
    std::filesystem::copy_file(argv[3], std::filesystem::path(argv[4]) / "smooth1.txt",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::current_path(argv[4]);
    posix_spawn_file_actions_t to_null;
    posix_spawn_file_actions_init(&to_null);
    posix_spawn_file_actions_addopen(&to_null, 1, "/dev/null", O_WRONLY, 0);

    struct {
        const char *name;
        const char *path;
        double seconds = 0;
    } programs[] = {{"/bin/true", "/bin/true"}, {"integral_table", integral_table.c_str()},
                    {"smooth_convert", smooth_convert.c_str()}};
    for (int i = -runs / 10; i < runs; ++i) {  // a tenth more first, to warm up
        for (auto &p : programs) {
            const double seconds = run_once(p.path, &to_null);
            p.seconds += i >= 0 ? seconds : 0;
        }
    }
    posix_spawn_file_actions_destroy(&to_null);

    std::printf("start-up on the bundled example, %d runs each, taking turns\n\n", runs);
    std::printf("%-16s %12s %14s\n", "program", "ms per run", "x /bin/true");
    for (const auto &p : programs) {
        std::printf("%-16s %12.3f %14.2f\n", p.name, 1e3 * p.seconds / runs, p.seconds / programs[0].seconds);
    }
    return 0;
}
