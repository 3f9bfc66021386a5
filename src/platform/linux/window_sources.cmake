# Windows of the desktop over EWMH, and their pictures.
# list(APPEND ORVANE_WINDOW_SOURCES linux/....cpp)
# Extra libraries: list(APPEND ORVANE_PLATFORM_EXTRA_LIBS ...)
