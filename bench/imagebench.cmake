# Slice image series benchmark; needs the export library
# (include from bench/CMakeLists.txt when QUARNE_BUILD_EXPORT is on).
if(TARGET export)
  add_executable(image_bench ${CMAKE_CURRENT_LIST_DIR}/image_bench.cpp)
  target_link_libraries(image_bench PRIVATE export benchmark::benchmark)
endif()
