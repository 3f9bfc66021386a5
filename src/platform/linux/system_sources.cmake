# Volume, brightness, appearance, sleep, lock and keep-awake.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
list(APPEND ORVANE_SYSTEM_SOURCES
  linux/idle_inhibitor.cpp
  linux/logind_session.cpp
  linux/pulse_mixer.cpp
  linux/system_appearance.cpp
  linux/system_linux.cpp
  linux/x11_idle.cpp
)
list(APPEND ORVANE_PLATFORM_EXTRA_LIBS PkgConfig::PULSE)
