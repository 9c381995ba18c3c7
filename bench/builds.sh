# Shared by the benchmark commands that measure both Windows builds (sourced).
#   BENCH_BUILDS             which builds, in order (default: "win64 win32")
# Builds are the preset trees build/win64 and build/win32.
# The win32 build is measured only where 32-bit Windows programs can run;
# otherwise its line says why.

bench_source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
read -r -a bench_builds <<<"${BENCH_BUILDS:-win64 win32}"

# The tree of a build.
bench_tree() {
    case $1 in
        win64 | win32) echo "$bench_source_dir/build/$1" ;;
        *) echo "bench: unknown build '$1' (win64 or win32)" >&2; return 1 ;;
    esac
}

# Exit 0 when BUILD can run here; otherwise prints why.
bench_can_run() {
    [[ $1 == win32 ]] || return 0
    "$bench_source_dir/tests/wine/wine32-probe"
}

# Builds TARGETS of BUILD's preset tree, configuring it first if need be.
bench_build() {  # build targets...
    local build=$1
    shift
    bench_tree "$build" >/dev/null || return 1
    "$bench_source_dir/devtools/build-preset" "$build" "$bench_source_dir/build/logs/bench-$build.log" "$@" ||
        { echo "bench: build of $build failed: $bench_source_dir/build/logs/bench-$build.log" >&2; return 1; }
}
