# Publishing the simulated bridge with DNS-SD through the Avahi daemon (--advertise).
target_sources(lumora_sim PRIVATE ${CMAKE_CURRENT_LIST_DIR}/advertise.cpp)
target_link_libraries(lumora_sim PUBLIC PkgConfig::AVAHI)
