# Compiler settings every QVT target shares, and the test registration helper.

if(QVT_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "QVT_SANITIZE is for GCC and Clang builds")
  endif()
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(qvt_target_defaults target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /utf-8 /permissive-)
    if(QVT_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
                           -Wnon-virtual-dtor -Wformat=2 -Wundef -Wcast-align)
    if(QVT_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                               _WIN32_WINNT=0x0601)
  endif()
endfunction()

# qvt_add_test(NAME SOURCES files... [LIBS libs...] [LABELS labels...] [SERIAL])
# One GoogleTest program, registered as one test. In the cross build CMake
# runs it through the Wine wrapper (CMAKE_CROSSCOMPILING_EMULATOR).
function(qvt_add_test name)
  cmake_parse_arguments(T "SERIAL" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  qvt_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(labels unit ${T_LABELS})
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT 600)
  if(T_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
  endif()
endfunction()
