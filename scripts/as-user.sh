# Sourced by the scripts: when called as root, re-run the calling script as
# the unprivileged user that owns the database cluster (PostgreSQL refuses
# root). The source tree must be readable by that user; if it isn't, a copy is
# made for it.
morvel_as_user() {
    [ "$(id -u)" = 0 ] || return 0
    local user=${MORVEL_USER:-morvel} src=$1
    shift
    if ! id "$user" >/dev/null 2>&1; then
        useradd --system --create-home --home-dir "/var/lib/$user" --shell /bin/bash "$user"
    fi
    local home
    home=$(getent passwd "$user" | cut -d: -f6)
    if ! runuser -u "$user" -- test -r "$src/CMakeLists.txt" -a -x "$src/scripts"; then
        local copy=/var/tmp/morvel-src
        rm -rf "$copy"
        cp -a "$src" "$copy"
        chown -R "$user" "$copy"
        src=$copy
    fi
    local build=${MORVEL_BUILD_DIR:-/var/tmp/morvel-build}
    mkdir -p "$build"
    chown -R "$user" "$build"
    echo "running as user '$user' (build folder $build)" >&2
    exec runuser -u "$user" -- env HOME="$home" MORVEL_BUILD_DIR="$build" \
        DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-}" CI="${CI:-}" \
        "$src/scripts/$(basename "$0")" "$@"
}

morvel_build() {
    local src=$1 build=$2
    # A build folder left by another source tree is made anew.
    if [ -f "$build/CMakeCache.txt" ] &&
        ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$src" "$build/CMakeCache.txt"; then
        rm -rf "${build:?}"/* "$build"/.[!.]* 2>/dev/null || true
    fi
    cmake -S "$src" -B "$build" -G Ninja -DMORVEL_WERROR=ON >/dev/null
    cmake --build "$build" -j "$(nproc)"
}
