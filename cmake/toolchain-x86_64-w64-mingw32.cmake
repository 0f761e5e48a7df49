# The same programs as 64-bit Windows programs: built to be tested under
# 64-bit Wine where 32-bit programs cannot run, never packaged.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
