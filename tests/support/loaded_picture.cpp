#include "support/loaded_picture.h"

namespace scopa::test {

Loaded Load(const std::filesystem::path& path, int resolution, PictureLoadObserver* observer) {
    Loaded loaded;
    loaded.result =
        LoadPicture(observer, path.string(), loaded.dib, loaded.metafile, loaded.kind, resolution);
    return loaded;
}

}  // namespace scopa::test
