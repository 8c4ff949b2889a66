// A picture loaded through the filters, with everything LoadPicture hands back.
#pragma once

#include <filesystem>

#include "imaging/dib.h"
#include "imaging/picture.h"
#include "imaging/vector.h"

namespace scopa::test {

struct Loaded {
    int result = -1;
    int kind = 0;
    oDIB dib;
    vMETAFILE metafile;
};

Loaded Load(const std::filesystem::path& path, int resolution = 0,
            PictureLoadObserver* observer = nullptr);

}  // namespace scopa::test
