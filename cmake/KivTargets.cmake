# kiv_library(NAME DEPS...): a static library from every .cpp in the current
# source folder; headers are included as "folder/file.h" from src/.
function(kiv_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    # A folder whose code has not been written yet still gives a library.
    set(sources ${PROJECT_SOURCE_DIR}/data/embedded.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN})
endfunction()

# kiv_test(NAME DEPS...): one GoogleTest binary from every .cpp in the current
# tests folder, registered with CTest test by test.
function(kiv_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    KIV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KIV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(EMSCRIPTEN)
    # One CTest test per binary: discovery would run node at build time.
    target_link_options(${name} PRIVATE -sALLOW_MEMORY_GROWTH=1 -sNODERAWFS=1 -sENVIRONMENT=node
                        -sGLOBAL_BASE=65536 -sEXIT_RUNTIME=1)
    # Node 20 cannot fetch a .wasm file by path; without fetch it reads it.
    add_test(NAME ${name} COMMAND node --no-experimental-fetch $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS unit)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
  endif()
endfunction()
