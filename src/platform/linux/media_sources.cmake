# Media players over MPRIS on the session bus.
# list(APPEND ORVANE_MEDIA_SOURCES linux/....cpp)
# Extra libraries: list(APPEND ORVANE_PLATFORM_EXTRA_LIBS ...)
