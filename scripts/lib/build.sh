# shellcheck shell=bash
# build_postowl ROOT BUILD_DIR [TARGET...]: configures (once) and builds,
# adding the CMake options of the array BUILD_OPTIONS when the caller set one.
build_postowl() {
    local root=$1 build=$2
    shift 2
    local targets=()
    local target
    for target in "$@"; do targets+=(--target "$target"); done
    local launcher=()
    # Rebuilds after a branch switch are much cheaper through ccache, where there is one.
    if command -v ccache >/dev/null 2>&1; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
    local options=()
    if declare -p BUILD_OPTIONS >/dev/null 2>&1; then options=("${BUILD_OPTIONS[@]}"); fi
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${options[@]}"
    cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
}
