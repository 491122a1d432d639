# Checks the installer's image after linking, so a change of flags or toolchain
# cannot quietly drop its hardening:
#   cmake -DOBJDUMP=... -DIMAGE=... [-DREFUSED_SHA256=hex] -P CheckImage.cmake
# DYNAMIC_BASE and NX_COMPAT set, base relocations kept (ASLR needs them), no DLL
# imported beyond the five the program uses, the stack protector's code linked
# in, and, with NO_SEH set, no SEH frame (fs:[0]) nor _except_handler in the code.
# A release also carries the test certificate's SHA-256 it refuses at run time.
cmake_minimum_required(VERSION 3.25)
set(allowed_dlls advapi32.dll comctl32.dll kernel32.dll msvcrt.dll user32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${IMAGE} failed")
endif()
set(problems "")

string(REGEX MATCH "DllCharacteristics[ \t]+([0-9a-fA-F]+)" found "${headers}")
math(EXPR characteristics "0x${CMAKE_MATCH_1}+0")
foreach(flag IN ITEMS "64;DYNAMIC_BASE" "256;NX_COMPAT")
  list(GET flag 0 bit)
  list(GET flag 1 name)
  math(EXPR set "${characteristics} & ${bit}")
  if(NOT found OR set EQUAL 0)
    list(APPEND problems "${name} is not set (DllCharacteristics 0x${CMAKE_MATCH_1})")
  endif()
endforeach()

string(REGEX MATCH "Entry 5 [0-9a-fA-F]+ ([0-9a-fA-F]+) Base Relocation Directory" found "${headers}")
if(NOT found OR CMAKE_MATCH_1 MATCHES "^0+$")
  list(APPEND problems "the base relocations are gone, so the image cannot be moved")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${headers}")
foreach(entry IN LISTS names)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST allowed_dlls)
    list(APPEND problems "it imports ${dll}")
  endif()
endforeach()

file(STRINGS ${IMAGE} guard LIMIT_COUNT 1 REGEX "stack smashing detected")
if(NOT guard)
  list(APPEND problems "the stack protector is not linked in")
endif()

math(EXPR no_seh "${characteristics} & 1024")
if(NOT no_seh EQUAL 0)
  execute_process(COMMAND ${OBJDUMP} -d ${IMAGE}
                  COMMAND grep -m 1 -E "%fs:0x0([^0-9a-fx]|$)|_except_handler"
                  OUTPUT_VARIABLE handler)
  if(handler)
    list(APPEND problems "NO_SEH is set, but the code sets up an SEH handler: ${handler}")
  endif()
endif()

if(REFUSED_SHA256)
  file(STRINGS ${IMAGE} refused LIMIT_COUNT 1 REGEX "${REFUSED_SHA256}")
  if(NOT refused)
    list(APPEND problems "the test certificate's SHA-256 is not compiled in")
  endif()
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "${IMAGE}:\n  ${text}")
endif()
