# Checks the executable's export table: the cJSON functions under their own
# names, and nothing else.   cmake -DOBJDUMP=... -DEXE=... -P check_exports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([\t ]+\\[ *[0-9]+\\] [^\n]+\n)+)" table "${dump}")
# One list element per exported name (the brackets must go: CMake lists treat them specially).
string(REGEX REPLACE "[\t ]+\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" names "${CMAKE_MATCH_1}")
list(LENGTH names count)
if(count EQUAL 0)
  message(FATAL_ERROR "${EXE} exports nothing")
endif()
foreach(name ${names})
  if(NOT name MATCHES "^cJSON_")
    message(FATAL_ERROR "${EXE} exports ${name}, which is not a cJSON function")
  endif()
endforeach()
foreach(needed cJSON_Parse cJSON_GetObjectItemCaseSensitive cJSON_IsNumber cJSON_IsString
        cJSON_IsTrue cJSON_CreateObject cJSON_CreateArray cJSON_CreateNumber cJSON_CreateString
        cJSON_CreateBool cJSON_AddItemToObject cJSON_AddItemToArray cJSON_Print cJSON_Delete)
  if(NOT needed IN_LIST names)
    message(FATAL_ERROR "${EXE} does not export ${needed}")
  endif()
endforeach()
message(STATUS "${count} exports, all cJSON")
