#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

// Writes a GPX track of the given number of points, laid out as GPSBabel
// writes logger tracks: one element a line, lat and lon with nine decimals,
// elevation, a whole-second UTC time and hdop. The same bytes on every run.
int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output.gpx> <points>\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const long points = std::atol(argv[2]);
    const std::string partial = path + ".partial";
    std::FILE *file = std::fopen(partial.c_str(), "wb");
    if (!file) {
        std::perror(partial.c_str());
        return 1;
    }
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<gpx version=\"1.1\" creator=\"Corvane benchmark\" "
               "xmlns=\"http://www.topografix.com/GPX/1/1\" "
               "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
               "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
               "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
               "<time>2022-04-11T10:16:22Z</time>\n"
               "<trk>\n  <name>Generated track</name>\n<trkseg>\n",
               file);
    std::mt19937_64 random(0x6E7C0A57);
    std::uniform_real_distribution<double> wobble(-1.0, 1.0);
    double latitude = 47.3769, longitude = 8.5417, elevation = 408.0, heading = 0.7;
    const std::time_t start = 1649672182; // 2022-04-11T10:16:22Z
    for (long i = 0; i < points; ++i) {
        heading += wobble(random) * 0.2;
        latitude += std::cos(heading) * 0.00004;
        longitude += std::sin(heading) * 0.00006;
        elevation += wobble(random) * 0.5;
        const std::time_t when = start + i;
        std::tm utc{};
        gmtime_r(&when, &utc);
        char time[32];
        std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
        std::fprintf(file,
                     "<trkpt lat=\"%.9f\" lon=\"%.9f\">\n"
                     "  <ele>%.6f</ele>\n"
                     "  <time>%s</time>\n"
                     "  <hdop>%.6f</hdop>\n"
                     "</trkpt>\n",
                     latitude, longitude, elevation, time, 0.8 + (wobble(random) + 1.0));
    }
    std::fputs("</trkseg>\n</trk>\n</gpx>\n", file);
    if (std::fclose(file) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    std::printf("%ld\n", points);
    return 0;
}
