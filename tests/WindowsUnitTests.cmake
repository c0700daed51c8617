# GoogleTest built from source (Debian's googletest package ships it).
set(VANTOIR_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
# Its own warnings are not ours to fix. It and the tests' own code are
# compiled without optimisation: they wait on Wine and on boards, and they are
# most of what this build compiles. The code under test keeps the build's
# own flags.
add_subdirectory(${VANTOIR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main)
  set_target_properties(${gtest_target} PROPERTIES COMPILE_OPTIONS "-w;-O0")
endforeach()

function(vantoir_windows_unit_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBRARIES" ${ARGN})
  list(TRANSFORM arg_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  add_executable(${name} ${arg_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} gtest gtest_main)
  target_compile_options(${name} PRIVATE -O0)
  target_compile_definitions(${name} PRIVATE VANTOIR_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set_property(GLOBAL APPEND PROPERTY VANTOIR_WINDOWS_UNIT_TESTS ${name})
endfunction()

vantoir_windows_unit_test(unit_text
  SOURCES text/LineBufTest.cpp text/RingBufTest.cpp text/UploadFileTest.cpp text/Sha256Test.cpp
          text/ImageCheckTest.cpp text/AppendFileTest.cpp
          text/StampFieldTest.cpp text/RecordStampTest.cpp text/LockedLogTest.cpp text/UtcTimeTest.cpp
          text/AllocSpy.cpp
  LIBRARIES vantoir_text)
vantoir_windows_unit_test(unit_serial
  SOURCES serial/COMPortTest.cpp serial/PortHelpersTest.cpp protocol/ConsoleKeySequencesTest.cpp
          serial/PortSelectorTest.cpp serial/UsbDeviceIdTest.cpp serial/ModemLinesTest.cpp
          serial/PortPlatformWin32Test.cpp
  LIBRARIES vantoir_serial)
# Needs a console as standard input: scripts/test-windows runs it on a terminal.
vantoir_windows_unit_test(unit_console
  SOURCES serial/ConsoleInputWin32Test.cpp
  LIBRARIES vantoir_serial)
vantoir_windows_unit_test(unit_app
  SOURCES app/CommandLineParseTest.cpp app/ProgramFlowPortFailureTest.cpp app/check/ImageCheckTextTest.cpp
          app/report/RunReportLineTest.cpp protocol/DeadlineTest.cpp app/gang/GangOutputTest.cpp
          app/fixture/FixtureFlowTest.cpp app/records/RecordFileTest.cpp
          app/yield/YieldFiguresTest.cpp
  LIBRARIES vantoir_app vantoir_json)

# The child that unit_process starts, beside it (named so that it is no unit
# test of its own).
add_executable(process_child ${CMAKE_CURRENT_SOURCE_DIR}/process/helpers/ProcessChild.cpp)
target_link_libraries(process_child PRIVATE vantoir_process)
vantoir_windows_unit_test(unit_process
  SOURCES process/ChildProcessesTest.cpp
  LIBRARIES vantoir_process)
target_compile_definitions(unit_process PRIVATE
  PROCESS_CHILD_NAME="$<TARGET_FILE_NAME:process_child>")
add_dependencies(unit_process process_child)

get_property(unit_tests GLOBAL PROPERTY VANTOIR_WINDOWS_UNIT_TESTS)
add_custom_target(windows_unit_tests DEPENDS ${unit_tests})
