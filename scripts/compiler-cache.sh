# Sourced by the build scripts: compiles through ccache when it is installed, so that builds of the
# same sources share objects whatever folder the checkout sits in (CI builds a fresh clone each
# time, three times over: plain, sanitized and fuzzing). Sets compiler_cache to CMake options.
compiler_cache=()
if command -v ccache >/dev/null 2>&1; then
  # Paths below the checkout count relative to it, and the build folder's own path is left out of
  # the debug information's hash.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  compiler_cache=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
