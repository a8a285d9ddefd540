// libFuzzer harness for the converter.  The converter's own source is
// compiled into this target with its entry point renamed, so every input
// goes through the real read-and-write path: it is written to smooth1.txt
// in a private directory, the converter runs, and what it left behind is
// checked against a plain model of the same rules built here:
//   - the exit status is 0 or 1, and with 1 standard error holds exactly
//     one line, naming the line and the item where reading stopped;
//   - smooth2.txt is exactly what the model writes: only records read in
//     full, never more than 2048 data lines;
// and the sanitizers catch any access outside a buffer.
//
// The harness works in a directory of its own, so give libFuzzer absolute
// paths for corpora and artifacts.

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

// What the model expects of one run.
struct Expected {
    int status = 0;
    std::string output;
    std::string message_start;  // the diagnostic up to "expected"
};

bool is_space(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool is_digit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

class Model {
public:
    explicit Model(const std::string &text) : text_(text) {}

    Expected run()
    {
        if (!word()) {
            return result_;
        }
        const std::size_t start = skip();
        long long count = 0;
        std::size_t end = start;
        if (end < text_.size() && (text_[end] == '+' || text_[end] == '-')) {
            ++end;
        }
        const std::size_t digits = end;
        while (end < text_.size() && is_digit(static_cast<unsigned char>(text_[end]))) {
            count = std::min(count * 10 + (text_[end] - '0'), 1LL << 40);
            ++end;
        }
        if (end == digits) {
            return fail(start, "header");
        }
        if (text_[start] == '-') {
            count = -count;
        }
        if (count > 2147483647LL || count < -2147483648LL) {
            return fail(start, "header");
        }
        pos_ = end;
        result_.output += std::to_string(std::min<long long>(count, 2048)) + "\n";
        if (!word() || !word()) {
            return result_;
        }
        int written = 0;
        for (long long record = 1; record <= count; ++record) {
            float c[4];
            for (float &value : c) {
                if (!number(record, value)) {
                    return result_;
                }
            }
            const double x = static_cast<double>(c[0]) * 0.2 - 360.0;
            const double y = static_cast<double>(c[1]) * 1e-6;
            if (x >= -200.0 && written < 2048) {
                char line[160];
                std::snprintf(line, sizeof line, "%f %f\n", x, y);
                result_.output += line;
                ++written;
            }
        }
        return result_;
    }

private:
    std::size_t skip()
    {
        while (pos_ < text_.size() && is_space(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
        return pos_;
    }

    long long line_of(std::size_t index) const
    {
        long long line = 1;
        for (std::size_t i = 0; i < index; ++i) {
            line += text_[i] == '\n';
        }
        if (index == text_.size() && index > 0 && text_[index - 1] == '\n' && line > 1) {
            --line;
        }
        return line;
    }

    Expected fail(std::size_t at, const std::string &where)
    {
        result_.status = 1;
        result_.message_start =
            "smooth_convert: smooth1.txt:" + std::to_string(line_of(at)) + ": " + where + ": expected ";
        return result_;
    }

    bool word()
    {
        const std::size_t start = skip();
        if (start == text_.size()) {
            fail(start, "header");
            return false;
        }
        while (pos_ < text_.size() && !is_space(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
        result_.output += text_.substr(start, pos_ - start) + "\n";
        return true;
    }

    bool number(long long record, float &value)
    {
        const std::string where = "record " + std::to_string(record);
        const std::size_t start = skip();
        std::size_t p = start;
        const auto at = [&](std::size_t i) { return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0; };
        if (at(p) == '+' || at(p) == '-') {
            ++p;
        }
        std::size_t digit_count = 0;
        while (is_digit(at(p))) {
            ++p;
            ++digit_count;
        }
        if (at(p) == '.') {
            ++p;
            while (is_digit(at(p))) {
                ++p;
                ++digit_count;
            }
        }
        if (digit_count == 0) {
            fail(start, where);
            return false;
        }
        if (at(p) == 'e' || at(p) == 'E') {
            std::size_t q = p + 1;
            if (at(q) == '+' || at(q) == '-') {
                ++q;
            }
            if (is_digit(at(q))) {
                while (is_digit(at(q))) {
                    ++q;
                }
                p = q;
            }
        }
        const std::string number_text = text_.substr(start, p - start);
        errno = 0;
        value = std::strtof(number_text.c_str(), nullptr);
        if (std::isinf(value)) {
            fail(start, where);
            return false;
        }
        pos_ = p;
        return true;
    }

    const std::string &text_;
    std::size_t pos_ = 0;
    Expected result_;
};

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
    const int status = smooth_convert_main(1, argv);
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
