# Third-party libraries, from the host's packages (Debian: libcrypto++-dev,
# googletest). The Windows build links a static MinGW Crypto++ built from
# Debian's source package by scripts/build-cryptopp-mingw.sh; other cross
# builds point ECUPROG_CRYPTOPP_ROOT at their own build.
if(WIN32 AND NOT ECUPROG_CRYPTOPP_ROOT)
  execute_process(
    COMMAND bash "${PROJECT_SOURCE_DIR}/scripts/build-cryptopp-mingw.sh" --locate
    OUTPUT_VARIABLE cryptopp_root
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE cryptopp_missing)
  if(cryptopp_missing)
    message(FATAL_ERROR
      "Crypto++ for MinGW is not built yet: run scripts/build-cryptopp-mingw.sh "
      "(scripts/windows-build.sh does), or set ECUPROG_CRYPTOPP_ROOT.")
  endif()
  set(ECUPROG_CRYPTOPP_ROOT "${cryptopp_root}" CACHE PATH
    "Folder with lib/libcryptopp.a and include/cryptopp of a cross-built Crypto++")
endif()

if(ECUPROG_CRYPTOPP_ROOT)
  if(NOT EXISTS "${ECUPROG_CRYPTOPP_ROOT}/lib/libcryptopp.a")
    message(FATAL_ERROR "ECUPROG_CRYPTOPP_ROOT holds no lib/libcryptopp.a: ${ECUPROG_CRYPTOPP_ROOT}")
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
