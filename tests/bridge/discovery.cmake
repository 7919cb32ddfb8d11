# Discovery: the logic with a scripted DNS-SD browser, and the web stage against the
# simulated bridge on loopback.
add_executable(lumora_discovery_tests
  ${CMAKE_CURRENT_LIST_DIR}/discovery_test.cpp
)
target_link_libraries(lumora_discovery_tests PRIVATE lumora_core lumora_sim GTest::gtest_main)
target_include_directories(lumora_discovery_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
gtest_discover_tests(lumora_discovery_tests DISCOVERY_TIMEOUT 30)
