#include "platform/loaded_libraries.h"

#include <dlfcn.h>

namespace scopa {
namespace {

// The libraries' run-time names (their sonames, stable across versions of the same ABI).
constexpr const char* kCairoName = "libcairo.so.2";
constexpr const char* kRsvgName = "librsvg-2.so.2";
constexpr const char* kTiffName = "libtiff.so.6";
constexpr const char* kGlibName = "libglib-2.0.so.0";
constexpr const char* kGioName = "libgio-2.0.so.0";
constexpr const char* kMountName = "libmount.so.1";
constexpr const char* kBlkidName = "libblkid.so.1";

// Looks `name` up in `handle` (and the libraries it depends on) into `slot`.
template <typename Function>
bool Resolve(void* handle, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(dlsym(handle, name));
    return slot != nullptr;
}

struct LoadedCairo {
    CairoLibrary functions;
    bool loaded = false;
    LoadedCairo() {
        // Kept for the life of the process: drawings made through it may outlive any user.
        void* handle = dlopen(kCairoName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "cairo_" #name, functions.name) && all;
        SCOPA_CAIRO_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

struct LoadedRsvg {
    RsvgLibrary functions;
    bool loaded = false;
    LoadedRsvg() {
        void* handle = dlopen(kRsvgName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "rsvg_" #name, functions.name) && all;
        SCOPA_RSVG_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
#define SCOPA_RESOLVE(name) all = Resolve(handle, "g_" #name, functions.name) && all;
        SCOPA_GLIB_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

struct LoadedTiff {
    TiffLibrary functions;
    bool loaded = false;
    LoadedTiff() {
        void* handle = dlopen(kTiffName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "TIFF" #name, functions.name) && all;
        SCOPA_TIFF_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

struct LoadedGlib {
    GlibLibrary functions;
    bool loaded = false;
    LoadedGlib() {
        void* handle = dlopen(kGlibName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "g_" #name, functions.name) && all;
        SCOPA_GLIB_OWN_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

struct LoadedGio {
    GioLibrary functions;
    bool loaded = false;
    LoadedGio() {
        void* handle = dlopen(kGioName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "g_" #name, functions.name) && all;
        SCOPA_GIO_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

struct LoadedMount {
    MountLibrary functions;
    bool loaded = false;
    LoadedMount() {
        void* handle = dlopen(kMountName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "mnt_" #name, functions.name) && all;
        SCOPA_MOUNT_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

struct LoadedBlkid {
    BlkidLibrary functions;
    bool loaded = false;
    LoadedBlkid() {
        void* handle = dlopen(kBlkidName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        bool all = true;
#define SCOPA_RESOLVE(name) all = Resolve(handle, "blkid_" #name, functions.name) && all;
        SCOPA_BLKID_FUNCTIONS(SCOPA_RESOLVE)
#undef SCOPA_RESOLVE
        loaded = all;
    }
};

const LoadedCairo& TheCairo() {
    static const LoadedCairo library;
    return library;
}
const LoadedRsvg& TheRsvg() {
    static const LoadedRsvg library;
    return library;
}
const LoadedTiff& TheTiff() {
    static const LoadedTiff library;
    return library;
}
const LoadedGlib& TheGlib() {
    static const LoadedGlib library;
    return library;
}
const LoadedGio& TheGio() {
    static const LoadedGio library;
    return library;
}
const LoadedMount& TheMount() {
    static const LoadedMount library;
    return library;
}
const LoadedBlkid& TheBlkid() {
    static const LoadedBlkid library;
    return library;
}

}  // namespace

bool LoadCairo() {
    return TheCairo().loaded;
}
bool LoadRsvg() {
    return TheRsvg().loaded;
}
bool LoadTiff() {
    return TheTiff().loaded;
}
bool LoadGlib() {
    return TheGlib().loaded;
}
bool LoadGio() {
    return TheGio().loaded;
}
bool LoadMount() {
    return TheMount().loaded;
}
bool LoadBlkid() {
    return TheBlkid().loaded;
}
const CairoLibrary& Cairo() {
    return TheCairo().functions;
}
const RsvgLibrary& Rsvg() {
    return TheRsvg().functions;
}
const TiffLibrary& Tiff() {
    return TheTiff().functions;
}
const GlibLibrary& Glib() {
    return TheGlib().functions;
}
const GioLibrary& Gio() {
    return TheGio().functions;
}
const MountLibrary& Mount() {
    return TheMount().functions;
}
const BlkidLibrary& Blkid() {
    return TheBlkid().functions;
}

}  // namespace scopa
