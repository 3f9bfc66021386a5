# The system command family: volume, brightness, appearance, sleep, lock and
# keep-awake.
list(APPEND ORVANE_COMMAND_FAMILY_SOURCES system_commands.cpp)
