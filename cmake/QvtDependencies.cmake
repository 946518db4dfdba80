# The libraries QVT uses, found the same way natively and in the cross build
# (where the toolchain file points the searches at the MinGW prefix).

find_package(ZLIB 1.2 REQUIRED)
find_package(PNG 1.6 REQUIRED)
find_package(tinyxml2 CONFIG REQUIRED)
if(QVT_BUILD_TESTS)
  find_package(GTest CONFIG REQUIRED)
endif()

# Boost: only the header-only Regex is used.
find_path(QVT_BOOST_INCLUDE_DIR boost/version.hpp REQUIRED)
file(STRINGS "${QVT_BOOST_INCLUDE_DIR}/boost/version.hpp" qvt_boost_version_line
     REGEX "^#define BOOST_VERSION [0-9]+")
string(REGEX MATCH "[0-9]+$" qvt_boost_version "${qvt_boost_version_line}")
if(qvt_boost_version LESS 108100)
  message(FATAL_ERROR "Boost 1.81 or later is needed; found ${qvt_boost_version} in ${QVT_BOOST_INCLUDE_DIR}")
endif()
add_library(qvt_boost_headers INTERFACE)
target_include_directories(qvt_boost_headers SYSTEM INTERFACE "${QVT_BOOST_INCLUDE_DIR}")
