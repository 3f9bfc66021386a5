# Keyboard, pointer, displays and user activity on X11.
list(APPEND ORVANE_INPUT_SOURCES
  linux/x11_input.cpp
  linux/x11_keymap.cpp
  linux/x11_displays.cpp
  linux/x11_power.cpp
)
