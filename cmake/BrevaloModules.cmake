# Shared build rules: warnings, sanitizers, and one library per source folder.

function(brevalo_target_options target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion -Wnon-virtual-dtor)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # PipeWire's and SPA's inline helpers expand to GNU statement expressions in our code.
    target_compile_options(${target} PRIVATE -Wno-gnu-statement-expression
                                             -Wno-gnu-zero-variadic-macro-arguments)
  endif()
  if(BREVALO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(BREVALO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(BREVALO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT BREVALO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "BREVALO_SANITIZE must be empty, address or thread")
endif()
if(BREVALO_FUZZ)
  # Library code gets coverage instrumentation; the fuzz targets add the libFuzzer driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# brevalo_module(<name> DEPS <targets...>)
# Builds every .cpp below the calling folder into the library brevalo_<name>
# (an interface library while the folder has no sources yet).
function(brevalo_module name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  set(target brevalo_${name})
  if(sources)
    add_library(${target} STATIC ${sources} ${headers})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    brevalo_target_options(${target})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
  add_library(brevalo::${name} ALIAS ${target})
endfunction()

# brevalo_test(<name> DEPS <targets...> [REALTIME] [NO_MAIN] [SERIAL] [LABELS ...] [SOURCES ...]
#              [EXCLUDE <gtest patterns...>])
# One GoogleTest executable from every *_test.cpp in the calling folder (or from SOURCES).
# NO_MAIN: the sources bring their own main (for a Q*Application), gtest_main is not linked.
# SERIAL: its tests never run alongside other tests (they disturb a shared service).
# EXCLUDE: cases that are not tests of their own (a child process's body, cases that another
# ctest entry runs in the environment they need); they are not registered with ctest.
# REALTIME executables are also built and run under ThreadSanitizer;
# the ThreadSanitizer build builds nothing else.
function(brevalo_test name)
  cmake_parse_arguments(ARG "REALTIME;NO_MAIN;SERIAL" "" "DEPS;LABELS;SOURCES;EXCLUDE" ${ARGN})
  if(BREVALO_SANITIZE STREQUAL "thread" AND NOT ARG_REALTIME)
    return()
  endif()
  if(ARG_SOURCES)
    set(sources ${ARG_SOURCES})
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  endif()
  if(NOT sources)
    return()
  endif()
  set(target ${name}_tests)
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock)
  if(NOT ARG_NO_MAIN)
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  brevalo_target_options(${target})
  # One label at most: gtest_discover_tests hands property values on unquoted, so a list would
  # be split. The ThreadSanitizer build needs no label: it builds only REALTIME executables.
  list(LENGTH ARG_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "brevalo_test(${name}): give at most one label")
  endif()
  set(properties ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  if(ARG_SERIAL)
    list(APPEND properties RUN_SERIAL TRUE)
  endif()
  if(ARG_LABELS)
    list(APPEND properties LABELS ${ARG_LABELS})
  elseif(ARG_REALTIME)
    list(APPEND properties LABELS realtime)
  endif()
  set(filter "*")
  if(ARG_EXCLUDE)
    list(JOIN ARG_EXCLUDE ":" excluded)
    set(filter "-${excluded}")
  endif()
  gtest_discover_tests(${target}
    TEST_FILTER "${filter}"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties}
  )
endfunction()
