# shellcheck shell=bash
# build_postowl ROOT BUILD_DIR [TARGET...]: configures (once) and builds.
build_postowl() {
    local root=$1 build=$2
    shift 2
    local targets=()
    local target
    for target in "$@"; do targets+=(--target "$target"); done
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
}
