# Third-party libraries, from the host's packages (Debian: libcrypto++-dev,
# googletest). The Windows build links a static MinGW Crypto++ built from
# Debian's source package by scripts/build-cryptopp-mingw.sh; other cross
# builds point ECUPROG_CRYPTOPP_ROOT at their own build.
if(WIN32 AND NOT ECUPROG_CRYPTOPP_ROOT)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "ECUPROG_MINGW_TARGET=${ECUPROG_MINGW_TARGET}"
            bash "${PROJECT_SOURCE_DIR}/scripts/build-cryptopp-mingw.sh" --locate
    OUTPUT_VARIABLE cryptopp_root
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE cryptopp_missing)
  if(cryptopp_missing)
    message(FATAL_ERROR
      "Crypto++ for ${ECUPROG_MINGW_TARGET} is not built yet: run "
      "ECUPROG_MINGW_TARGET=${ECUPROG_MINGW_TARGET} scripts/build-cryptopp-mingw.sh "
      "(scripts/windows-build.sh does), or set ECUPROG_CRYPTOPP_ROOT.")
  endif()
  set(ECUPROG_CRYPTOPP_ROOT "${cryptopp_root}" CACHE PATH
    "Folder with lib/libcryptopp.a and include/cryptopp of a cross-built Crypto++")
endif()

if(ECUPROG_CRYPTOPP_ROOT)
  if(NOT EXISTS "${ECUPROG_CRYPTOPP_ROOT}/lib/libcryptopp.a")
    message(FATAL_ERROR "ECUPROG_CRYPTOPP_ROOT holds no lib/libcryptopp.a: ${ECUPROG_CRYPTOPP_ROOT}")
  endif()
  # A build of the script records its target: one for the other bitness
  # would only fail at the link, or not at all for a header-only use.
  if(WIN32 AND EXISTS "${ECUPROG_CRYPTOPP_ROOT}/.compiler")
    file(READ "${ECUPROG_CRYPTOPP_ROOT}/.compiler" cryptopp_compiler)
    if(NOT cryptopp_compiler MATCHES "^${ECUPROG_MINGW_TARGET} ")
      message(FATAL_ERROR "ECUPROG_CRYPTOPP_ROOT was built for another target "
        "than ${ECUPROG_MINGW_TARGET}: ${cryptopp_compiler}")
    endif()
  endif()
  add_library(ecuprog::cryptopp STATIC IMPORTED GLOBAL)
  set_target_properties(ecuprog::cryptopp PROPERTIES
    IMPORTED_LOCATION "${ECUPROG_CRYPTOPP_ROOT}/lib/libcryptopp.a"
    INTERFACE_INCLUDE_DIRECTORIES "${ECUPROG_CRYPTOPP_ROOT}/include")
  if(WIN32)
    # Crypto++'s socket and random-number sources; the import is only kept
    # for what the program uses.
    set_property(TARGET ecuprog::cryptopp PROPERTY
      INTERFACE_LINK_LIBRARIES ws2_32 advapi32)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(CRYPTOPP REQUIRED IMPORTED_TARGET libcrypto++)
  add_library(ecuprog::cryptopp ALIAS PkgConfig::CRYPTOPP)
endif()

# Linux: the tool is linked statically. Finding and relocating the shared
# Crypto++, Cap'n Proto and C++ libraries at every start cost the tool more
# CPU time than a whole job's own work. The sanitizer and fuzzing builds
# cannot link statically and keep the shared libraries.
option(ECUPROG_STATIC_TOOL "Link the ecuprog executable statically (Linux)" ON)
set(ECUPROG_STATIC_LINK_OPTIONS "")
if(ECUPROG_STATIC_TOOL AND NOT WIN32 AND NOT ECUPROG_SANITIZE AND NOT ECUPROG_FUZZ)
  set(static_found TRUE)
  foreach(lib capnp-rpc capnp kj-async kj crypto++)
    find_library(ECUPROG_${lib}_STATIC NAMES lib${lib}.a)
    if(NOT ECUPROG_${lib}_STATIC)
      set(static_found FALSE)
    endif()
  endforeach()
  if(static_found)
    # Cap'n Proto's package file keeps the library it finds in these cache
    # entries, so the archives are put there before it looks.
    foreach(lib capnp-rpc capnp kj-async kj)
      set(CapnProto_${lib}_IMPORTED_LOCATION "${ECUPROG_${lib}_STATIC}"
        CACHE FILEPATH "Cap'n Proto's ${lib} library" FORCE)
    endforeach()
    set_property(TARGET PkgConfig::CRYPTOPP PROPERTY
      INTERFACE_LINK_LIBRARIES "${ECUPROG_crypto++_STATIC}")
    # The linker notes that Cap'n Proto's host-name lookup would need glibc's
    # shared name-service modules; the tool connects by socket pair only and
    # never looks up a name.
    set(ECUPROG_STATIC_LINK_OPTIONS -static)
  else()
    message(STATUS "Static Crypto++/Cap'n Proto archives not found: ecuprog is linked to the shared libraries")
  endif()
endif()

# JSON: the simulator's bench descriptions and the job's record.
find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  # A cross build finds no package for its target, but the library is only
  # headers: take the host's copy, staged alone so that no other host header
  # comes along.
  find_path(ECUPROG_NLOHMANN_INCLUDE nlohmann/json.hpp
    PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  file(COPY "${ECUPROG_NLOHMANN_INCLUDE}/nlohmann"
    DESTINATION "${PROJECT_BINARY_DIR}/third_party")
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE
    "${PROJECT_BINARY_DIR}/third_party")
endif()
