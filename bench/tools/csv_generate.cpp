#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

// Writes a CSV file of GPS-like rows of about the given size, the same bytes
// on every run: numbers, quoted fields holding delimiters, doubled quotes and
// line breaks, some non-ASCII text, CRLF line ends. Prints the row count.
int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <output.csv> <bytes>\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const long long target = std::atoll(argv[2]);
    const std::string partial = path + ".partial";
    std::FILE *file = std::fopen(partial.c_str(), "wb");
    if (!file) {
        std::perror(partial.c_str());
        return 1;
    }

    static const char *const places[] = {
        "Harbour",   "Ridge",   "Old Mill", "Station",   "Summit", "Zürich HB", "東京駅", "Kraków",
        "São Paulo", "Ørestad", "Αθήνα",    "Café Noir", "Москва", "Lake",      "Pass"};
    static const char *const notes[] = {"steady",      "gusty wind", "",       "stopped",
                                        "photo taken", "rain",       "uphill", "downhill"};
    std::mt19937_64 random(0x5EED2024);
    std::string line;
    long long written = 0;
    long long rows = 0;
    line = "id,latitude,longitude,altitude,time,place,note,speed\r\n";
    for (;;) {
        std::fwrite(line.data(), 1, line.size(), file);
        written += static_cast<long long>(line.size());
        ++rows;
        if (written >= target)
            break;

        char numbers[160];
        const unsigned long long draw = random();
        std::snprintf(numbers, sizeof numbers, "%lld,%.6f,%.6f,%.1f,2024-05-%02dT%02d:%02d:%02dZ,",
                      rows, -90.0 + static_cast<double>(draw % 18000000) / 100000.0,
                      -180.0 + static_cast<double>(random() % 36000000) / 100000.0,
                      static_cast<double>(random() % 40000) / 10.0 - 100.0,
                      static_cast<int>(1 + draw % 28), static_cast<int>(draw / 7 % 24),
                      static_cast<int>(draw / 11 % 60), static_cast<int>(draw / 13 % 60));
        line = numbers;

        const std::string place = places[random() % std::size(places)];
        switch (random() % 4) {
        case 0: // a delimiter inside
            line += "\"" + place + ", " + std::to_string(random() % 100) + "\"";
            break;
        case 1: line += "\"" + place + "\""; break;
        default: line += place;
        }
        line += ',';

        const std::string note = notes[random() % std::size(notes)];
        switch (random() % 10) {
        case 0: // doubled quotes
            line += "\"said \"\"" + note + "\"\" twice\"";
            break;
        case 1: // a line break inside
            line += "\"" + note + (random() % 2 ? "\nsecond line\"" : "\r\nsecond line\"");
            break;
        default: line += note;
        }

        char speed[32];
        std::snprintf(speed, sizeof speed, ",%.2f\r\n",
                      static_cast<double>(random() % 4000) / 100.0);
        line += speed;
    }
    if (std::fclose(file) != 0 || std::rename(partial.c_str(), path.c_str()) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    std::printf("%lld\n", rows);
    return 0;
}
