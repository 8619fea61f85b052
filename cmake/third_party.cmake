# libbzip2 and Boost.Iostreams' bzip2 filter, built from the Debian sources that
# scripts/setup.sh unpacks into the dependency cache; Boost and {fmt} headers are made
# visible through links in a build-local include folder, never the host's whole /usr/include.
set(STELVANE_DEPS "$ENV{HOME}/.cache/stelvane-deps" CACHE PATH "Cache of the third-party sources")
if(DEFINED ENV{STELVANE_DEPS})
    set(STELVANE_DEPS "$ENV{STELVANE_DEPS}" CACHE PATH "" FORCE)
endif()
if(NOT EXISTS "${STELVANE_DEPS}/bzip2/bzlib.c" OR NOT EXISTS "${STELVANE_DEPS}/boost-iostreams/bzip2.cpp")
    message(FATAL_ERROR "Third-party sources missing in ${STELVANE_DEPS}: run scripts/setup.sh")
endif()

set(deps_include "${CMAKE_BINARY_DIR}/deps-include")
file(MAKE_DIRECTORY "${deps_include}")
foreach(dir boost fmt)
    if(NOT EXISTS "${deps_include}/${dir}")
        file(CREATE_LINK "/usr/include/${dir}" "${deps_include}/${dir}" SYMBOLIC)
    endif()
endforeach()

add_library(deps_headers INTERFACE)
target_include_directories(deps_headers SYSTEM INTERFACE "${deps_include}")
# Boost.UUID draws its entropy from advapi32 (CryptGenRandom) instead of bcrypt: advapi32 is a
# library that Windows always takes from its own folder, bcrypt is not, and an import of it would
# load a bcrypt.dll lying beside the installer.
target_compile_definitions(deps_headers INTERFACE FMT_HEADER_ONLY BOOST_ALL_NO_LIB
    BOOST_UUID_RANDOM_PROVIDER_FORCE_WINCRYPT)

set(bz "${STELVANE_DEPS}/bzip2")
add_library(bz2 STATIC
    ${bz}/blocksort.c ${bz}/huffman.c ${bz}/crctable.c ${bz}/randtable.c
    ${bz}/compress.c ${bz}/decompress.c ${bz}/bzlib.c)
target_include_directories(bz2 SYSTEM PUBLIC "${bz}")
# BZ_EXPORT: on Windows bzlib.h otherwise declares function pointers for a DLL.
target_compile_definitions(bz2 PUBLIC BZ_EXPORT)
# GCC would turn the move-to-front loops into memmove calls, which msvcrt makes slower.
target_compile_options(bz2 PRIVATE -O2 -fno-tree-loop-distribute-patterns -w)

add_library(boost_iostreams_bzip2 STATIC "${STELVANE_DEPS}/boost-iostreams/bzip2.cpp")
target_compile_definitions(boost_iostreams_bzip2 PRIVATE BOOST_IOSTREAMS_SOURCE)
target_link_libraries(boost_iostreams_bzip2 PUBLIC bz2 deps_headers)
target_compile_options(boost_iostreams_bzip2 PRIVATE -w)

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)

# zlib from Debian's MinGW package, for its fast CRC-32; the static archive, so that the
# programs need no zlib DLL.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
add_library(zlib_static STATIC IMPORTED)
set_target_properties(zlib_static PROPERTIES IMPORTED_LOCATION "${ZLIB_STATIC}")
