// End-to-end checks of the report, run against the built program.

#include "run_program.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Normally the program built beside these tests; under emulation, the same
// program built for another architecture.
const std::string PROGRAM = testutil::program_under_test("NUMTOOLS_TEST_INTEGRAL_TABLE", INTEGRAL_TABLE_EXE);

std::string fixed6(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}

// Whitespace-separated fields, or with `lines` the lines, of `text`.
std::vector<std::string> split(const std::string &text, bool lines = false)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string f; lines ? static_cast<bool>(std::getline(in, f)) : static_cast<bool>(in >> f);) {
        out.push_back(f);
    }
    return out;
}

// One run of the report, shared by the tests that only read it.
const testutil::RunResult &report()
{
    static const testutil::RunResult run = testutil::run_program(PROGRAM, testutil::TempDir().path());
    return run;
}

const std::vector<std::string> &report_lines()
{
    static const std::vector<std::string> lines = split(testutil::lf_text(report().out), true);
    return lines;
}

const std::string &row(int i) { return report_lines()[3 + i]; }

// Every byte, against the report worked out apart from the program by
// tests/data/integral_table_reference.py: a changed digit anywhere fails.
TEST(Report, MatchesTheIndependentReferenceByteForByte)
{
    const std::string reference = testutil::read_file(REPORT_REFERENCE);
    ASSERT_EQ(reference.size(), 12722u);
    EXPECT_EQ(report().out, testutil::system_text(reference));
}

// A 64 KiB stack, which a report held on the stack overran.
TEST(Report, SameInASmallStack)
{
    SKIP_WHERE(testutil::windows_build(), "Wine sets its own stack");
    const testutil::RunResult small =
        testutil::run_program(PROGRAM, testutil::TempDir().path(), "", testutil::limit("stack", 65536));
    EXPECT_EQ(small.status, 0) << small.err;
    EXPECT_EQ(small.out, report().out);
}

TEST(Report, ExitsZeroWithNothingOnStandardError)
{
    EXPECT_EQ(report().status, 0);
    EXPECT_EQ(report().err, "");
}

TEST(Report, HasTheFixedShape)
{
    ASSERT_EQ(report_lines().size(), 259u);
    EXPECT_EQ(report().out.back(), '\n');
    EXPECT_EQ(report_lines()[0], "");
    EXPECT_EQ(report_lines()[1].rfind(" a,b,c = ", 0), 0u) << report_lines()[1];
    EXPECT_EQ(split(report_lines()[1]).size(), 5u);
    EXPECT_EQ(report_lines()[2], "");
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(row(i).rfind(std::string(" ").append(std::to_string(i)).append("  "), 0), 0u) << row(i);
        EXPECT_EQ(split(row(i)).size(), 5u) << row(i);
    }
}

TEST(Report, FirstRowIsTheLeftEndOfTheGrid)
{
    ASSERT_EQ(report_lines().size(), 259u);
    const double sample = static_cast<float>(std::sin(15.0) / 15.0);
    EXPECT_EQ(row(0), " 0  -15.000000  " + fixed6(sample) + "  " + fixed6(64.0 * 225 + 80.0 / 3.0 * 3375) +
                          "  0.000000");
}

TEST(Report, LastRowIsAtFifteenAndHoldsTheWholeIntegral)
{
    ASSERT_EQ(report_lines().size(), 259u);
    const std::vector<std::string> last = split(row(255));
    EXPECT_EQ(last[1], "15.000000");
    // The integral of sin(t)/t over [-15, 15], by a fine Simpson rule in double precision.
    const int n = 200000;
    const double h = 15.0 / n;
    double si = 0.0;
    for (int k = 0; k < n; k += 2) {
        const auto f = [](double t) { return t == 0.0 ? 1.0 : std::sin(t) / t; };
        si += h / 3.0 * (f(k * h) + 4.0 * f((k + 1) * h) + f((k + 2) * h));
    }
    EXPECT_NEAR(std::stod(last[4]), 2.0 * si, 2e-4);
}

TEST(Report, AbscissaColumnShowsSinglePrecision)
{
    ASSERT_EQ(report_lines().size(), 259u);
    const double t = -15.0 + 3 * (30.0 / 255.0);
    const std::string as_float = fixed6(static_cast<float>(t));
    ASSERT_NE(as_float, fixed6(t)) << "the case no longer tells the two apart";
    EXPECT_EQ(split(row(3))[1], as_float);
}

TEST(ReportWriteErrors, NameTheirRealCauseAndKeepWholeLines)
{
    SKIP_WHERE(testutil::windows_build(), "Windows has no /dev/full and no ulimit");
    testutil::TempDir dir;
    const testutil::Full full = testutil::full_output(dir.path());
    const std::string complete = testutil::run_program(PROGRAM, dir.path()).out;
    const auto report = dir.path() / "report";
    const struct {
        const char *what;
        std::string target;
        std::string setup;
        std::string reason;
    } cases[] = {
        {"full disk", full.target, full.setup, testutil::reason(full.err)},
        {"closed standard output", testutil::CLOSED, "", testutil::reason(EBADF)},
        {"size limit within the report", report.string(), testutil::limit("fsize", 4096), testutil::reason(EFBIG)},
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
    SKIP_WHERE(testutil::windows_build(), "Windows has no ulimit");
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
        {{"it's", "\x01\\\x7f", std::string(3000, 'a')}, complete,
         "integral_table: ignoring argument 'it'\\''s': the program reads nothing and always writes its report to "
         "standard output\nintegral_table: ignoring argument $'\\x01\\\\\\x7f': the program reads nothing and always "
         "writes its report to standard output\nintegral_table: ignoring argument '" + std::string(40, 'a') +
             "'...: the program reads nothing and always writes its report to standard output\n"},
    };
    for (const auto &c : cases) {
        const testutil::RunResult run = testutil::run_program(PROGRAM, dir.path(), "", "", c.arguments);
        EXPECT_EQ(run.status, 0) << c.arguments[0];
        EXPECT_EQ(run.out.substr(0, c.out.size()), c.out) << c.arguments[0];
        EXPECT_EQ(run.err, c.err) << c.arguments[0];
    }
    const testutil::Full full = testutil::full_output(dir.path());
    const testutil::RunResult help = testutil::run_program(PROGRAM, dir.path(), full.target, full.setup, {"--help"});
    EXPECT_EQ(help.status, 1);
    EXPECT_EQ(help.err, "integral_table: write error: " + testutil::reason(full.err) + "\n");
}

// Standard output is a pipe whose reading end is already closed, and the
// caller left SIGPIPE ignored or blocked: the report and --version alike
// must still end the quiet way (Windows has no SIGPIPE, and names the
// reason).  A warning into such a standard error changes nothing.
TEST(ReportWriteErrors, ReaderThatStopsReadingEndsTheRunQuietly)
{
    testutil::TempDir dir;
    const std::string complete = testutil::run_program(PROGRAM, dir.path()).out;
    const bool windows = testutil::windows_build();
    for (const std::vector<std::string> &arguments : {std::vector<std::string>{}, {"--version"}}) {
        for (const bool blocked : {false, true}) {
            testutil::Inherit inherit;
            (blocked ? inherit.blocked : inherit.ignored).push_back(SIGPIPE);
            const testutil::RunResult run = testutil::run_into_gone_reader(PROGRAM, dir.path(), 1, arguments, inherit);
            EXPECT_EQ(run.status, windows ? 1 : 128 + SIGPIPE) << blocked << arguments.size();
            EXPECT_EQ(run.err, windows ? "integral_table: write error: " + testutil::reason(EPIPE) + "\n" : "") << blocked;
        }
    }
    const testutil::RunResult warned = testutil::run_into_gone_reader(PROGRAM, dir.path(), 2, {"extra"});
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.out, complete);
}

// Faults injected by a preloaded library, which reaches only a native,
// dynamically linked program: the same program, linked so.
TEST(InjectedFaults, RunningOutOfMemoryIsReportedNeverAnAbort)
{
    SKIP_WHERE(!testutil::preloadable(INTEGRAL_TABLE_DYNAMIC_EXE), "the fault library does not take effect in this program");
    testutil::TempDir dir;
    const std::string complete = testutil::run_program(INTEGRAL_TABLE_DYNAMIC_EXE, dir.path()).out;
    const auto log = dir.path() / "injected";
    int reported = 0;
    for (int n = 1; n <= 60; ++n) {
        for (const bool later_too : {false, true}) {
            std::filesystem::remove(log);
            const testutil::RunResult run =
                testutil::run_program(INTEGRAL_TABLE_DYNAMIC_EXE, dir.path(), "", testutil::failing_allocation(n, later_too, log));
            const bool failed = run.status != 0;
            EXPECT_EQ(run.out, failed ? "" : complete) << n;
            EXPECT_EQ(run.status, failed ? 1 : 0) << n << (later_too ? " on" : "");
            EXPECT_EQ(run.err, failed ? "integral_table: out of memory\n" : run.err) << n;
            EXPECT_TRUE(!failed || std::filesystem::exists(log)) << n << ": reported, but no failure was injected";
            reported += failed ? 1 : 0;
        }
    }
    // A preload that failed nothing would let every run above pass.
    EXPECT_GE(reported, 4);
}

TEST(InjectedFaults, FailedCloseIsAWriteError)
{
    SKIP_WHERE(!testutil::preloadable(INTEGRAL_TABLE_DYNAMIC_EXE), "the fault library does not take effect in this program");
    testutil::TempDir dir;
    const auto report = dir.path() / "report";
    const testutil::RunResult run =
        testutil::run_program(INTEGRAL_TABLE_DYNAMIC_EXE, dir.path(), report.string(), testutil::failing_close("report"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "integral_table: write error: " + testutil::reason(EIO) + "\n");
}

}  // namespace
