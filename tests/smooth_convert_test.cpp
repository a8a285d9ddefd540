// End-to-end checks of the converter: each case writes a small smooth1.txt
// into a fresh directory, runs the program there and looks at smooth2.txt,
// standard error and the exit status, on two builds: the normal one, and one
// that reads seven bytes at a time, so that every number here is split
// across a chunk boundary somewhere and must parse as if it were not.

#include "run_program.h"
#include "smooth_convert_model.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The two builds under test: normally the ones built beside these tests, and
// under emulation the same programs built for another system.
const std::string CONVERTER = testutil::program_under_test("NUMTOOLS_TEST_SMOOTH_CONVERT", SMOOTH_CONVERT_EXE);
const std::string TINY_CONVERTER =
    testutil::program_under_test("NUMTOOLS_TEST_SMOOTH_CONVERT_TINY", SMOOTH_CONVERT_TINY_CHUNK_EXE);

struct Conversion {
    int status = -1;
    std::string err;
    bool output_exists = false;
    std::string output;
};

Conversion convert_in(const std::string &program, const fs::path &dir, const std::string &setup = "",
                      const std::vector<std::string> &arguments = {})
{
    const testutil::RunResult run = testutil::run_program(program, dir, "", setup, arguments);
    const fs::path output = dir / "smooth2.txt";
    return {run.status, run.err, fs::exists(output), fs::is_regular_file(output) ? testutil::read_file(output) : ""};
}

// A fresh folder holding `input` as smooth1.txt.
struct Folder {
    testutil::TempDir dir;
    explicit Folder(const std::string &input) { testutil::write_file(path() / "smooth1.txt", input); }
    const fs::path &path() const { return dir.path(); }
};

Conversion convert(const std::string &program, const std::string &input, const std::string &setup = "",
                   const std::vector<std::string> &arguments = {})
{
    const Folder folder(input);
    return convert_in(program, folder.path(), setup, arguments);
}

// The expected data line for a record, worked out independently of the
// program: the C library's correctly rounded decimal-to-float conversion
// and its "%f" formatting.
std::string expected_line(const std::string &c1, const std::string &c2)
{
    const double x = static_cast<double>(std::strtof(c1.c_str(), nullptr)) * 0.2 - 360.0;
    const double y = static_cast<double>(std::strtof(c2.c_str(), nullptr)) * 1e-6;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%f %f\n", x, y);
    return x >= -200.0 ? buf : "";
}

std::string header(const std::string &count) { return "Spectrum\n" + count + "\nnm\ncounts\n"; }

// A header and `n` records, each giving a line of output: 3 for a small
// file, thousands for more than one block of output.
std::string many_records(int n)
{
    std::string text = header(std::to_string(n));
    for (int r = 0; r < n; ++r) {
        text += std::to_string(1000 + r) + " " + std::to_string(r) + ".5 0 0\n";
    }
    return text;
}

std::string repeated(const std::string &text, int times)
{
    std::string all;
    while (times-- > 0) {
        all += text;
    }
    return all;
}

class Converter : public testing::TestWithParam<std::string> {
protected:
    Conversion run(const std::string &input) const { return convert(GetParam(), input); }
};

// A table case: an input, and what the run leaves in smooth2.txt; for an
// input that is refused, the diagnostic too (without the program's name).
struct Case {
    const char *name;
    std::string input;
    std::string output;
    std::string message = {};  // empty for an input that is accepted
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

using CaseOnBuild = testing::TestWithParam<std::tuple<std::string, Case>>;
class ConverterAccepts : public CaseOnBuild {};
class ConverterRejects : public CaseOnBuild {};

void expect_conversion(const CaseOnBuild &test)
{
    const auto &[program, c] = test.GetParam();
    const Conversion got = convert(program, c.input);
    EXPECT_EQ(got.status, c.message.empty() ? 0 : 1) << got.err;
    EXPECT_EQ(got.err, c.message.empty() ? "" : "smooth_convert: " + c.message + "\n");
    EXPECT_EQ(got.output, testutil::system_text(c.output));
}

TEST_P(ConverterAccepts, WritesExactlyTheExpectedFile)
{
    expect_conversion(*this);
}

TEST_P(ConverterRejects, StopsWithOneLineAndKeepsWhatWasWritten)
{
    expect_conversion(*this);
}

const std::string LONG_WORD(1000, 'w');
const std::string S2 = "S\n2\na\nb\n";

const Case GOOD_CASES[] = {
    {"zero_count", "Spectrum 0 nm counts\n900 1 2 3\n", header("0")},
    {"negative_count_reads_no_record", "Spectrum -3 nm counts\nnot numbers at all\n", header("-3")},
    {"smallest_count", "S -2147483648 a b\n", "S\n-2147483648\na\nb\n"},
    {"cut_at_minus_200", "S 4 nm counts\n700 1 0 0\n800 2 0 0\n799.99 3 0 0\n900 5 0 0\n",
     "S\n4\nnm\ncounts\n" + expected_line("800", "2") + "-180.000000 0.000005\n"},
    {"single_precision_first", "S 1 a b\n800.1 1 0 0\n", "S\n1\na\nb\n" + expected_line("800.1", "1")},
    {"product_not_quotient", "S 1 a b\n900 2.5 0 0\n", "S\n1\na\nb\n-180.000000 0.000002\n"},
    {"small_y_keeps_its_sign", "S 3 a b\n900 0.5 0 0\n900 -0.3 0 0\n900 -1e-60 0 0\n",
     "S\n3\na\nb\n-180.000000 0.000000\n-180.000000 -0.000000\n-180.000000 -0.000000\n"},
    {"crlf_and_other_white_space", "S\r\n2\r\na\tb\r\n900\v1\f2 3\r\n1000 \t 2 \r\n 3 4\r\n",
     "S\n2\na\nb\n" + expected_line("900", "1") + expected_line("1000", "2")},
    {"numbers_run_together", "S 3 a b\n900-1-2-3\n9e2.5.5.5\n1e3-2e0+0-0\n",
     "S\n3\na\nb\n" + expected_line("900", "-1") + expected_line("9e2", ".5") + expected_line("1e3", "-2")},
    {"exponent_forms", "S 4 a b\n9E+2 1e-0 0 0\n90000e-2 +.5E1 0 0\n9.e2 5.E+000 0 0\n0009e0002 -0e99 0 0\n",
     "S\n4\na\nb\n" + expected_line("900", "1") + expected_line("900", "5") + expected_line("900", "5") +
         expected_line("900", "-0")},
    {"count_forms", "S +007 a b\n1 1 1 1\n2 2 2 2\n3 3 3 3\n4 4 4 4\n5 5 5 5\n6 6 6 6\n7 7 7 7\n", "S\n7\na\nb\n"},
    {"long_header_words", LONG_WORD + " 0 " + LONG_WORD + "x " + LONG_WORD + "y",
     LONG_WORD + "\n0\n" + LONG_WORD + "x\n" + LONG_WORD + "y\n"},
    {"count_stops_at_a_point", "S 0.5 b\n", "S\n0\n.5\nb\n"},
    {"text_after_the_last_record_is_ignored", "S 1 a b\n900 1 2 3 garbage 1e99999 \x01",
     "S\n1\na\nb\n" + expected_line("900", "1")},
    // 1000 + 2^-15 lies halfway between two floats and rounds to the even
    // one, 1000, unless a non-zero digit follows, however far out.
    {"ties_decided_far_out", "S 2 a b\n1000.000030517578125" + std::string(250, '0') + " 1 0 0\n1000.000030517578125" +
         std::string(250, '0') + "1 1 0 0\n",
     "S\n2\na\nb\n-160.000000 0.000001\n" + expected_line("1000.000030517578125" + std::string(250, '0') + "1", "1")},
    {"largest_and_smallest_values",
     "S 3 a b\n3.4028235677973366e38 -3.4028234e38 1e-50 -1e-46\n1e-45 1.4e-45 7e-46 0\n1100 1.1754942e-38 0 0\n",
     "S\n3\na\nb\n" + expected_line("3.4028235677973366e38", "-3.4028234e38") + expected_line("1e-45", "1.4e-45") +
         expected_line("1100", "1.1754942e-38")},
};

const Case BAD_CASES[] = {
    {"empty_file", "", "", "smooth1.txt:1: header: expected the first header word, found end of file"},
    {"white_space_only", "\n\n \n", "", "smooth1.txt:3: header: expected the first header word, found end of file"},
    {"no_count", "Spectrum\n", "Spectrum\n", "smooth1.txt:1: header: expected the record count, found end of file"},
    {"title_with_a_space", "My Title 3 a b\n", "My\n",
     "smooth1.txt:1: header: expected the record count, found \"Title\""},
    {"count_sign_alone", "S + 3 a b\n", "S\n", "smooth1.txt:1: header: expected the record count, found \"+\""},
    {"count_too_large", "S\n2147483648 a b\n", "S\n",
     "smooth1.txt:2: header: expected a record count within the signed 32-bit range, found \"2147483648\""},
    {"count_far_too_small", "S -99999999999999999999999 a b\n", "S\n",
     "smooth1.txt:1: header: expected a record count within the signed 32-bit range, found "
     "\"-99999999999999999999999\""},
    {"count_just_too_small", "S -2147483649 a b\n", "S\n",
     "smooth1.txt:1: header: expected a record count within the signed 32-bit range, found \"-2147483649\""},
    {"no_third_word", "S 2 a", "S\n2\na\n", "smooth1.txt:1: header: expected the third header word, found end of file"},
    {"records_end_early", "S 2 a b\n900 1 2 3\n900 1 2\n", S2 + "-180.000000 0.000001\n",
     "smooth1.txt:3: record 2: expected a number, found end of file"},
    {"huge_count_over_a_short_file", "S 2147483647 a b\n900 1 2 3\n", "S\n2048\na\nb\n-180.000000 0.000001\n",
     "smooth1.txt:2: record 2: expected a number, found end of file"},
    {"word_for_a_number", "S 2 a b\n900 1 2 3\n\n900 abc 2 3\n", S2 + "-180.000000 0.000001\n",
     "smooth1.txt:4: record 2: expected a number, found \"abc\""},
    {"exponent_without_digits", "S 2 a b\n900 1.5e+x 2 3\n", S2,
     "smooth1.txt:2: record 1: expected a number, found \"e+x\""},
    {"bare_exponent_mark", "S 2 a b\n900 5e 2 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \"e\""},
    {"lone_point", "S 2 a b\n. 1 2 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \".\""},
    {"lone_minus", "S 2 a b\n900 - 2 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \"-\""},
    {"sign_and_point", "S 2 a b\n900 1 +.x 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \"+.x\""},
    {"infinity", "S 2 a b\ninf 1 2 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \"inf\""},
    {"not_a_number", "S 2 a b\n900 nan 2 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \"nan\""},
    {"hexadecimal", "S 2 a b\n0x384 1 2 3\n", S2, "smooth1.txt:2: record 1: expected a number, found \"x384\""},
    {"beyond_single_precision", "S 2 a b\n900 1 2 3\n900 1 3.40282356779733661637539395458142568448e38 3\n",
     S2 + "-180.000000 0.000001\n",
     "smooth1.txt:3: record 2: expected a number within single-precision range, found "
     "\"3.40282356779733661637539395458142568448\"..."},
    {"huge_exponent", "S 2 a b\n900 1 2 -1e99999999999999999999\n", S2,
     "smooth1.txt:2: record 1: expected a number within single-precision range, found \"-1e99999999999999999999\""},
    {"long_number_beyond_range", "S 2 a b\n900 1 2 1" + std::string(100, '0') + "\n", S2,
     "smooth1.txt:2: record 1: expected a number within single-precision range, found \"1" + std::string(39, '0') +
         "\"..."},
    {"long_number_then_exponent_without_digits", "S 2 a b\n900 0." + std::string(90, '7') + "e+x 2 3\n", S2,
     "smooth1.txt:2: record 1: expected a number, found \"e+x\""},
    {"control_bytes_are_escaped", "S 2 a b\n900 \x01\"\\\xff 2 3\n", S2,
     "smooth1.txt:2: record 1: expected a number, found \"\\x01\\\"\\\\\\xff\""},
    {"long_word_is_cut_short", "S 2 a b\n900 " + std::string(100, 'z') + "\n", S2,
     "smooth1.txt:2: record 1: expected a number, found \"" + std::string(40, 'z') + "\"..."},
};

// Every case on both builds, named as the case, marked on the tiny-chunk build.
const auto BUILDS = testing::Values(CONVERTER, TINY_CONVERTER);
const auto CASE_NAME = [](const auto &info) {
    return std::string(std::get<1>(info.param).name) + (std::get<0>(info.param) == CONVERTER ? "" : "_tiny_chunks");
};
INSTANTIATE_TEST_SUITE_P(Cases, ConverterAccepts, testing::Combine(BUILDS, testing::ValuesIn(GOOD_CASES)), CASE_NAME);
INSTANTIATE_TEST_SUITE_P(Cases, ConverterRejects, testing::Combine(BUILDS, testing::ValuesIn(BAD_CASES)), CASE_NAME);

// n random decimal digits, the first of them not 0 when `leading`.
std::string random_digits(std::mt19937_64 &rng, std::size_t n, bool leading = false)
{
    std::string s;
    while (s.size() < n) {
        s += static_cast<char>(s.empty() && leading ? '1' + rng() % 9 : '0' + rng() % 10);
    }
    return s;
}

TEST_P(Converter, NumbersOfEveryLengthRoundCorrectly)
{
    // Long mantissas, many leading zeros and exponents that cancel them:
    // the nearest single-precision value must come out whatever the length.
    std::mt19937_64 rng(20261208);
    std::string input;
    std::string output;
    const int records = 600;
    for (int r = 0; r < records; ++r) {
        const auto digits = [&](std::size_t n) { return random_digits(rng, n); };
        // c1 from 1000 to 9999.x, written in one of several shapes.
        const std::string whole = std::to_string(1000 + rng() % 9000);
        std::string c1;
        switch (rng() % 4) {
        case 0:
            c1 = whole + "." + digits(rng() % 300);
            break;
        case 1:
            c1 = "+0." + std::string(rng() % 200, '0');
            c1 += whole + digits(rng() % 50) + "E+" + std::to_string(c1.size() - 3 + 4);
            break;
        case 2:
            c1 = std::string(rng() % 100, '0') + whole + digits(rng() % 20) + "e-" + std::to_string(rng() % 20);
            break;
        default:
            // Next to a tie: the digits that decide it lie far out.
            c1 = whole + "." + digits(120) + "5" + std::string(rng() % 100, '0') + digits(rng() % 2);
            break;
        }
        // c2 anywhere from about 1e-46 to 1e37, past both ends of the normal range.
        const std::size_t int_digits = 1 + rng() % 60;
        const long long exp10 = static_cast<long long>(rng() % 83) - 46 - static_cast<long long>(int_digits);
        std::string c2 = rng() % 2 ? "-" : "";
        c2 += digits(int_digits) + "." + digits(rng() % 60) + "e" + std::to_string(exp10);
        input += c1 + " " + c2 + " " + digits(1 + rng() % 30) + " -" + digits(5) + "\n";
        output += expected_line(c1, c2);
    }
    const Conversion got = run("Random " + std::to_string(records) + " a b\n" + input);
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.output, testutil::system_text("Random\n" + std::to_string(records) + "\na\nb\n" + output));
}

TEST_P(Converter, ShortNumbersRoundCorrectly)
{
    // Up to 19 significant digits at every scale where the printed digits
    // show the float: c1 from 800 up, c2 from 2^24 up.  The listed ones sit
    // on or next to points halfway between two single-precision values.
    std::vector<std::pair<std::string, std::string>> records = {
        {"16777217", "16777217"},           {"16777219", "33554434"},
        {"16777217.0000001", "16777216.99999999999"}, {"1000.000030517578125", "3.4028235e38"},
        {"1000.0000305175781", "1.6777217e7"},  {"1000.0000305175782", "167772170000e-4"},
    };
    std::mt19937_64 rng(7);
    // Sixteen-digit neighbours of halfway points: their nearest double is
    // often the halfway point itself, which must not decide the rounding.
    auto near_halfway = [&](double lo, double hi) {
        const double t = static_cast<double>(rng() % 1000000) / 1e6;
        const auto f = static_cast<float>(lo * std::pow(hi / lo, t));
        const double halfway = (static_cast<double>(f) + static_cast<double>(std::nextafter(f, INFINITY))) / 2;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15e", halfway);
        return std::string(buf);
    };
    while (records.size() < 1000) {
        records.emplace_back(near_halfway(800, 1e7), near_halfway(16777216, 1e38));
    }
    while (records.size() < 2000) {
        auto short_number = [&](int min_exp10, int max_exp10) {
            const std::string digits = random_digits(rng, 1 + rng() % 19, true);
            const int exp10 = min_exp10 + static_cast<int>(rng() % static_cast<unsigned>(max_exp10 - min_exp10));
            // Place the point so that the value is about 10^exp10.
            const int point = static_cast<int>(rng() % (digits.size() + 1));
            return digits.substr(0, point) + "." + digits.substr(point) + "e" + std::to_string(exp10 - point + 1);
        };
        records.emplace_back(short_number(3, 9), short_number(8, 38));
    }
    std::string input = "S " + std::to_string(records.size()) + " a b\n";
    std::string output = "S\n" + std::to_string(records.size()) + "\na\nb\n";
    for (const auto &[c1, c2] : records) {
        input += c1 + " " + c2 + " 0 0\n";
        output += expected_line(c1, c2);
    }
    const Conversion got = run(input);
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.output, testutil::system_text(output));
}

TEST_P(Converter, AtMost2048LinesButEveryRecordIsRead)
{
    std::string records;
    std::string lines;
    for (int r = 0; r < 2100; ++r) {
        records += std::to_string(1000 + r) + " " + std::to_string(r) + " 0 0\n";
        if (r < 2048) {
            lines += expected_line(std::to_string(1000 + r), std::to_string(r));
        }
    }
    const Conversion full = run("S 2100 a b\n" + records);
    EXPECT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.output, testutil::system_text("S\n2048\na\nb\n" + lines));

    // A bad record past the 2048th written line is still found.
    const Conversion bad = run("S 2101 a b\n" + records + "900 1 2 x\n");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "smooth_convert: smooth1.txt:2102: record 2101: expected a number, found \"x\"\n");
    EXPECT_EQ(bad.output, testutil::system_text("S\n2048\na\nb\n" + lines));
}

TEST_P(Converter, RecordsPastTheLastWrittenLineAreCheckedAlike)
{
    // Past the 2048th line the rest is only checked, by a reader that must agree with the first.
    const std::string full = "S 2049 a b\n" + repeated("900 1 2 3\n", 2048);
    const std::string zeros(300, '0');
    const struct {
        std::string item;
        std::string problem;  // empty when the item is a good number
    } cases[] = {
        {"3.4028234e38", ""},
        {"-0.000" + zeros + "1e300", ""},
        {zeros + "1e-260", ""},
        {"1" + zeros + "e-300", ""},
        {"1e-99999999999", ""},
        {"3.4028236e38", "expected a number within single-precision range, found \"3.4028236e38\""},
        {"1" + std::string(39, '0'),
         "expected a number within single-precision range, found \"1" + std::string(39, '0') + "\""},
        {zeros + "1e39", "expected a number within single-precision range, found \"" + std::string(40, '0') + "\"..."},
        {"5e", "expected a number, found \"e\""},
        {"5.E+x", "expected a number, found \"E+x\""},
        {"+.", "expected a number, found \"+.\""},
    };
    for (const auto &c : cases) {
        const Conversion got = run(full + "900 1 " + c.item + " 3\n");
        EXPECT_EQ(got.status, c.problem.empty() ? 0 : 1) << c.item;
        EXPECT_EQ(got.err, c.problem.empty() ? "" : "smooth_convert: smooth1.txt:2050: record 2049: " + c.problem + "\n")
            << c.item;
        EXPECT_EQ(testutil::lf_text(got.output).size(), std::string("S\n2048\na\nb\n").size() + 2048 * 21) << c.item;
    }
}

// Polls until `done` holds, for 20 seconds at most.
template <class Done>
void wait_until(Done done)
{
    for (int tick = 0; tick < 20000 && !done(); ++tick) {
        usleep(1000);
    }
}

// A converter started in `dir`, its arguments and standard error as `tail`
// says (dir/stderr unless told), with `fifo` (smooth1.txt or smooth2.txt)
// made a FIFO and the signals the caller left ignored or blocked; `fd` is
// this end of the FIFO, open once the converter has opened the other, which
// it waits for 0.3 s when `late`.
struct Spawned {
    pid_t pid = -1;
    int fd = -1;
};

Spawned spawn_on_fifo(const std::string &program, const fs::path &dir, const char *fifo,
                      const testutil::Inherit &inherit = {}, const std::string &tail = "2>stderr", bool late = false)
{
    if (mkfifo((dir / fifo).c_str(), 0600) != 0) {
        return {};
    }
    const pid_t pid = testutil::start_shell(
        "cd " + testutil::quoted(dir.string()) + " && exec " + testutil::quoted(program) + " " + tail, inherit);
    const int flags = std::string(fifo) == "smooth1.txt" ? O_WRONLY : O_RDONLY;
    int fd = late ? (usleep(300000), -1) : open((dir / fifo).c_str(), flags);
    wait_until([&] { return fd >= 0 || (fd = open((dir / fifo).c_str(), flags | O_NONBLOCK)) >= 0; });
    (void)(fd < 0 || fcntl(fd, F_SETFL, 0));
    return {pid, fd};
}

// A mantissa of 2^30 digits, fed through a FIFO so that nothing is stored, must not cancel an exponent of 10^10,
// whether the record is converted or only checked (past the 2048th line).  The tiny-chunk build would take minutes.
TEST(HugeNumbers, BillionDigitMantissasDoNotCancelTheExponent)
{
    SKIP_WHERE(testutil::emulated(), "a gigabyte read under an emulator takes minutes");
    const auto old_action = std::signal(SIGPIPE, SIG_IGN);  // a converter that stops early must not end this test
    const std::string full_output = repeated("900 1 2 3\n", 2048);
    const struct {
        std::string before;
        char fill;
        std::string after;
        bool refused;  // as out of range; otherwise read as 0
        std::string message;
    } cases[] = {{"0.", '0', "1e10000000000", true,
                  "expected a number within single-precision range, found \"0." + std::string(38, '0') + "\"...\n"},
                 {"1", '0', "e-10000000000", false, ""}};
    for (const bool checked_only : {false, true}) {
        for (const auto &c : cases) {
            testutil::TempDir dir;
            const auto [pid, fd] = spawn_on_fifo(CONVERTER, dir.path(), "smooth1.txt");
            ASSERT_GE(fd, 0);
            const std::string block(1 << 20, c.fill);
            const std::string head = (checked_only ? "S 2049 a b\n" + full_output : "S 1 a b\n") + "900 1 2 " + c.before;
            bool fed = write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
            for (int i = 0; i < 1024 && fed; ++i) {
                fed = write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
            }
            fed = fed && write(fd, c.after.data(), c.after.size()) == static_cast<ssize_t>(c.after.size());
            close(fd);
            const int status = testutil::wait_child(pid, 20);
            const std::string err = testutil::read_file(dir.path() / "stderr");
            EXPECT_TRUE(fed) << c.before << c.after;
            EXPECT_EQ(status, c.refused ? 1 : 0) << c.before << c.after << err;
            EXPECT_EQ(err, !c.refused     ? ""
                           : checked_only ? "smooth_convert: smooth1.txt:2050: record 2049: " + c.message
                                          : "smooth_convert: smooth1.txt:2: record 1: " + c.message);
        }
    }
    (void)std::signal(SIGPIPE, old_action);
}

// A directory prepared so that a file cannot be used, and the diagnostic then.
struct FileSetup {
    const char *name;
    void (*prepare)(const fs::path &);
    std::string message;
};

TEST_P(Converter, UnreadableInputLeavesTheOutputAlone)
{
    const FileSetup cases[] = {
        {"missing", [](const fs::path &) {}, "smooth_convert: smooth1.txt: " + testutil::reason(ENOENT) + "\n"},
        {"a directory", [](const fs::path &dir) { fs::create_directory(dir / "smooth1.txt"); },
         "smooth_convert: smooth1.txt: " + testutil::reason(EISDIR) + "\n"},
    };
    for (const FileSetup &c : cases) {
        for (const bool existing : {false, true}) {
            testutil::TempDir dir;
            c.prepare(dir.path());
            testutil::write_file(dir.path() / (existing ? "smooth2.txt" : "elsewhere.txt"), "kept\n");
            const Conversion got = convert_in(GetParam(), dir.path());
            EXPECT_EQ(got.status, 1) << c.name;
            EXPECT_EQ(got.err, c.message) << c.name;
            EXPECT_EQ(got.output_exists, existing) << c.name;
            EXPECT_EQ(got.output, existing ? "kept\n" : "") << c.name;
        }
    }
}

TEST_P(Converter, UnwritableOutputFailsLoudly)
{
    const FileSetup cases[] = {
        {"a directory", [](const fs::path &dir) { fs::create_directory(dir / "smooth2.txt"); },
         "smooth_convert: smooth2.txt: " + testutil::reason(EISDIR) + "\n"},
        {"a full disk", [](const fs::path &dir) { fs::create_symlink("/dev/full", dir / "smooth2.txt"); },
         "smooth_convert: smooth2.txt: " + testutil::reason(ENOSPC) + "\n"},
    };
    for (const FileSetup &c : cases) {
        if (c.message.find(testutil::reason(ENOSPC)) != std::string::npos && !testutil::has_full_device()) {
            std::cout << "[ SKIPPED  ] " << c.name << ": no /dev/full (the file-size limit tests cover a failed write)\n";
            continue;
        }
        for (const std::string &input : {header("1") + "900 1 2 3\n", header("1") + "900 1 2\n", many_records(2000)}) {
            const Folder folder(input);
            c.prepare(folder.path());
            const Conversion got = convert_in(GetParam(), folder.path());
            EXPECT_EQ(got.status, 1) << c.name;
            EXPECT_EQ(got.err, c.message) << c.name;
        }
    }
}

// A folder the user may not write, holding smooth1.txt.  Root may write
// anywhere, so root runs the converter as nobody (under Wine, with a Wine
// prefix of nobody's own).
TEST_P(Converter, FolderTheUserMayNotWriteIsRefusedWithItsReason)
{
    const Folder folder(header("1") + "900 1 2 3\n");
    const testutil::TempDir home;
    const bool root = geteuid() == 0;
    std::vector<std::string> as_user = {"--reuid=65534", "--regid=65534", "--clear-groups", GetParam(), "--version"};
    as_user.erase(as_user.begin(), as_user.begin() + (root ? 0 : 4));
    (void)!chown(home.path().c_str(), 65534, 65534);
    const std::string program = root ? "setpriv" : GetParam();
    const std::string setup = "export HOME=" + testutil::quoted(home.path().string()) + " WINEPREFIX=" +
                              testutil::quoted((home.path() / "wine").string());
    fs::permissions(folder.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const bool can_switch = testutil::run_program(program, folder.path(), "", setup, as_user).status == 0;
    SKIP_WHERE(!can_switch, "cannot run the converter as a user who is not root");
    as_user.pop_back();  // now the run itself, in a folder nobody may write
    fs::permissions(folder.path(), fs::perms::owner_write, fs::perm_options::remove);
    const testutil::RunResult run = testutil::run_program(program, folder.path(), "", setup, as_user);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "smooth_convert: smooth2.txt: " + testutil::reason(EACCES) + "\n");
    EXPECT_FALSE(fs::exists(folder.path() / "smooth2.txt"));
}

TEST_P(Converter, OutputThatIsTheInputIsRefusedAndBothAreKept)
{
    const std::string inputs[] = {many_records(3), many_records(5000)};  // under and over one read
    for (const std::string &input : inputs) {
        for (const bool symbolic : {true, false}) {
            const Folder folder(input);
            const fs::path output = folder.path() / "smooth2.txt";
            symbolic ? fs::create_symlink("smooth1.txt", output) : fs::create_hard_link(folder.path() / "smooth1.txt", output);
            const Conversion got = convert_in(GetParam(), folder.path());
            EXPECT_EQ(got.status, 1) << symbolic << input.size();
            EXPECT_EQ(got.err, "smooth_convert: smooth2.txt: is the same file as smooth1.txt\n");
            EXPECT_EQ(testutil::read_file(folder.path() / "smooth1.txt"), input) << symbolic << input.size();
        }
    }
}

TEST_P(Converter, FileSizeLimitIsReportedAndWholeLinesKept)
{
    // Under Wine the limit falls on the program alone, with its wineserver already running, and SIGXFSZ ignored,
    // which Wine does not do for it; Wine words the reason its own way.
    const bool wine = testutil::windows_build();
    SKIP_WHERE(wine && std::system("command -v wineserver >/dev/null && { wineserver -p 60 </dev/null >/dev/null 2>&1; true; }") != 0, "needs wineserver on PATH");
    const std::string quiet = wine ? "trap '' XFSZ && " : "";
    const std::string too_large = "smooth_convert: smooth2.txt: " + (wine ? "" : testutil::reason(EFBIG) + "\n");
    const std::string input = many_records(2000);
    const std::string complete = run(input).output;
    for (const long limit : {4096L, 10240L}) {
        const Conversion got = convert(GetParam(), input, quiet + testutil::limit("fsize", limit));
        EXPECT_EQ(got.status, 1) << limit;
        EXPECT_EQ(got.err.substr(0, too_large.size()), too_large) << limit;
        const std::string &part = got.output;
        EXPECT_TRUE(testutil::is_whole_line_prefix(part, complete)) << part.size();
        // Only the line the limit cut through is lost.
        EXPECT_GT(part.size(), static_cast<std::size_t>(limit) - 40) << limit;
    }
    // Cut within a header word longer than two output buffers: the lines before it stay, nothing of it.
    const Conversion word = convert(GetParam(), "S 1 " + std::string(300000, 'w'), quiet + testutil::limit("fsize", 140288));
    EXPECT_EQ(word.err.substr(0, too_large.size()), too_large);
    EXPECT_EQ(word.output, testutil::system_text("S\n1\n"));
    (void)(wine && std::system("wineserver -k </dev/null >/dev/null 2>&1"));
}

// Bytes in a pipe not yet read.
int unread(int fd)
{
    int n = -1;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

TEST_P(Converter, StopSignalKeepsWholeLinesAndEndsByTheSignal)
{
    SKIP_WHERE(testutil::windows_build(), "Windows has no signals to send and no FIFOs");
    const std::string all = many_records(4000);
    const std::string complete = run(all).output;
    // Cut mid-record and mid-line, with more than one output block done.
    const std::size_t record_cut = all.size() * 3 / 4 - 3;
    // A signal the caller left ignored (under nohup) or blocked never stops the run, nor does a writer that comes
    // late; an outside SIGALRM ends it by its default action, with no line, whatever the arguments.
    const struct {
        int sig;
        const char *name;
        testutil::Inherit inherit = {};
        std::string tail = "2>stderr";
        bool late = false;
        std::size_t in_header = 0;  // where to cut instead: in the last header word
        bool completes = sig == 0 || !inherit.ignored.empty() || !inherit.blocked.empty();
    } cases[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}, {SIGHUP, "SIGHUP under nohup", {{SIGHUP}}},
                 {SIGINT, "SIGINT blocked by the caller", {{}, {SIGINT}}},
                 {SIGTERM, "SIGTERM", {{}, {}, -1, 1100}},  // the input past any fd_set
                 {SIGINT, "SIGINT", {}, "2>stderr", false, header("4000").size() - 5},
                 {0, "no stop, the writer 0.3 s late", {}, "2>stderr", true},
                 {SIGALRM, "SIGALRM, an argument warned of", {}, "one 2>/dev/null"}};
    for (const auto &c : cases) {
        testutil::TempDir dir;
        const Spawned child = spawn_on_fifo(GetParam(), dir.path(), "smooth1.txt", c.inherit, c.tail, c.late);
        ASSERT_GE(child.fd, 0);
        const std::size_t cut = c.in_header != 0 ? c.in_header : record_cut;
        ASSERT_EQ(write(child.fd, all.data(), cut), static_cast<ssize_t>(cut));
        // The converter has taken it all, has written what it held, and by now waits for more.
        const fs::path out = dir.path() / "smooth2.txt";
        wait_until([&] { return unread(child.fd) == 0 && fs::exists(out) && fs::file_size(out) > 0; });
        usleep(100000);
        kill(child.pid, c.sig);
        if (c.completes) {
            ASSERT_EQ(write(child.fd, all.data() + cut, all.size() - cut), static_cast<ssize_t>(all.size() - cut));
            close(child.fd);  // the end of the input
        }
        const int status = testutil::wait_child(child.pid, 20);
        (void)(c.completes || close(child.fd));
        const std::string output = testutil::read_file(dir.path() / "smooth2.txt");
        const std::string err = testutil::read_file(dir.path() / "stderr");
        if (c.completes) {
            EXPECT_EQ(status, 0) << err;
            EXPECT_EQ(output, complete);
            continue;
        }
        EXPECT_EQ(status, 128 + c.sig) << c.name;
        EXPECT_EQ(err, c.sig == SIGALRM ? "" : std::string("smooth_convert: interrupted by ") + c.name + "\n");
        EXPECT_TRUE(testutil::is_whole_line_prefix(output, complete)) << c.name;
        EXPECT_FALSE(output.empty()) << c.name;
    }
}

// smooth2.txt is a FIFO whose reader stops reading once the pipe is full: one signal must still end the run at once,
// and what the reader gets is a prefix of the complete output, no byte twice.  A reader that leaves is a write error;
// and when standard error is a full pipe nobody reads, the run's line cannot go out, but a stop still ends it.  The
// stop's line waits a while for a full standard error that another process made non-blocking; a late reader, no stop.
TEST_P(Converter, StopSignalEndsARunBlockedOnItsOutput)
{
    SKIP_WHERE(testutil::windows_build(), "Windows has no signals to send and no FIFOs");
#ifndef F_GETPIPE_SZ
    SKIP_WHERE(true, "only Linux tells the size of a pipe (F_GETPIPE_SZ), which says when it is full");
#else
    const std::string input = header("2048") + repeated("1000000e30 5000000e20 0 0\n", 2048);  // 144 KiB of output
    const std::string complete = run(input).output;
    enum Reader { PAUSES, LEAVES, LEAVES_STDERR_FULL, PAUSES_STDERR_FULL, PAUSES_STDERR_DRAINED, LATE };
    const struct {
        const char *what;
        Reader reader;
        int sig;
        int times;
        std::size_t read_first;  // bytes the reader takes before it pauses or leaves
        int busy_below = 0;      // descriptors taken below the output's
    } cases[] = {{"SIGTERM", PAUSES, SIGTERM, 1, 0},
                 {"SIGINT", PAUSES, SIGINT, 1, 0},
                 {"two SIGTERMs after a page", PAUSES, SIGTERM, 2, 4096},
                 {"the reader leaves after a page", LEAVES, 0, 0, 4096},
                 {"SIGTERM with standard error full", LEAVES_STDERR_FULL, SIGTERM, 1, 0},
                 {"SIGINT with standard error full", PAUSES_STDERR_FULL, SIGINT, 1, 0},
                 {"SIGINT with the output past any fd_set", PAUSES, SIGINT, 1, 0, 1100},
                 {"SIGTERM with standard error full, non-blocking, drained 20 ms on", PAUSES_STDERR_DRAINED, SIGTERM, 1, 0},
                 {"no stop, the reader 0.3 s late", LATE, 0, 0, 0}};
    for (const auto &c : cases) {
        const bool full_stderr = c.reader >= LEAVES_STDERR_FULL && c.reader <= PAUSES_STDERR_DRAINED;
        const bool still_open = c.reader != LEAVES && c.reader != LEAVES_STDERR_FULL;  // the FIFO's reading end
        const Folder folder(input);
        int err[2] = {-1, -1};
        ASSERT_EQ(pipe(err), 0);
        (void)fcntl(err[1], F_SETFL, O_NONBLOCK);
        while (full_stderr && write(err[1], "x", 1) == 1) {}
        (void)fcntl(err[1], F_SETFL, c.reader == PAUSES_STDERR_DRAINED ? O_NONBLOCK : 0);
        const Spawned child = spawn_on_fifo(GetParam(), folder.path(), "smooth2.txt", {{}, {}, -1, c.busy_below},
                                            full_stderr ? "2>&" + std::to_string(err[1]) : "2>stderr", c.reader == LATE);
        close(err[1]);  // the converter's own
        ASSERT_GE(child.fd, 0);
        std::string got(c.read_first, '\0');
        for (std::size_t n = 0; n < got.size();) {
            const ssize_t r = read(child.fd, got.data() + n, got.size() - n);
            ASSERT_GT(r, 0);
            n += static_cast<std::size_t>(r);
        }
        // Within a page of full, the pipe takes no more of the converter's
        // large writes: it is blocked, or about to be.
        const int nearly_full = fcntl(child.fd, F_GETPIPE_SZ) - 4096;
        wait_until([&] { return c.reader == LEAVES || c.reader == LATE || unread(child.fd) > nearly_full; });
        if (!still_open) {
            close(child.fd);  // the converter then has a line to write
            usleep(200000);   // and by now waits for standard error to take it
        }
        for (int i = 0; i < c.times; ++i) {
            kill(child.pid, c.sig);
        }
        const auto read_rest = [](int fd, std::string &text) {
            char buf[65536];
            for (ssize_t r; (r = read(fd, buf, sizeof buf)) > 0;) {
                text.append(buf, static_cast<std::size_t>(r));
            }
        };
        std::string drained;
        if (c.reader == PAUSES_STDERR_DRAINED) {
            usleep(20000);  // the stop's line waits for room meanwhile
            read_rest(err[0], drained);
        }
        if (c.reader == LATE) {
            read_rest(child.fd, got);
        }
        const int status = testutil::wait_child(child.pid, 20);
        if (still_open) {
            read_rest(child.fd, got);
            close(child.fd);
        }
        close(err[0]);
        EXPECT_EQ(status, c.reader == LEAVES ? 1 : c.reader == LATE ? 0 : 128 + c.sig) << c.what;
        EXPECT_EQ(testutil::read_file(folder.path() / "stderr"),
                  full_stderr || c.reader == LATE ? ""
                  : c.reader == LEAVES            ? "smooth_convert: smooth2.txt: " + testutil::reason(EPIPE) + "\n"
                                                  : std::string("smooth_convert: interrupted by ") + (c.sig == SIGINT ? "SIGINT\n" : "SIGTERM\n"))
            << c.what;
        EXPECT_EQ(drained.erase(0, drained.find_last_of('x') + 1),
                  c.reader == PAUSES_STDERR_DRAINED ? "smooth_convert: interrupted by SIGTERM\n" : "") << c.what;
        EXPECT_TRUE(c.reader == LATE ? got == complete : got.size() < complete.size()) << c.what;
        EXPECT_EQ(complete.compare(0, got.size(), got), 0) << c.what << ": not a prefix of the complete output";
    }
    // A job stopped as it writes to a terminal under `stty tostop` ends by the SIGTERM of `kill %1`, its line on the terminal.
    SKIP_WHERE(std::system("{ script -V && bash --version; } >/dev/null 2>&1") != 0, "needs util-linux's script and bash");
    for (const std::string arguments : {"", " one two three"}) {  // stopped at smooth2.txt, or at the first warning
        const Folder tty(input);
        fs::create_symlink("/dev/tty", tty.path() / "smooth2.txt");
        const std::string job = "stty tostop; " + testutil::quoted(GetParam()) + arguments + " & sleep 0.3; kill %1; t=$((128 + $(kill -l "
                                "TTOU))); s=$t; for i in $(seq 100); do sleep 0.1; wait $! && break; s=$?; [ $s = $t ] || break; done; exit $s";
        const testutil::RunResult job_run = testutil::run_program("script", tty.path(), "", "", {"-qec", "bash -mc " + testutil::quoted(job), "/dev/null"});
        EXPECT_EQ(job_run.status, testutil::EXITED + 128 + SIGTERM) << arguments;  // the job's status, which the shell passes on
        EXPECT_NE(job_run.out.find("smooth_convert: interrupted by SIGTERM\r\n"), std::string::npos) << job_run.out;
    }
#endif
}

// Faults injected by a preloaded library, which reaches only a dynamically
// linked program: the tiny-chunk build, and a copy of the normal one.
std::string dynamic(const std::string &program) { return program == CONVERTER ? SMOOTH_CONVERT_DYNAMIC_EXE : program; }

TEST_P(Converter, InjectedOutOfMemoryIsReportedNeverAnAbort)
{
    SKIP_WHERE(!testutil::preloadable(dynamic(GetParam())), "the fault library does not take effect in this program");
    // A good input, and one whose diagnostic is built after memory ran out.
    const std::string inputs[] = {many_records(3), many_records(3) + "900 1 2 x\n"};
    int reported = 0;
    for (const std::string &input : inputs) {
        const Conversion expected = run(input);
        for (int n = 1; n <= 60; ++n) {
            for (const bool later_too : {false, true}) {
                const Folder folder(input);
                testutil::write_file(folder.path() / "smooth2.txt", "kept\n");
                const fs::path log = folder.path() / "injected";
                const Conversion got =
                    convert_in(dynamic(GetParam()), folder.path(), testutil::failing_allocation(n, later_too, log));
                const bool out_of_memory = got.err == "smooth_convert: out of memory\n";
                EXPECT_EQ(got.status, out_of_memory ? 1 : expected.status) << n << got.err;
                EXPECT_EQ(got.err, out_of_memory ? got.err : expected.err) << n;
                EXPECT_EQ(got.output, out_of_memory ? "kept\n" : expected.output) << n;
                EXPECT_TRUE(!out_of_memory || fs::exists(log)) << n << ": reported, but no failure was injected";
                reported += out_of_memory ? 1 : 0;
            }
        }
    }
    // A preload that failed nothing would let every run above pass.
    EXPECT_GE(reported, 4);
}

// A close that fails, alone or after a write that failed (whose reason
// stands), and two stops that come together at the worst moments: as the
// complete output is closed (also where the process is PID 1 of a namespace,
// which the signal cannot end), before the open of smooth2.txt, as the run's
// own line begins (the stop ends the run and adds no line), and after the
// run's end.  Stops that come together are taken in the system's order.
TEST_P(Converter, InjectedFailuresAndStopsAtTheWorstMoments)
{
    SKIP_WHERE(!testutil::preloadable(dynamic(GetParam())), "the fault library does not take effect in this program");
    const std::string input = many_records(2000);
    const std::string complete = run(input).output;
    const std::string close_fails = testutil::failing_close("smooth2.txt");
    const std::string io_error = "smooth_convert: smooth2.txt: " + testutil::reason(EIO) + "\n";
    const std::string stopped = "smooth_convert: interrupted by SIGINT\n";
    enum Left { COMPLETE, WHOLE_LINES, A_FIFO, KEPT };  // what smooth2.txt holds after the run
    const bool namespaces = std::system("unshare --pid --fork true 2>/dev/null") == 0;
    const struct {
        const char *what;
        std::string setup;
        std::string err;
        int status = 128 + SIGINT;
        Left left = COMPLETE;
        bool pid_one = false;  // run as PID 1 of a namespace of its own
    } cases[] = {
        {"a failed close", close_fails, io_error, 1},
        {"stops as the output is closed", testutil::stops_at("close", "smooth2.txt"), stopped},
        {"stops as the output is closed, as PID 1", testutil::stops_at("close", "smooth2.txt"), stopped,
         testutil::EXITED + 128 + SIGINT, COMPLETE, true},
        {"stops before a FIFO with no reader opens", "mkfifo smooth2.txt && " + testutil::stops_at("open", "smooth2.txt"),
         stopped, 128 + SIGINT, A_FIFO},
        {"stops before smooth2.txt opens", "echo kept >smooth2.txt && " + testutil::stops_at("open", "smooth2.txt"),
         stopped, 128 + SIGINT, KEPT},
        {"stops as the run's own line is written", close_fails + " && " + testutil::stops_at("write", "stderr"), ""},
        {"stops after the run's end", testutil::stops_at("sigprocmask", "end"), "", 0},
        {"a file system that locks nothing", "printf %0200000d 0 >smooth2.txt && " + testutil::failing_lock(ENOLCK),
         "smooth_convert: smooth2.txt: not locked: " + testutil::reason(ENOLCK) + "\n", 0},
        {"a failed close after a failed write", close_fails + " && " + testutil::limit("fsize", 4096),
         "smooth_convert: smooth2.txt: " + testutil::reason(EFBIG) + "\n", 1, WHOLE_LINES},
    };
    for (const auto &c : cases) {
        if (c.pid_one && !namespaces) {
            std::cout << "skipped \"" << c.what << "\": this system makes no PID namespace here\n";
            continue;
        }
        const Conversion got = convert(c.pid_one ? "unshare" : dynamic(GetParam()), input, c.setup,
                                       c.pid_one ? std::vector<std::string>{"--pid", "--fork", dynamic(GetParam())}
                                                 : std::vector<std::string>{});
        EXPECT_EQ(got.status, c.status) << c.what;
        EXPECT_EQ(got.err, c.err) << c.what;
        EXPECT_TRUE(c.left == A_FIFO || (c.left == KEPT       ? got.output == "kept\n"
                                         : c.left == COMPLETE ? got.output == complete
                                                              : testutil::is_whole_line_prefix(got.output, complete) &&
                                                                    got.output.size() > 4096 - 40))
            << c.what;
    }
}

// What happens to a smooth2.txt that is already there (and a run in a
// small stack, which needs no other setting).
TEST_P(Converter, ExistingOutputIsReplacedUnlessInUse)
{
    const std::string input = many_records(3);
    const std::string complete = run(input).output;
    const struct {
        const char *what;
        std::string existing;
        bool locked;  // held by another run
        std::string err;
        std::string setup;
        bool fifo = false;  // which another run writes: lines would splice
    } cases[] = {
        {"longer than the new output", std::string(100000, 'o'), false, "", ""},
        {"in use by another run", "kept\n", true, "smooth_convert: smooth2.txt: in use by another run\n", ""},
        {"in a 64 KiB stack", "", false, "", testutil::limit("stack", 65536)},
        {"a FIFO in use", "", true, "smooth_convert: smooth2.txt: in use by another run\n", "", true},
    };
    for (const auto &c : cases) {
        if (testutil::windows_build() && (c.fifo || !c.setup.empty())) {
            continue;  // Windows has no FIFOs, and Wine sets its own stack
        }
        const Folder folder(input);
        const fs::path output = folder.path() / "smooth2.txt";
        c.fifo ? (void)mkfifo(output.c_str(), 0600) : testutil::write_file(output, c.existing);
        const int fd = open(output.c_str(), O_RDWR);
        struct flock lock {};
        lock.l_type = F_WRLCK;
        ASSERT_TRUE(!c.locked || fcntl(fd, F_SETLK, &lock) == 0);
        const Conversion got = convert_in(GetParam(), folder.path(), c.setup);
        close(fd);
        EXPECT_EQ(got.status, c.err.empty() ? 0 : 1) << c.what;
        EXPECT_EQ(got.err, c.err) << c.what;
        EXPECT_EQ(got.output, c.locked ? c.existing : complete) << c.what;
    }
}

TEST_P(Converter, HelpAndVersionTouchNoFileAndOtherArgumentsAreNamed)
{
    const std::string input = many_records(3);
    const std::string complete = run(input).output;
    const std::string ignored = ": the input is always smooth1.txt and the output smooth2.txt, in the current directory\n";
    const struct {
        std::vector<std::string> arguments;
        std::string out;  // what standard output starts with
        std::string err;
    } cases[] = {
        {{"--help"}, "Usage: smooth_convert [--help] [--version]\n", ""},
        {{"data.txt", "--help"}, "Usage: smooth_convert", ""},
        {{"--version"}, "smooth_convert (" NUMTOOLS_PACKAGE ") " NUMTOOLS_VERSION "\n", ""},
        {{"it's", "two\nlines\x7f 'quoted'", std::string(3000, 'a')}, "",
         "smooth_convert: ignoring argument 'it'\\''s'" + ignored +
             "smooth_convert: ignoring argument $'two\\x0alines\\x7f \\'quoted\\''" + ignored +
             "smooth_convert: ignoring argument '" + std::string(40, 'a') + "'..." + ignored},
    };
    for (const auto &c : cases) {
        for (const bool with_input : {true, false}) {
            testutil::TempDir dir;
            testutil::write_file(dir.path() / (with_input ? "smooth1.txt" : "elsewhere.txt"), input);
            testutil::write_file(dir.path() / "smooth2.txt", "kept\n");
            const testutil::RunResult run = testutil::run_program(GetParam(), dir.path(), "", "", c.arguments);
            const bool converts = c.out.empty();  // only ignored arguments: the run is as without them
            EXPECT_EQ(run.status, converts && !with_input ? 1 : 0) << c.arguments[0];
            EXPECT_EQ(run.out.substr(0, c.out.size()), c.out) << c.arguments[0];
            EXPECT_EQ(run.err.substr(0, c.err.size()), c.err) << c.arguments[0];
            EXPECT_EQ(testutil::read_file(dir.path() / "smooth2.txt"), converts && with_input ? complete : "kept\n");
            EXPECT_EQ(fs::exists(dir.path() / "smooth1.txt"), with_input);
        }
    }
    testutil::TempDir dir;
    const testutil::Full full_output = testutil::full_output(dir.path());
    const testutil::RunResult full = testutil::run_program(GetParam(), dir.path(), full_output.target, full_output.setup, {"--help"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "smooth_convert: write error: " + testutil::reason(full_output.err) + "\n");
    // A reader that has gone: --version says so whatever the caller left
    // set; a warning nobody reads changes nothing.
    const testutil::RunResult gone = testutil::run_into_gone_reader(GetParam(), dir.path(), 1, {"--version"}, {{SIGPIPE}});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "smooth_convert: write error: " + testutil::reason(EPIPE) + "\n");
#ifdef F_SETPIPE_SZ
    // A pipe of one page with a little in it: select calls it full, yet the line fits.
    int page[2] = {-1, -1};
    ASSERT_TRUE(pipe(page) == 0 && fcntl(page[1], F_SETPIPE_SZ, 4096) == 4096 && write(page[1], "0123456789", 10) == 10);
    EXPECT_EQ(testutil::wait_child(testutil::start_shell("exec " + testutil::quoted(GetParam()) + " --version", {{}, {}, page[1]}), 20), 0);
    (void)(close(page[0]) + close(page[1]));
#endif
    testutil::write_file(dir.path() / "smooth1.txt", input);
    EXPECT_EQ(testutil::run_into_gone_reader(GetParam(), dir.path(), 2, {"extra"}).status, 0);
    EXPECT_EQ(testutil::read_file(dir.path() / "smooth2.txt"), complete);
}

TEST_P(Converter, MemoryStaysBoundedOnALargeInput)
{
    SKIP_WHERE(testutil::emulated() || testutil::sanitized(), "the peak memory would be the emulator's or the sanitizer's");
    // GNU time reports the program's own peak, not what a fork inherits from this process.
    SKIP_WHERE(std::system("/usr/bin/time -f %M -o /dev/null true >/dev/null 2>&1") != 0, "needs GNU time (Debian package time)");
    // A 4 MiB header word and 16 MiB of records: neither may be held whole.
    const Folder folder(std::string(4u << 20, 'h') + " 2147483647 a b\n" +
                        repeated("1234.5678 -0.000123 7.25e3 1\n", 400000) + "900 1 2");
    const fs::path peak_file = folder.path() / "peak";
    const testutil::RunResult run = testutil::run_program(
        "/usr/bin/time", folder.path(), "", "", {"-f", "%M", "-o", peak_file.string(), GetParam()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "smooth_convert: smooth1.txt:400002: record 400001: expected a number, found end of file\n");
    // The peak resident set in KiB is the last line, after a note on the status.
    const std::string peak = testutil::read_file(peak_file);
    const std::size_t last = peak.find_last_of('\n', peak.size() - 2);
    ASSERT_FALSE(peak.empty());
    EXPECT_LT(std::stol(peak.substr(last == std::string::npos ? 0 : last + 1)), 16 * 1024) << peak;
}

// The fuzzer's seed inputs and every input it ever found a fault with,
// against the fuzz harness's model of the rules: the same status, the same
// smooth2.txt, and one line that names the same place.
TEST_P(Converter, FuzzCorpusAndFindingsEndCleanly)
{
    int files = 0;
    for (const char *folder : {"corpus", "regressions"}) {
        for (const auto &entry : fs::directory_iterator(fs::path(FUZZ_DIR) / folder)) {
            const std::string name = entry.path().filename().string();
            if (!entry.is_regular_file() || name.front() == '.') {
                continue;
            }
            ++files;
            const std::string input = testutil::read_file(entry.path());
            const Conversion got = run(input);
            const Expected want = Model(input).run();
            EXPECT_EQ(got.status, want.status) << name << ": " << got.err;
            EXPECT_EQ(got.output, testutil::system_text(want.output)) << name;
            EXPECT_EQ(want.status == 0 ? got.err : got.err.substr(0, want.message_start.size()), want.message_start)
                << name;
            EXPECT_EQ(got.err.find('\n'), want.status == 0 ? std::string::npos : got.err.size() - 1) << name;
        }
    }
    EXPECT_GT(files, 10);
}

INSTANTIATE_TEST_SUITE_P(Builds, Converter, BUILDS, [](const auto &info) {
    return std::string(info.param == CONVERTER ? "normal" : "tiny_chunks");
});

}  // namespace
