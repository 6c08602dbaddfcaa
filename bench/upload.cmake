# The upload's throughput against the simulated module (a plain program: it times whole uploads).
if(TARGET nw_flasher AND TARGET nw_sim)
  add_executable(bench_upload ${CMAKE_CURRENT_LIST_DIR}/upload_bench.cpp)
  target_link_libraries(bench_upload PRIVATE nw_flasher nw_sim ZLIB::ZLIB)
endif()

# The picture of the Firmware page mid-upload (tools/screenshot-upload.sh runs it under Xvfb).
if(TARGET nw_app AND TARGET nw_sim)
  add_executable(upload_screenshot ${CMAKE_CURRENT_LIST_DIR}/upload_screenshot.cpp)
  target_link_libraries(upload_screenshot PRIVATE nw_app nw_sim ZLIB::ZLIB)
endif()
