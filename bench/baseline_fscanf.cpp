// The plain way to write the converter, kept as the benchmark's baseline:
// fscanf and fprintf, one record at a time.  It does no error checking and
// is not a product; it exists to be measured against.

#include <cstdio>

int main()
{
    std::FILE *in = std::fopen("smooth1.txt", "r");
    std::FILE *out = std::fopen("smooth2.txt", "w");
    if (in == nullptr || out == nullptr) {
        return 1;
    }
    char title[80];
    char second[20];
    char third[20];
    int n = 0;
    if (std::fscanf(in, "%79s %d %19s %19s", title, &n, second, third) != 4) {
        return 1;
    }
    std::fprintf(out, "%s\n%d\n%s\n%s\n", title, n <= 2048 ? n : 2048, second, third);
    int written = 0;
    for (int i = 0; i < n; ++i) {
        float c1;
        float c2;
        float c3;
        float c4;
        if (std::fscanf(in, "%f %f %f %f", &c1, &c2, &c3, &c4) != 4) {
            return 1;
        }
        const double x = static_cast<double>(c1) * 0.2 - 360.0;
        const double y = static_cast<double>(c2) * 1e-6;
        if (x >= -200.0 && written < 2048) {
            std::fprintf(out, "%f %f\n", x, y);
            ++written;
        }
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
