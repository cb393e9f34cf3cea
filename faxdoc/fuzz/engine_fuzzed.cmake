# The document engines built for fuzzing (library faxdoc_fuzzed), with the fax font: shared by the
# fuzz projects of the readers that stand on them. Needs ZN_SOURCE.
set(faxfont_cpp ${CMAKE_CURRENT_BINARY_DIR}/faxfont_data.cpp)
add_custom_command(
  OUTPUT ${faxfont_cpp}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${ZN_SOURCE}/resources/fonts/faxfont.bin -DINPUT_NAME=faxfont.bin
          -DOUTPUT=${faxfont_cpp} -DFUNCTION=FaxFontResource -P ${ZN_SOURCE}/resources/fonts/embed.cmake
  DEPENDS ${ZN_SOURCE}/resources/fonts/faxfont.bin)

include(${ZN_SOURCE}/faxdoc/engine_sources.cmake)
list(TRANSFORM ZN_FAXDOC_ENGINE_SOURCES PREPEND ${ZN_SOURCE}/faxdoc/)
add_library(faxdoc_fuzzed STATIC ${ZN_FAXDOC_ENGINE_SOURCES} ${ZN_SOURCE}/platform/io_error.cpp
            ${ZN_SOURCE}/platform/file_replacement.cpp ${ZN_SOURCE}/platform/end_removals.cpp
            ${ZN_SOURCE}/platform/plain_file.cpp ${faxfont_cpp})
target_include_directories(faxdoc_fuzzed PUBLIC ${ZN_SOURCE})
target_compile_options(faxdoc_fuzzed PUBLIC -g -O1 -fsanitize=fuzzer-no-link,address,undefined
                       -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
target_link_options(faxdoc_fuzzed PUBLIC -fsanitize=address,undefined)
