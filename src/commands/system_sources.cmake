# The system command family.
# list(APPEND ORVANE_COMMAND_FAMILY_SOURCES system_....cpp)
