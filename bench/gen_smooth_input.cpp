// Writes a large valid "smooth1.txt" for the converter benchmark: about
// four million records in about 150 MB, the numbers in a mix of the forms
// instrument files use (plain decimals, signs, exponents, leading zeros).
//
// usage: gen_smooth_input FILE [RECORDS]

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

// One number of the given shape, drawn from `rng`.
std::string number(std::mt19937_64 &rng, int shape)
{
    char buf[64];
    const double u = static_cast<double>(rng() % 1000000) / 1000000.0;
    switch (shape) {
    case 0:  // a channel: 800 to 3000 with five decimals
        std::snprintf(buf, sizeof buf, "%.5f", 800.0 + 2200.0 * u);
        break;
    case 1:  // a signed count
        std::snprintf(buf, sizeof buf, "%+d", static_cast<int>(rng() % 200000) - 100000);
        break;
    case 2:  // a small value in exponent form
        std::snprintf(buf, sizeof buf, "%.4e", (u - 0.5) * 1e-3);
        break;
    case 3:  // leading zeros and an upper-case exponent
        std::snprintf(buf, sizeof buf, "00%.2fE+2", u * 10.0);
        break;
    default:  // a short decimal
        std::snprintf(buf, sizeof buf, "%.3f", u * 100.0);
        break;
    }
    return buf;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: gen_smooth_input FILE [RECORDS]\n", stderr);
        return 2;
    }
    const long records = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 4000000;
    std::FILE *out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::mt19937_64 rng(42);
    std::fprintf(out, "Benchmark\n%ld\nchannel counts\n", records);
    for (long r = 0; r < records; ++r) {
        // c1 mostly in the kept range, now and then below the cut.
        const std::string c1 = (r % 10 == 9) ? number(rng, 4) : number(rng, 0);
        const std::string c2 = number(rng, static_cast<int>(1 + rng() % 4));
        const std::string c3 = number(rng, static_cast<int>(rng() % 5));
        const std::string c4 = number(rng, static_cast<int>(rng() % 5));
        std::fprintf(out, "%s %s\t%s %s\n", c1.c_str(), c2.c_str(), c3.c_str(), c4.c_str());
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
