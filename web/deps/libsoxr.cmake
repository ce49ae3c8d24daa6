# What the configure checks of libsoxr find with emcc (emscripten 3.1.6, wasm32),
# given to its CMake run (-C) so that the checks, each a run of emcc, need not
# run again.
set(HAVE_BIGENDIAN "0" CACHE INTERNAL "")
set(HAVE_FENV_H "1" CACHE INTERNAL "")
set(HAVE_LRINT "1" CACHE INTERNAL "")
set(HAVE_STDBOOL_H "1" CACHE INTERNAL "")
set(HAVE_STDINT_H "1" CACHE INTERNAL "")
set(NEED_LIBM "1" CACHE INTERNAL "")
