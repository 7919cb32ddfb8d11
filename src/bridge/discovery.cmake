# Bridge discovery: the logic in the core, the Avahi browser among the platform back-ends.
target_sources(lumora_bridge PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/discovery.cpp
)
target_sources(lumora_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/avahi/avahi_browser.cpp
)
target_link_libraries(lumora_platform PUBLIC PkgConfig::AVAHI)
