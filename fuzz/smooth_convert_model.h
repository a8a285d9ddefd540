// A plain model of the converter's rules, shared by the fuzz harness and
// the test suite's replay of the fuzz corpus: for an input, the exit status,
// the exact smooth2.txt and where the diagnostic must point.  It reads the
// whole text at once and converts each number with the C library's strtof,
// so it shares nothing with the converter but the rules.

#ifndef FUZZ_SMOOTH_CONVERT_MODEL_H
#define FUZZ_SMOOTH_CONVERT_MODEL_H

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace

#endif
