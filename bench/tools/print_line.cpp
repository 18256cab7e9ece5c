#include <cstdio>
#include <cstdlib>
#include <cstring>

// Prints one line, or with "big" the given number of bytes, like a tool
// listing devices.
int main(int argc, char **argv)
{
    if (argc > 2 && std::strcmp(argv[1], "big") == 0) {
        static char chunk[65536];
        std::memset(chunk, 'x', sizeof chunk);
        long remaining = std::atol(argv[2]);
        while (remaining > 0) {
            const long count = remaining < long(sizeof chunk) ? remaining : long(sizeof chunk);
            std::fwrite(chunk, 1, size_t(count), stdout);
            remaining -= count;
        }
        return 0;
    }
    std::puts("== Devices ==");
    return 0;
}
