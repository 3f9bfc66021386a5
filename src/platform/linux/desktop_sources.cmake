# Links, folders, processes and the clipboard.
list(APPEND ORVANE_DESKTOP_SOURCES
  linux/workspace.cpp
  linux/pasteboard.cpp
)
