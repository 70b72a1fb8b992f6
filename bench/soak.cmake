# The soak: a million ticks at 1920x1080 with the show's long-run behaviour checked on each.
add_executable(pairstream_soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
target_link_libraries(pairstream_soak PRIVATE pairstream_headless)
pairstream_defaults(pairstream_soak)
