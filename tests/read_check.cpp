// Every single-precision value, read back through the converter's own
// number reader, both where records are converted and where they are only
// checked (past the 2048th written line).  For every STRIDE-th bit pattern:
//   - the shortest decimal naming the value (std::to_chars) reads back as
//     exactly that value, its sign included;
//   - for a positive value, the exact midpoint between it and the next
//     value up reads as whichever of the two has an even last bit (ties to
//     even), and decimals just below and just above the midpoint read as
//     the lower and the upper value.
// Infinities, NaNs and whatever rounds beyond the largest value must be
// refused.  The expected results come from the bit patterns alone, not
// from any other decimal conversion.
//
//   read_check [STRIDE]    STRIDE 1 (the default) checks all 2^32 patterns

#include "smooth_convert.cpp"  // built with its entry point renamed, see CMakeLists.txt

#include <atomic>
#include <cinttypes>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Item {
    std::string text;
    std::uint32_t bits;  // the value it must read as
};

// Decimal text of `v`, a double with at most 26 significant bits, digit for
// digit exact: as many decimals as its lowest set bit needs, one at least.
std::string exact_decimal(double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const int lowest = static_cast<int>((bits >> 52) & 0x7ff) - 1075 + std::countr_zero(mantissa);
    char buf[256];
    return {buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, std::max(1, -lowest)).ptr};
}

// `text` less one unit in its last place (it has a point and no sign).
std::string one_unit_less(std::string text)
{
    for (std::size_t i = text.size(); i-- > 0;) {
        if (text[i] == '.') {
            continue;
        }
        if (text[i] != '0') {
            --text[i];
            break;
        }
        text[i] = '9';
    }
    return text;
}

// The texts worked out from pattern b: in range, and (past the top) refused.
void items_of(std::uint32_t b, std::vector<Item> &good, std::vector<std::string> &refused)
{
    const float f = std::bit_cast<float>(b);
    char buf[64];
    const std::string shortest(buf, std::to_chars(buf, buf + sizeof buf, f).ptr);
    if (!std::isfinite(f)) {
        refused.push_back(shortest);
        return;
    }
    good.push_back({shortest, b});
    if ((b >> 31) != 0) {
        return;
    }
    // The next value up, 2^128 past the largest; their midpoint, which a
    // double holds exactly; a decimal just below it, and one just above it
    // by a digit so far out that only the reader's note of dropped digits
    // can tell it from the midpoint.
    const double up = b == 0x7f7fffff ? 0x1p128 : static_cast<double>(std::bit_cast<float>(b + 1));
    const std::string mid = exact_decimal((static_cast<double>(f) + up) / 2);
    const std::string below = one_unit_less(mid) + "9";
    const std::string above = mid + std::string(200, '0') + "1";
    good.push_back({below, b});
    if (b == 0x7f7fffff) {
        refused.push_back(mid);
        refused.push_back(above);
        return;
    }
    good.push_back({mid, (b & 1) == 0 ? b : b + 1});
    good.push_back({above, b + 1});
}

// The converter's reader over text in memory, as if it were the whole file.
void load(Input &in, const std::string &text)
{
    in.buf = static_cast<unsigned char *>(std::malloc(text.size() + 1));
    std::memcpy(in.buf, text.data(), text.size());
    in.len = in.unsplit_end = text.size();
    in.buf[in.len] = 0;
    in.at_eof = true;
}

std::atomic<long long> checked{0};
std::atomic<int> faults{0};

void fault(const std::string &text, const char *what)
{
    if (faults++ < 20) {
        std::printf("read_check: \"%.200s\": %s\n", text.c_str(), what);
    }
}

// Reads the items once through read_number, comparing every value, and
// once as records past the last written line, none of which may be refused.
void check_good(std::vector<Item> &items)
{
    while (items.size() % 4 != 0) {
        items.push_back({"0", 0});
    }
    std::string text;
    for (const Item &item : items) {
        text += item.text + ' ';
    }
    std::size_t i = 0;
    try {
        Input in;
        load(in, text);
        for (; i < items.size(); ++i) {
            const std::uint32_t got = std::bit_cast<std::uint32_t>(read_number(in, 1));
            if (got != items[i].bits) {
                char what[80];
                std::snprintf(what, sizeof what, "read as 0x%08" PRIx32 ", not 0x%08" PRIx32, got, items[i].bits);
                fault(items[i].text, what);
            }
        }
        Input only_checked;
        load(only_checked, text);
        check_records(only_checked, 1, static_cast<long long>(items.size() / 4));
    } catch (const Failure &f) {
        fault(i < items.size() ? items[i].text : "(a record only checked)", f.text);
    }
    checked += static_cast<long long>(items.size());
    items.clear();
}

void check_refused(const std::string &text)
{
    for (const bool only_checked : {false, true}) {
        try {
            Input in;
            load(in, text + " 0 0 0");
            only_checked ? check_records(in, 1, 1) : (void)read_number(in, 1);
            fault(text, only_checked ? "accepted where only checked" : "accepted");
        } catch (const Failure &) {
        }
    }
    ++checked;
}

void check_patterns(std::uint64_t first, std::uint64_t step)
{
    std::vector<Item> good;
    std::vector<std::string> refused;
    for (std::uint64_t b = first; b <= 0xffffffff; b += step) {
        items_of(static_cast<std::uint32_t>(b), good, refused);
        if (good.size() >= 4096) {
            check_good(good);
        }
        for (const std::string &text : refused) {
            check_refused(text);
        }
        refused.clear();
    }
    check_good(good);
}

}  // namespace

int main(int argc, char **argv)
{
    const std::uint64_t stride = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    if (stride == 0) {
        std::fprintf(stderr, "usage: read_check [STRIDE]\n");
        return 2;
    }
    // The top of the range and its neighbours beyond, whatever the stride.
    std::vector<Item> edges;
    std::vector<std::string> beyond;
    for (const std::uint32_t b : {0x00000000u, 0x00000001u, 0x007fffffu, 0x7f7fffffu, 0xff7fffffu, 0x7f800000u}) {
        items_of(b, edges, beyond);
    }
    check_good(edges);
    for (const std::string &text : beyond) {
        check_refused(text);
    }
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back(check_patterns, t * stride, threads * stride);
    }
    for (std::thread &w : workers) {
        w.join();
    }
    std::printf("read_check: %lld numbers from every %" PRIu64 "th bit pattern, %d wrong\n", checked.load(), stride,
                faults.load());
    return faults == 0 ? 0 : 1;
}
