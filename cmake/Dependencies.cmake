# Libraries come from the system (Debian packages); nothing is vendored.
if(NOT WIN32)
  find_path(CJSON_INCLUDE_DIR cjson/cJSON.h REQUIRED)
  find_library(CJSON_LIBRARY cjson REQUIRED)
  add_library(lumivo::cjson INTERFACE IMPORTED)
  set_target_properties(lumivo::cjson PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CJSON_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${CJSON_LIBRARY}")
endif()
