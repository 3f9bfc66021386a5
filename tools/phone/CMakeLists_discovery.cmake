# DNS-SD discovery for orvane-phone and the platform tests: plain avahi-client,
# no Qt. Included from the directory that builds orvane-phone, and by the
# platform tests should that directory not exist yet; the first one wins.
if(TARGET orvane_phone_discovery)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(AVAHI REQUIRED IMPORTED_TARGET avahi-client)

add_library(orvane_phone_discovery STATIC ${CMAKE_CURRENT_LIST_DIR}/discover.cpp)
# Callers write #include "phone/discover.h".
target_include_directories(orvane_phone_discovery PUBLIC ${PROJECT_SOURCE_DIR}/tools)
target_link_libraries(orvane_phone_discovery PRIVATE PkgConfig::AVAHI)
