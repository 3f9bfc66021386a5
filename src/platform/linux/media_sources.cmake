# Media players over MPRIS on the session bus.
list(APPEND ORVANE_MEDIA_SOURCES
  linux/mpris_players.cpp
  linux/mpris_values.cpp
)
