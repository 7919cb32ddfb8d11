# DNS-SD on real Avahi daemons: discovery end to end between two network namespaces
# (needs root and iproute2; skipped with the reason otherwise).
add_executable(lumora-discover-probe ${CMAKE_CURRENT_LIST_DIR}/avahi_probe.cpp)
target_link_libraries(lumora-discover-probe PRIVATE lumora_platform)

add_executable(lumora_avahi_tests
  ${CMAKE_CURRENT_LIST_DIR}/avahi_namespace_test.cpp
)
target_link_libraries(lumora_avahi_tests PRIVATE lumora_desktop_support lumora_platform lumora_sim
  GTest::gtest_main)
target_compile_definitions(lumora_avahi_tests PRIVATE
  LUMORA_BRIDGE_SIM="$<TARGET_FILE:lumora-bridge-sim>"
  LUMORA_DISCOVER_PROBE="$<TARGET_FILE:lumora-discover-probe>"
)
add_dependencies(lumora_avahi_tests lumora-bridge-sim lumora-discover-probe)
# Each test in a process of its own: the D-Bus library keeps the first bus address it
# reads for the life of the process.
gtest_discover_tests(lumora_avahi_tests DISCOVERY_TIMEOUT 30 PROPERTIES LABELS netns TIMEOUT 120)
