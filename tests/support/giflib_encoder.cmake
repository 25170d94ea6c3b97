# giflib's encoder for the GIF tests and benchmarks (support/giflib_encoder.h); included by
# both, made once.
if(NOT TARGET sorowa_giflib_encoder)
  find_package(GIF REQUIRED)
  add_library(sorowa_giflib_encoder STATIC ${CMAKE_CURRENT_LIST_DIR}/giflib_encoder.cpp)
  target_include_directories(sorowa_giflib_encoder PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
  target_link_libraries(sorowa_giflib_encoder PUBLIC GIF::GIF)
  set_target_properties(sorowa_giflib_encoder PROPERTIES AUTOMOC OFF)
endif()
