# The message tables are written as text (resources/*_STRINGS*.txt) and compiled at build time by
# tools/str0_compile.py into the STR0 byte format. Sets MESSAGE_TABLE_SOURCES for the engine.
#   POSIX:   a generated .cpp of embedded byte arrays, found by name by the host.
#   Windows: a generated .rc of RCDATA resources. A resource object has no symbols, so it would
#            never be pulled out of the static library; it is handed to every program that links
#            the engine instead (an INTERFACE source of zipkit_engine).
set(MESSAGE_TABLE_TEXTS
    ${CMAKE_SOURCE_DIR}/resources/ABSRMGR_STRINGS.txt
    ${CMAKE_SOURCE_DIR}/resources/AB_STRINGS_ENGLISH.txt)
set(MESSAGE_TABLE_TOOL ${CMAKE_SOURCE_DIR}/tools/str0_compile.py)
set(MESSAGE_TABLE_DIR ${CMAKE_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${MESSAGE_TABLE_DIR})

if(WIN32)
  enable_language(RC)
  set(message_tables_rc ${MESSAGE_TABLE_DIR}/message_tables.rc)
  set(message_tables_bins)
  foreach(txt IN LISTS MESSAGE_TABLE_TEXTS)
    get_filename_component(name ${txt} NAME_WE)
    list(APPEND message_tables_bins ${MESSAGE_TABLE_DIR}/${name}.bin)
  endforeach()
  add_custom_command(
    OUTPUT ${message_tables_rc} ${message_tables_bins}
    COMMAND ${Python3_EXECUTABLE} ${MESSAGE_TABLE_TOOL} rc ${message_tables_rc} ${MESSAGE_TABLE_DIR}
            ${MESSAGE_TABLE_TEXTS}
    DEPENDS ${MESSAGE_TABLE_TEXTS} ${MESSAGE_TABLE_TOOL}
    COMMENT "Compiling message tables to RCDATA resources"
    VERBATIM)
  add_library(zipkit_message_tables OBJECT ${message_tables_rc})
  set(MESSAGE_TABLE_SOURCES)
  # A program with resources of its own sets ZIPKIT_OWN_RESOURCES and #includes MESSAGE_TABLE_RC
  # in its one resource script instead: the linker's merge of two resource sections orders the
  # names without regard to case, and the loader's search then misses AB_STRINGS_ENGLISH.
  set(MESSAGE_TABLE_RC ${message_tables_rc})
  cmake_language(DEFER CALL target_sources zipkit_engine INTERFACE
                 "$<$<NOT:$<BOOL:$<TARGET_PROPERTY:ZIPKIT_OWN_RESOURCES>>>:$<TARGET_OBJECTS:zipkit_message_tables>>")
else()
  set(message_tables_cpp ${MESSAGE_TABLE_DIR}/message_tables.cpp)
  add_custom_command(
    OUTPUT ${message_tables_cpp}
    COMMAND ${Python3_EXECUTABLE} ${MESSAGE_TABLE_TOOL} cpp ${message_tables_cpp}
            ${MESSAGE_TABLE_TEXTS}
    DEPENDS ${MESSAGE_TABLE_TEXTS} ${MESSAGE_TABLE_TOOL}
    COMMENT "Compiling message tables to embedded arrays"
    VERBATIM)
  set(MESSAGE_TABLE_SOURCES ${message_tables_cpp})
endif()
