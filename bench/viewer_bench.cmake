# The fax viewer (first page shown, page turned) and printing a fax to a PDF file against libtiff's
# fax2ps piped into ghostscript's ps2pdf.
add_executable(zn_bench_viewer ${CMAKE_CURRENT_LIST_DIR}/viewer_bench.cpp)
target_link_libraries(zn_bench_viewer PRIVATE zn_faxdoc_widgets)
target_compile_definitions(zn_bench_viewer PRIVATE ZN_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
