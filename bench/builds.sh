# Shared by the benchmark commands that measure both Windows builds (sourced).
#   BENCH_BUILDS             which builds, in order (default: "win64 win32")
#   LORVANE_WIN64_BUILD_DIR  win64 tree (default build/win64, made with its preset)
#   LORVANE_WIN32_BUILD_DIR  win32 tree (default build/win32, made with its preset)
# The win32 build is measured only where 32-bit Windows programs can run;
# otherwise its line says why.

bench_source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
read -r -a bench_builds <<<"${BENCH_BUILDS:-win64 win32}"

# The tree of a build.
bench_tree() {
    case $1 in
        win64) echo "${LORVANE_WIN64_BUILD_DIR:-$bench_source_dir/build/win64}" ;;
        win32) echo "${LORVANE_WIN32_BUILD_DIR:-$bench_source_dir/build/win32}" ;;
        *) echo "bench: unknown build '$1' (win64 or win32)" >&2; return 1 ;;
    esac
}

# Exit 0 when BUILD can run here; otherwise prints why.
bench_can_run() {
    [[ $1 == win32 ]] || return 0
    "$bench_source_dir/tests/wine/wine32-probe"
}

# Configures BUILD's tree with its preset when it has none and builds TARGETS.
bench_build() {  # build targets...
    local build=$1 tree
    shift
    tree=$(bench_tree "$build") || return 1
    # The preset trees are built the one way every script builds.
    if [[ $tree == "$bench_source_dir/build/$build" ]]; then
        "$bench_source_dir/tools/build-preset" "$build" "$bench_source_dir/build/logs/bench-$build.log" "$@" ||
            { echo "bench: build of $build failed: $bench_source_dir/build/logs/bench-$build.log" >&2; return 1; }
        return
    fi
    mkdir -p "$(dirname "$tree")"
    if [[ ! -f $tree/build.ninja ]]; then
        (cd "$bench_source_dir" && cmake --preset "$build" -B "$tree") >"$tree.configure.log" 2>&1 ||
            { echo "bench: configure of $build failed: $tree.configure.log" >&2; return 1; }
    fi
    cmake --build "$tree" --target "$@" -j2 >"$tree/bench-build.log" 2>&1 ||
        { echo "bench: build of $build failed: $tree/bench-build.log" >&2; return 1; }
}
