# The cover designer: a drag of a selection of 50 items across the page, every repaint timed with the
# offscreen platform; beside the same 50 items dragged in a QGraphicsView.
add_executable(zn_bench_designer ${CMAKE_CURRENT_LIST_DIR}/designer_bench.cpp)
target_link_libraries(zn_bench_designer PRIVATE zn_cover_gui)
