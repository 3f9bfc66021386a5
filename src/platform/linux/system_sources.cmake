# Volume, brightness, appearance, sleep, lock and keep-awake.
# list(APPEND ORVANE_SYSTEM_SOURCES linux/....cpp)
# Extra libraries: list(APPEND ORVANE_PLATFORM_EXTRA_LIBS ...)
