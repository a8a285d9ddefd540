// End-to-end checks of the report, run against the built program.

#include "run_program.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Normally the program built beside these tests; under emulation, the same
// program built for another architecture.
const std::string PROGRAM = testutil::program_under_test("NUMTOOLS_TEST_INTEGRAL_TABLE", INTEGRAL_TABLE_EXE);

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string fixed6(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

std::vector<std::string> fields(const std::string &row)
{
    std::vector<std::string> out;
    std::istringstream in(row);
    for (std::string f; in >> f;) {
        out.push_back(f);
    }
    return out;
}

class Report : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        testutil::TempDir dir;
        run_ = new testutil::RunResult(testutil::run_program(PROGRAM, dir.path()));
        lines_ = new std::vector<std::string>(split_lines(testutil::lf_text(run_->out)));
    }
    static void TearDownTestSuite()
    {
        delete run_;
        delete lines_;
    }
    static const std::string &row(int i) { return (*lines_)[3 + i]; }

    static testutil::RunResult *run_;
    static std::vector<std::string> *lines_;
};

testutil::RunResult *Report::run_ = nullptr;
std::vector<std::string> *Report::lines_ = nullptr;

// Every byte, against the report worked out apart from the program by
// tests/data/integral_table_reference.py: a changed digit anywhere fails.
TEST_F(Report, MatchesTheIndependentReferenceByteForByte)
{
    const std::string reference = testutil::read_file(REPORT_REFERENCE);
    ASSERT_EQ(reference.size(), 12722u);
    EXPECT_EQ(run_->out, testutil::system_text(reference));
}

// A 64 KiB stack, which a report held on the stack overran.
TEST_F(Report, SameInASmallStack)
{
    if (testutil::windows_build()) {
        GTEST_SKIP() << "Wine sets its own stack";
    }
    testutil::TempDir dir;
    const testutil::RunResult small = testutil::run_program(PROGRAM, dir.path(), "", testutil::limit("stack", 65536));
    EXPECT_EQ(small.status, 0) << small.err;
    EXPECT_EQ(small.out, run_->out);
}

TEST_F(Report, ExitsZeroWithNothingOnStandardError)
{
    EXPECT_EQ(run_->status, 0);
    EXPECT_EQ(run_->err, "");
}

TEST_F(Report, HasTheFixedShape)
{
    ASSERT_EQ(lines_->size(), 259u);
    EXPECT_EQ(run_->out.back(), '\n');
    EXPECT_EQ((*lines_)[0], "");
    EXPECT_EQ((*lines_)[1].rfind(" a,b,c = ", 0), 0u) << (*lines_)[1];
    EXPECT_EQ(fields((*lines_)[1]).size(), 5u);
    EXPECT_EQ((*lines_)[2], "");
    for (int i = 0; i < 256; ++i) {
        // Built piecewise: g++ 12 warns falsely on " " + std::string&&.
        std::string prefix(1, ' ');
        prefix += std::to_string(i);
        prefix += "  ";
        EXPECT_EQ(row(i).rfind(prefix, 0), 0u) << row(i);
        EXPECT_EQ(fields(row(i)).size(), 5u) << row(i);
    }
}

TEST_F(Report, FirstRowIsTheLeftEndOfTheGrid)
{
    ASSERT_EQ(lines_->size(), 259u);
    const double sample = static_cast<float>(std::sin(15.0) / 15.0);
    EXPECT_EQ(row(0), " 0  -15.000000  " + fixed6(sample) + "  " + fixed6(64.0 * 225 + 80.0 / 3.0 * 3375) +
                          "  0.000000");
}

TEST_F(Report, LastRowIsAtFifteenAndHoldsTheWholeIntegral)
{
    ASSERT_EQ(lines_->size(), 259u);
    const std::vector<std::string> last = fields(row(255));
    EXPECT_EQ(last[1], "15.000000");
    // Reference value of the integral of sin(t)/t over [-15, 15], from a
    // fine composite Simpson rule in double precision.
    const int n = 200000;
    const double h = 15.0 / n;
    double si = 0.0;
    for (int k = 0; k < n; k += 2) {
        const auto f = [](double t) { return t == 0.0 ? 1.0 : std::sin(t) / t; };
        si += h / 3.0 * (f(k * h) + 4.0 * f((k + 1) * h) + f((k + 2) * h));
    }
    EXPECT_NEAR(std::stod(last[4]), 2.0 * si, 2e-4);
}

TEST_F(Report, AbscissaColumnShowsSinglePrecision)
{
    ASSERT_EQ(lines_->size(), 259u);
    const double t = -15.0 + 3 * (30.0 / 255.0);
    const std::string as_float = fixed6(static_cast<float>(t));
    ASSERT_NE(as_float, fixed6(t)) << "the case no longer tells the two apart";
    EXPECT_EQ(fields(row(3))[1], as_float);
}

TEST(ReportWriteErrors, NameTheirRealCauseAndKeepWholeLines)
{
    if (testutil::windows_build()) {
        GTEST_SKIP() << "Windows has no /dev/full and no ulimit";
    }
    testutil::TempDir dir;
    const std::string complete = testutil::run_program(PROGRAM, dir.path()).out;
    const auto report = dir.path() / "report";
    const struct {
        const char *what;
        std::string target;
        std::string setup;
        std::string reason;
    } cases[] = {
        {"full disk", "/dev/full", "", "No space left on device"},
        {"closed standard output", testutil::CLOSED, "", "Bad file descriptor"},
        {"size limit within the report", report.string(), testutil::limit("fsize", 4096), "File too large"},
    };
    for (const auto &c : cases) {
        const testutil::RunResult run = testutil::run_program(PROGRAM, dir.path(), c.target, c.setup);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.err, "integral_table: write error: " + c.reason + "\n") << c.what;
    }
    // What the size limit let through is the report's first whole lines.
    const std::string part = testutil::read_file(report);
    EXPECT_TRUE(testutil::is_whole_line_prefix(part, complete)) << part;
}

// A file the report shares with others loses nothing of theirs when a size
// limit cuts the report short: only the report's own part of a line is cut,
// never below the file's length at start, and whoever writes next goes on
// right after the report's last whole line.
TEST(ReportWriteErrors, SharedFilesKeepEverythingButTheCutLine)
{
    if (testutil::windows_build()) {
        GTEST_SKIP() << "Windows has no ulimit";
    }
    testutil::TempDir dir;
    const std::string complete = testutil::run_program(PROGRAM, dir.path()).out;
    const std::string whole_lines = complete.substr(0, complete.rfind('\n', 8191) + 1);
    const std::string old(100000, 'o');
    const std::string limited =
        "sh -c " + testutil::quoted(testutil::limit("fsize", 8192) + " && exec \"$0\"") + " " + testutil::quoted(PROGRAM);
    const struct {
        const char *what;
        std::string before;
        std::string command;  // writes the file f
        std::string after;
    } cases[] = {
        {"offset shared with the next command", "", "{ " + limited + "; echo after; } >f", whole_lines + "after\n"},
        {"read-write on a longer file", old, limited + " 1<>f", complete.substr(0, 8192) + old.substr(8192)},
        {"appended to", "kept\n", limited + " >>f", "kept\n" + complete.substr(0, 8192 - 5)},
    };
    for (const auto &c : cases) {
        testutil::write_file(dir.path() / "f", c.before);
        const int status =
            testutil::wait_child(testutil::start_shell("cd " + testutil::quoted(dir.path().string()) + " && " +
                                                       c.command + " 2>/dev/null"));
        EXPECT_NE(status, -1) << c.what;
        EXPECT_EQ(testutil::read_file(dir.path() / "f"), c.after) << c.what;
    }
}

TEST(Arguments, HelpAndVersionAnswerAndOtherArgumentsAreNamed)
{
    testutil::TempDir dir;
    const std::string complete = testutil::run_program(PROGRAM, dir.path()).out;
    const struct {
        std::vector<std::string> arguments;
        std::string out;  // the whole of standard output, or how it starts
        std::string err;
    } cases[] = {
        {{"--help"}, "Usage: integral_table [--help] [--version]\n", ""},
        {{"extra", "--version"}, "integral_table (" NUMTOOLS_PACKAGE ") " NUMTOOLS_VERSION "\n", ""},
        {{"it's", "\x01\\", std::string(3000, 'a')}, complete,
         "integral_table: ignoring argument 'it'\\''s': the program reads nothing and always writes its report to "
         "standard output\nintegral_table: ignoring argument $'\\x01\\\\': the program reads nothing and always "
         "writes its report to standard output\nintegral_table: ignoring argument '" + std::string(40, 'a') +
             "'...: the program reads nothing and always writes its report to standard output\n"},
    };
    for (const auto &c : cases) {
        const testutil::RunResult run = testutil::run_program(PROGRAM, dir.path(), "", "", c.arguments);
        EXPECT_EQ(run.status, 0) << c.arguments[0];
        EXPECT_EQ(run.out.substr(0, c.out.size()), c.out) << c.arguments[0];
        EXPECT_EQ(run.err, c.err) << c.arguments[0];
    }
    const testutil::RunResult full = testutil::run_program(PROGRAM, dir.path(), "/dev/full", "", {"--version"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "integral_table: write error: No space left on device\n");
}

// Standard output is a pipe whose reading end is already closed, and the
// caller left SIGPIPE ignored or blocked: the program must still end the
// quiet way.  Windows has no SIGPIPE, and names the reason.
TEST(ReportWriteErrors, ReaderThatStopsReadingEndsTheRunQuietly)
{
    for (const bool blocked : {false, true}) {
        testutil::TempDir dir;
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        testutil::Inherit inherit;
        (blocked ? inherit.blocked : inherit.ignored).push_back(SIGPIPE);
        inherit.stdout_fd = fds[1];
        const pid_t pid = testutil::start_shell("exec " + testutil::quoted(PROGRAM) + " 2>" +
                                                    testutil::quoted((dir.path() / "stderr").string()), inherit);
        close(fds[1]);
        const int status = testutil::wait_child(pid);
        const bool windows = testutil::windows_build();
        EXPECT_EQ(status, windows ? 1 : 128 + SIGPIPE) << blocked;
        EXPECT_EQ(testutil::read_file(dir.path() / "stderr"), windows ? "integral_table: write error: Broken pipe\n" : "");
    }
}

// Faults injected by a preloaded library, which reaches only a native,
// dynamically linked program.
TEST(InjectedFaults, RunningOutOfMemoryIsReportedNeverAnAbort)
{
    if (!testutil::preloadable()) {
        GTEST_SKIP() << "a preloaded library reaches only a native, unsanitized program";
    }
    testutil::TempDir dir;
    const std::string complete = testutil::run_program(PROGRAM, dir.path()).out;
    const auto log = dir.path() / "injected";
    int reported = 0;
    for (int n = 1; n <= 60; ++n) {
        for (const bool later_too : {false, true}) {
            std::filesystem::remove(log);
            const testutil::RunResult run =
                testutil::run_program(PROGRAM, dir.path(), "", testutil::failing_allocation(n, later_too, log));
            if (run.status == 0) {
                EXPECT_EQ(run.out, complete) << n;
            } else {
                EXPECT_EQ(run.status, 1) << n << (later_too ? " on" : "");
                EXPECT_EQ(run.err, "integral_table: out of memory\n") << n;
                EXPECT_EQ(run.out, "") << n;
                EXPECT_TRUE(std::filesystem::exists(log)) << n << ": reported, but no failure was injected";
                ++reported;
            }
        }
    }
    // A preload that failed nothing would let every run above pass.
    EXPECT_GE(reported, 4);
}

TEST(InjectedFaults, FailedCloseIsAWriteError)
{
    if (!testutil::preloadable()) {
        GTEST_SKIP() << "a preloaded library reaches only a native, unsanitized program";
    }
    testutil::TempDir dir;
    const auto report = dir.path() / "report";
    const testutil::RunResult run =
        testutil::run_program(PROGRAM, dir.path(), report.string(), testutil::failing_close("report"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "integral_table: write error: Input/output error\n");
}

}  // namespace
