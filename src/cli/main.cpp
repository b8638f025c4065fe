#include <cstdio>
#include <cstring>

#include "common/Version.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zorvo %s\n", zorvo::kVersion);
        return 0;
    }
    return 2;
}
