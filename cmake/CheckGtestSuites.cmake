# cmake -DPROGRAM=test_x -DSUITES=test_x.suites -P CheckGtestSuites.cmake
# The suites a GoogleTest program holds (--gtest_list_tests) against the ones
# read from its sources (tde_gtest_suites, one "Suite=filter" a line), from
# which the Windows build makes one CTest test each. Fails on a suite that no
# filter covers (it would never run under Wine) and on a filter that matches
# no suite (a test that runs nothing).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${PROGRAM} --gtest_list_tests OUTPUT_VARIABLE listing
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed: ${status}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(held "")
foreach(line IN LISTS lines)
  # Suite lines start in the first column and end in "."; a typed suite adds a comment.
  if(line MATCHES "^([^ ].*)\\.( +#.*)?$")
    list(APPEND held "${CMAKE_MATCH_1}")
  endif()
endforeach()

file(STRINGS ${SUITES} entries)
set(covered "")
set(problems "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[^=]*=" "" filter "${entry}")
  string(REPLACE ":" ";" patterns "${filter}")
  foreach(pattern IN LISTS patterns)
    string(REGEX REPLACE "\\.\\*$" "" suite "${pattern}")
    if(suite IN_LIST held)
      list(APPEND covered "${suite}")
    else()
      list(APPEND problems "the filter ${pattern} matches no suite of the program")
    endif()
  endforeach()
endforeach()
foreach(suite IN LISTS held)
  if(NOT suite IN_LIST covered)
    list(APPEND problems "the suite ${suite} is in no Wine test: tde_gtest_suites (cmake/Testing.cmake) did not find it in the sources")
  endif()
endforeach()
if(problems)
  string(REPLACE ";" "\n  " problems "${problems}")
  message(FATAL_ERROR "${PROGRAM}:\n  ${problems}")
endif()
list(LENGTH held count)
message(STATUS "${count} suites, each in one Wine test")
