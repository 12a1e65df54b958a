# Every external dependency, found once, as an imported target. Link them PRIVATE unless
# a public header includes them.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Sql Network Gui Widgets PrintSupport Test)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

# Debian ships cpp-httplib compiled; its pkg-config file carries the defines that fix the
# layout of its classes, so every user compiles with exactly those: use cce::httplib only.
pkg_check_modules(CCE_HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
add_library(cce::httplib INTERFACE IMPORTED GLOBAL)
target_link_libraries(cce::httplib INTERFACE PkgConfig::CCE_HTTPLIB Threads::Threads)

find_package(OpenSSL REQUIRED)          # OpenSSL::SSL, OpenSSL::Crypto
find_package(LibXml2 REQUIRED)          # LibXml2::LibXml2
find_package(CURL REQUIRED)             # CURL::libcurl
find_package(ZLIB REQUIRED)             # ZLIB::ZLIB (gzip answers)
# The system SQLite, the very library Qt's SQLite driver loads: the server runs its large
# reads on the driver's own connection handle.
find_package(SQLite3 REQUIRED)          # SQLite::SQLite3
# libpq, which Qt's PostgreSQL driver loads: the large reads run on its connection too.
find_package(PostgreSQL REQUIRED)       # PostgreSQL::PostgreSQL

# xmlsec1 with its OpenSSL back end.
pkg_check_modules(CCE_XMLSEC REQUIRED IMPORTED_TARGET GLOBAL xmlsec1-openssl)
add_library(cce::xmlsec INTERFACE IMPORTED GLOBAL)
target_link_libraries(cce::xmlsec INTERFACE PkgConfig::CCE_XMLSEC LibXml2::LibXml2 OpenSSL::Crypto)

# libp11: A3 tokens through their PKCS#11 library; p11-kit's pkcs11.h for what libp11 keeps to itself.
pkg_check_modules(CCE_LIBP11 REQUIRED IMPORTED_TARGET GLOBAL libp11)
pkg_check_modules(CCE_P11KIT REQUIRED IMPORTED_TARGET GLOBAL p11-kit-1)
add_library(cce::libp11 INTERFACE IMPORTED GLOBAL)
target_link_libraries(cce::libp11 INTERFACE PkgConfig::CCE_LIBP11 OpenSSL::Crypto ${CMAKE_DL_LIBS})
target_include_directories(cce::libp11 INTERFACE ${CCE_P11KIT_INCLUDE_DIRS})

# zint (barcodes): Debian ships neither a CMake package nor a pkg-config file.
find_path(CCE_ZINT_INCLUDE_DIR zint.h REQUIRED)
find_library(CCE_ZINT_LIBRARY zint REQUIRED)
add_library(cce::zint UNKNOWN IMPORTED GLOBAL)
set_target_properties(cce::zint PROPERTIES
  IMPORTED_LOCATION ${CCE_ZINT_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${CCE_ZINT_INCLUDE_DIR})
