# Shared by scripts/check and scripts/demo: installs what the build needs and
# configures and builds the tree. Source it; do not run it.

FERROX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
FERROX_BUILD_DIR=${FERROX_BUILD_DIR:-$FERROX_ROOT/build}

# Debian packages the build and the tests need.
FERROX_PACKAGES=(cmake g++ ninja-build pkg-config qtbase5-dev libluajit-5.1-dev
                 libgtest-dev libbenchmark-dev libsystemd-dev dpkg-dev man-db
                 libmosquitto-dev libssl-dev mosquitto mosquitto-clients openssl)

ferrox_install_deps() {
    local missing=()
    local p
    for p in "${FERROX_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo="sudo"
        else
            echo "error: packages are missing (${missing[*]}) and this user cannot install them; run as root" >&2
            return 1
        fi
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

ferrox_build() {
    local launcher=()
    command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$FERROX_ROOT" -B "$FERROX_BUILD_DIR" -G Ninja \
          -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@"
    # moc reruns only for headers it already knows: in a tree built before,
    # a newly added Q_OBJECT header would be missed unless the step reruns.
    find "$FERROX_BUILD_DIR" -path '*_autogen/timestamp' -delete 2>/dev/null || true
    cmake --build "$FERROX_BUILD_DIR" -j "$(nproc)"
}
