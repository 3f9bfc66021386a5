# Windows of the desktop over EWMH, and their pictures.
list(APPEND ORVANE_WINDOW_SOURCES
  linux/x11_windows.cpp
  linux/x11_windows_image.cpp
  linux/x11_window_pixels.cpp
)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
# Composite keeps a window's own pixels apart from the screen, for pictures
# that show no other window.
pkg_check_modules(XCB_COMPOSITE REQUIRED IMPORTED_TARGET xcb-composite)
list(APPEND ORVANE_PLATFORM_EXTRA_LIBS PkgConfig::TURBOJPEG PkgConfig::XCB_COMPOSITE)
