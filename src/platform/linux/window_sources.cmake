# Windows of the desktop over EWMH, and their pictures.
list(APPEND ORVANE_WINDOW_SOURCES
  linux/x11_windows.cpp
  linux/x11_windows_image.cpp
)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
list(APPEND ORVANE_PLATFORM_EXTRA_LIBS PkgConfig::TURBOJPEG)
