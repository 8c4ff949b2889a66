// Names the desktop thumbnail of a path through the installed library.
#include <cstdio>

#include "cache/freedesktop_thumbnails.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::printf("%s\n", scopa::ThumbnailFileName(scopa::FileUriOfPath(argv[1])).c_str());
    return 0;
}
