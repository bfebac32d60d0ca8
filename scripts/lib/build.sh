# shellcheck shell=bash
# build_postowl ROOT BUILD_DIR [-DOPTION=VALUE...] [TARGET...]: configures and
# builds. Arguments starting with -D go to the configure step (a later
# -DCMAKE_BUILD_TYPE wins over the default RelWithDebInfo); the rest are targets.
build_postowl() {
    local root=$1 build=$2
    shift 2
    local options=() targets=()
    local arg
    for arg in "$@"; do
        case $arg in
            -D*) options+=("$arg") ;;
            *) targets+=(--target "$arg") ;;
        esac
    done
    # Rebuilds after a branch switch are much cheaper through ccache, where there is one.
    if command -v ccache >/dev/null 2>&1; then options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
    cmake --build "$build" --parallel "$(nproc 2>/dev/null || echo 2)" "${targets[@]}"
}
