# The cover renderer, dithering and JPEG decoding against netpbm, ImageMagick and djpeg.
add_executable(zn_bench_cover ${CMAKE_CURRENT_LIST_DIR}/cover_bench.cpp)
target_link_libraries(zn_bench_cover PRIVATE zn_cover_samples)
