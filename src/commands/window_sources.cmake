# The window command family.
list(APPEND ORVANE_COMMAND_FAMILY_SOURCES window_commands.cpp)
