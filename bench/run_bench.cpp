// Times smooth_convert against the plain fscanf/fprintf baseline and the
// grammar-only floor on one large generated input, checks that converter
// and baseline wrote the same file, and prints each program's best time,
// throughput and peak memory with the ratios between them.
//
// usage: run_bench CONVERTER BASELINE FLOOR GENERATOR WORKDIR [RUNS]
//
// The programs take turns, so that a change in the machine's speed during
// the run (other work, frequency scaling) touches all alike; each keeps
// its best time and its largest peak.  Peak memory is the child's own,
// from wait4(2), so nothing outside this program is needed to measure it.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Program {
    const char *name;
    std::string path;
    double best_seconds = 1e300;
    long peak_kib = 0;
};

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "run_bench: %s\n", what.c_str());
    std::exit(1);
}

// Runs `path` in the current directory and records its time and peak.
void run_once(Program &p)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        fail("cannot fork");
    }
    if (pid == 0) {
        execl(p.path.c_str(), p.path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        fail("cannot wait for " + p.path);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fail(p.path + " failed on the bench input");
    }
    p.best_seconds = std::min(p.best_seconds, elapsed.count());
    p.peak_kib = std::max(p.peak_kib, usage.ru_maxrss);  // KiB on Linux
}

std::string contents(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 6) {
        fail("usage: run_bench CONVERTER BASELINE FLOOR GENERATOR WORKDIR [RUNS]");
    }
    std::vector<Program> programs = {{"fscanf baseline", argv[2]}, {"grammar floor", argv[3]},
                                      {"smooth_convert", argv[1]}};
    const std::string generator = argv[4];
    const int runs = argc > 6 ? std::atoi(argv[6]) : 5;
    fs::create_directories(argv[5]);
    fs::current_path(argv[5]);

    // Made again whenever the generator has been rebuilt.
    if (!fs::exists("smooth1.txt") || fs::last_write_time(generator) > fs::last_write_time("smooth1.txt")) {
        std::printf("generating %s/smooth1.txt ...\n", argv[5]);
        std::fflush(stdout);
        if (std::system(("'" + generator + "' smooth1.txt").c_str()) != 0) {
            fail("cannot generate the input");
        }
    }
    const double megabytes = static_cast<double>(fs::file_size("smooth1.txt")) / 1e6;
    {  // every program starts from a warm page cache
        std::ifstream warm("smooth1.txt", std::ios::binary);
        std::vector<char> chunk(1 << 20);
        while (warm.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
        }
    }

    for (int i = 0; i < runs; ++i) {
        for (Program &p : programs) {
            fs::remove("smooth2.txt");
            run_once(p);
            if (&p == &programs.front()) {
                fs::rename("smooth2.txt", "baseline-smooth2.txt");
            }
        }
    }
    if (contents("smooth2.txt") != contents("baseline-smooth2.txt")) {
        fail("smooth_convert and the baseline wrote different files");
    }

    std::printf("input: %.1f MB, best of %d alternating runs each, outputs identical\n\n", megabytes, runs);
    std::printf("%-16s %9s %10s %14s\n", "program", "seconds", "MB/s", "peak memory");
    for (const Program &p : programs) {
        std::printf("%-16s %9.3f %10.1f %10.1f MiB\n", p.name, p.best_seconds, megabytes / p.best_seconds,
                    static_cast<double>(p.peak_kib) / 1024.0);
    }
    const double converter = programs[2].best_seconds;
    std::printf("\nsmooth_convert is %.1fx the speed of the baseline\n", programs[0].best_seconds / converter);
    std::printf("smooth_convert takes %.2fx the time of the grammar floor\n", converter / programs[1].best_seconds);
    return 0;
}
