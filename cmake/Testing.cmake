# One place that knows how tests are built and run in each build:
#   natively they run as they are; in the Windows build they run under Wine
#   (CMAKE_CROSSCOMPILING_EMULATOR) in a private prefix inside the build folder.
include_guard(GLOBAL)
enable_testing()
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  # Debian ships GoogleTest's sources; build them with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  set(TDE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(TDE_WINE_SETUP "")
  set(TDE_WINE_RUN_OVERRIDES "")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE @ONLY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run CACHE FILEPATH "" FORCE)
  # The build boots the prefix once; later builds find it booted.
  add_custom_command(OUTPUT ${TDE_WINEPREFIX}/.tde-booted
                     COMMAND ${CMAKE_BINARY_DIR}/wine-run --boot
                     COMMENT "Booting the private Wine prefix")
  add_custom_target(wineprefix ALL DEPENDS ${TDE_WINEPREFIX}/.tde-booted)
else()
  find_package(GTest REQUIRED)
endif()

# tde_add_wine_prefix(NAME n [WINDOWS_VERSION v] [RUN_OVERRIDES o])
# A further private prefix, build/<preset>/wineprefix-<n>, with its own runner
# wine-run-<n> and a target wineprefix-<n> that boots it. WINDOWS_VERSION is a
# winecfg /v name (win10, win7, ...); RUN_OVERRIDES are load-order overrides
# ("name.exe=n") added for the programs run there, but not for the boot.
function(tde_add_wine_prefix)
  cmake_parse_arguments(P "" "NAME;WINDOWS_VERSION;RUN_OVERRIDES" "" ${ARGN})
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(TDE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix-${P_NAME})
  set(TDE_WINE_SETUP "")
  if(P_WINDOWS_VERSION)
    set(TDE_WINE_SETUP "wine winecfg /v ${P_WINDOWS_VERSION} >/dev/null 2>&1 && wineserver -w &&")
  endif()
  set(TDE_WINE_RUN_OVERRIDES "")
  if(P_RUN_OVERRIDES)
    set(TDE_WINE_RUN_OVERRIDES ";${P_RUN_OVERRIDES}")
  endif()
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run-${P_NAME}
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE @ONLY)
  add_custom_command(OUTPUT ${TDE_WINEPREFIX}/.tde-booted
                     COMMAND ${CMAKE_BINARY_DIR}/wine-run-${P_NAME} --boot
                     COMMENT "Booting the private Wine prefix ${P_NAME}")
  add_custom_target(wineprefix-${P_NAME} ALL DEPENDS ${TDE_WINEPREFIX}/.tde-booted)
endfunction()

# Windows path of a file of this build, for arguments handed to Windows programs
# (Wine maps drive Z: to the Unix root).
function(tde_windows_path out path)
  string(REPLACE "/" "\\" p "${path}")
  set(${out} "Z:${p}" PARENT_SCOPE)
endfunction()

# tde_gtest_suites(out SOURCES ...)
# The GoogleTest suites the sources define, each as "Suite=filter": the filter
# is "Suite.*" for a suite of TEST or TEST_F cases, and "Prefix/Suite.*" for
# each instantiation of a TEST_P suite, joined by ":". Read from the sources at
# configure time, because the Windows build cannot run its programs to list
# them; an edited source makes CMake read them again. The native test
# unit.<name>.wine_suites checks the scan against the program's own list.
function(tde_gtest_suites out)
  cmake_parse_arguments(S "" "" "SOURCES" ${ARGN})
  set(ws "[ \t\r\n]*")
  set(id "[A-Za-z_][A-Za-z0-9_]*")
  set(suites "")
  set(plain "")
  set(instances "")
  foreach(source IN LISTS S_SOURCES)
    get_filename_component(path ${source} ABSOLUTE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(READ ${path} text)
    string(REGEX MATCHALL "[^A-Za-z0-9_](TEST|TEST_F|TEST_P)\\(${ws}${id}" hits "${text}")
    foreach(hit IN LISTS hits)
      string(REGEX REPLACE ".*\\(${ws}" "" suite "${hit}")
      list(APPEND suites ${suite})
      if(NOT hit MATCHES "TEST_P")
        list(APPEND plain ${suite})  # its cases are named Suite.Case
      endif()
    endforeach()
    string(REGEX MATCHALL "INSTANTIATE_TEST_SUITE_P\\(${ws}${id}${ws},${ws}${id}" hits "${text}")
    foreach(hit IN LISTS hits)
      string(REGEX REPLACE ".*\\(${ws}(${id})${ws},${ws}(${id})" "\\2/\\1" instance "${hit}")
      list(APPEND instances ${instance})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES suites)
  set(result "")
  foreach(suite IN LISTS suites)
    set(patterns "")
    if(suite IN_LIST plain)
      list(APPEND patterns "${suite}.*")
    endif()
    foreach(instance IN LISTS instances)
      if(instance MATCHES "^${suite}/(.*)$")
        list(APPEND patterns "${CMAKE_MATCH_1}/${suite}.*")
      endif()
    endforeach()
    list(JOIN patterns ":" filter)
    if(filter)  # a TEST_P suite never instantiated has no cases
      list(APPEND result "${suite}=${filter}")
    endif()
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# tde_add_unit_test(NAME n SOURCES ... [LIBS ...] [NATIVE_ONLY] [RESOURCE_LOCK r])
# A GoogleTest program over portable code. It is built in both builds: natively
# each test case is one CTest test; under Wine each suite is one CTest test,
# wine.unit.<name>.<Suite> (one per case would start Wine once per case).
function(tde_add_unit_test)
  cmake_parse_arguments(T "NATIVE_ONLY" "NAME;RESOURCE_LOCK;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(T_NATIVE_ONLY AND CMAKE_CROSSCOMPILING)
    return()
  endif()
  set(target test_${T_NAME})
  add_executable(${target} ${T_SOURCES})
  # Tests may reach any header of the tree; the layers bind the product alone.
  # Their shared helpers are included as "support/...".
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE ${T_LIBS} tde_test_support GTest::gtest GTest::gmock
                                              GTest::gtest_main)
  # Cases build records with designated initializers naming only the fields they care about.
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -Wno-missing-field-initializers)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  tde_gtest_suites(suites SOURCES ${T_SOURCES})
  if(CMAKE_CROSSCOMPILING)
    foreach(entry IN LISTS suites)
      string(REGEX REPLACE "=.*" "" suite "${entry}")
      string(REGEX REPLACE "^[^=]*=" "" filter "${entry}")
      set(test wine.unit.${T_NAME}.${suite})
      add_test(NAME ${test} COMMAND ${target} --gtest_filter=${filter})
      set_tests_properties(${test} PROPERTIES LABELS "windows;unit" TIMEOUT ${T_TIMEOUT})
      if(T_RESOURCE_LOCK)
        set_tests_properties(${test} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
      endif()
    endforeach()
  else()
    set(props LABELS unit TIMEOUT ${T_TIMEOUT})
    if(T_RESOURCE_LOCK)
      list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
    endif()
    gtest_discover_tests(${target} TEST_PREFIX "unit.${T_NAME}." DISCOVERY_MODE PRE_TEST
                         PROPERTIES ${props})
    if(NOT T_NATIVE_ONLY)
      # The suites the Windows build registers from the same scan must be the
      # ones the program holds: a suite the scan missed would never run there.
      string(REPLACE ";" "\n" listed "${suites}")
      file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.suites "${listed}\n")
      add_test(NAME unit.${T_NAME}.wine_suites
               COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}>
                       -DSUITES=${CMAKE_CURRENT_BINARY_DIR}/${target}.suites
                       -P ${PROJECT_SOURCE_DIR}/cmake/CheckGtestSuites.cmake)
      set_tests_properties(unit.${T_NAME}.wine_suites PROPERTIES LABELS unit)
    endif()
  endif()
endfunction()

# tde_add_wine_test(NAME n SOURCES ... [LIBS ...] [GUI] [RESOURCE_LOCK r] [ARGS ...])
# A GoogleTest program over Windows code; exists only in the Windows build and
# runs under Wine. GUI tests get a display (Xvfb when none is set).
function(tde_add_wine_test)
  cmake_parse_arguments(T "GUI" "NAME;RESOURCE_LOCK;TIMEOUT" "SOURCES;LIBS;ARGS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set(target wtest_${T_NAME})
  add_executable(${target} ${T_SOURCES})
  # Tests may reach any header of the tree; the layers bind the product alone.
  # Their shared helpers are included as "support/...".
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE ${T_LIBS} tde_test_support GTest::gtest GTest::gmock
                                              GTest::gtest_main)
  add_test(NAME wine.${T_NAME} COMMAND ${target} ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(wine.${T_NAME} PROPERTIES LABELS windows TIMEOUT ${T_TIMEOUT})
  if(T_GUI)
    set_tests_properties(wine.${T_NAME} PROPERTIES ENVIRONMENT TDE_NEEDS_DISPLAY=1)
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(wine.${T_NAME} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
endfunction()

# tde_add_fuzzer(NAME n SOURCES ... [LIBS ...] [CORPUS dir ...] MIN_COVERAGE edges)
# A libFuzzer target; built only with TDE_FUZZ (clang). scripts/fuzz runs them
# and fails one whose starting coverage is below MIN_COVERAGE: that is what a
# run looks like when the code under test lost its instrumentation.
function(tde_add_fuzzer)
  cmake_parse_arguments(T "" "NAME;MIN_COVERAGE" "SOURCES;LIBS;CORPUS" ${ARGN})
  if(NOT TDE_FUZZ)
    return()
  endif()
  if(NOT T_MIN_COVERAGE)
    message(FATAL_ERROR "fuzzer ${T_NAME}: MIN_COVERAGE is required")
  endif()
  set(target fuzz_${T_NAME})
  add_executable(${target} ${T_SOURCES})
  # Tests may reach any header of the tree; the layers bind the product alone.
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${T_LIBS})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  # scripts/fuzz reads the starting corpus folders and the floor from here.
  list(JOIN T_CORPUS " " seeds)
  file(WRITE ${CMAKE_BINARY_DIR}/${target}.seeds "${seeds}")
  file(WRITE ${CMAKE_BINARY_DIR}/${target}.floor "${T_MIN_COVERAGE}")
endfunction()

# tde_add_e2e_test(NAME n SOURCES ... [LIBS ...] [ENVIRONMENT k=v ...] [DEPENDS target ...]
#                  [PREFIX p])
# A GoogleTest program under Wine that drives the real exe on a display (Xvfb
# when none is set), in the build's prefix or in the one tde_add_wine_prefix
# made as PREFIX. Windows build only.
function(tde_add_e2e_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;PREFIX" "SOURCES;LIBS;ENVIRONMENT;DEPENDS" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  set(target e2e_${T_NAME})
  add_executable(${target} ${T_SOURCES})
  # Tests may reach any header of the tree; the layers bind the product alone.
  # Their shared helpers are included as "support/...".
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PRIVATE ${T_LIBS} tde_test_support GTest::gtest GTest::gmock
                                              GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/e2e)
  if(T_DEPENDS)
    add_dependencies(${target} ${T_DEPENDS})
  endif()
  if(T_PREFIX)
    add_test(NAME e2e.${T_NAME} COMMAND ${CMAKE_BINARY_DIR}/wine-run-${T_PREFIX} $<TARGET_FILE:${target}>)
  else()
    add_test(NAME e2e.${T_NAME} COMMAND ${target})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(e2e.${T_NAME} PROPERTIES LABELS "windows;e2e" TIMEOUT ${T_TIMEOUT}
                       RESOURCE_LOCK desktop
                       ENVIRONMENT "TDE_NEEDS_DISPLAY=1;${T_ENVIRONMENT}")
endfunction()
