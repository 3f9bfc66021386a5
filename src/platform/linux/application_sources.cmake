# Applications from XDG desktop entries and X11 client windows.
list(APPEND ORVANE_APPLICATION_SOURCES
  linux/app_favourites.cpp
  linux/app_icons.cpp
  linux/app_index.cpp
  linux/app_process.cpp
  linux/app_running.cpp
  linux/app_windows.cpp
  linux/desktop_entry.cpp
  linux/exec_line.cpp
  linux/mime_apps.cpp
  linux/x11_applications.cpp
)
