# Applications from XDG desktop entries and X11 client windows.
list(APPEND ORVANE_APPLICATION_SOURCES
  linux/x11_applications.cpp
)
