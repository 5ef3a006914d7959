# Not a benchmark: the long-running monitoring and recording soak that scripts/soak.sh runs. It borrows the
# tests' PipeWire graph helper to put nodes of its own on the server.
add_executable(brevalo_soak soak.cpp ${PROJECT_SOURCE_DIR}/tests/platform/audio/pipewire/pipewire_test_graph.cpp)
target_include_directories(brevalo_soak PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(brevalo_soak PRIVATE brevalo::monitor brevalo::recording)
brevalo_target_options(brevalo_soak)
