# What the configure checks of libjpeg-turbo find with emcc (emscripten 3.1.6, wasm32),
# given to its CMake run (-C) so that the checks, each a run of emcc, need not
# run again. The type sizes are given because CMake cannot read them from
# emcc's output.
set(HAVE_SIZE_T "TRUE" CACHE INTERNAL "")
set(SIZE_T "4" CACHE INTERNAL "")
set(HAVE_UNSIGNED_LONG "TRUE" CACHE INTERNAL "")
set(UNSIGNED_LONG "4" CACHE INTERNAL "")
set(HAVE_BUILTIN_CTZL "1" CACHE INTERNAL "")
set(HAVE_STDDEF_H "1" CACHE INTERNAL "")
set(HAVE_STDINT_H "1" CACHE INTERNAL "")
set(HAVE_SYS_TYPES_H "1" CACHE INTERNAL "")
set(HAVE_VERSION_SCRIPT "1" CACHE INTERNAL "")
set(INLINE_WORKS "1" CACHE INTERNAL "")
