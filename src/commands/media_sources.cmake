# The media command family.
list(APPEND ORVANE_COMMAND_FAMILY_SOURCES media_controller.cpp)
