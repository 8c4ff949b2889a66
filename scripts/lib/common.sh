# Shared by scripts/run and scripts/test: installs what the build needs and builds.
# Sourced, not run.

# Debian packages the build, the tests and the tools need.
SCOPA_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache clang clang-format libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libjpeg-dev libjpeg-turbo-progs libpng-dev libgif-dev libtiff-dev libwebp-dev libcairo2-dev
    librsvg2-dev libblkid-dev libmount-dev libgdk-pixbuf-2.0-dev shared-mime-info dpkg-dev imagemagick dynamite
    libstorm-dev fonts-dejavu-core libvips-tools time adwaita-icon-theme hicolor-icon-theme
    qt6-base-dev libx11-dev xvfb xdotool xauth
    python3-olefile libgsf-bin binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    libcli11-dev nlohmann-json3-dev
)

scopa_log() { printf '==> %s\n' "$*" >&2; }

# Installs whichever of SCOPA_PACKAGES is missing; does nothing (quickly) when all are there.
scopa_ensure_packages() {
    local missing=()
    local package status
    for package in "${SCOPA_PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
        [ "$status" = "installed" ] || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    scopa_log "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# scopa_build DIR COMPILER [cmake options...]: configures once, then builds incrementally.
scopa_build() {
    local dir=$1 compiler=$2
    shift 2
    local cc=gcc cxx=g++
    if [ "$compiler" = clang ]; then cc=clang; cxx=clang++; fi
    local launcher=()
    # Paths inside the checkout are hashed relative to it, so a fresh clone reuses the cache.
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
    # The sanitizer trees' line tables would otherwise tie each entry to its build folder.
    export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
    command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache
                                             -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    if [ ! -f "$dir/build.ninja" ]; then
        scopa_log "configuring $dir"
        CC=$cc CXX=$cxx cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
            "${launcher[@]}" "$@" >/dev/null
    fi
    scopa_log "building $dir"
    cmake --build "$dir"
}
