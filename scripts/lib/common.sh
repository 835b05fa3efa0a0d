# Shared by scripts/check and scripts/demo: installs what the build needs and
# configures and builds the tree. Source it; do not run it.

FERROX_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
FERROX_BUILD_DIR=${FERROX_BUILD_DIR:-$FERROX_ROOT/build}

# Debian packages the build and the tests need.
FERROX_PACKAGES=(cmake g++ ninja-build pkg-config qtbase5-dev libluajit-5.1-dev
                 libgtest-dev libbenchmark-dev libsystemd-dev dpkg-dev man-db
                 libmosquitto-dev libssl-dev mosquitto mosquitto-clients openssl
                 fiu-utils file systemd)

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

# Flags and run-time options of the sanitizer build (scripts/check
# --sanitize), exported so that everything built or run from here on, the
# programs that tests build themselves included, uses them. A finding ends
# the process with an error; the suppressions name third-party code only.
# g++ leaves float-to-integer overflow out of "undefined": it is asked for.
ferrox_sanitizer_environment() {
    export CXXFLAGS="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"
    export LDFLAGS="-fsanitize=address,undefined,float-cast-overflow"
    export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    export LSAN_OPTIONS="suppressions=$FERROX_ROOT/scripts/lib/lsan.supp:print_suppressions=0"
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
