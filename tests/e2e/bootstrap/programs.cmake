# Included by bootstrap/CMakeLists.txt in the win32 build: the programs the Wine end-to-end tests
# run, in <build>/bootstrap/e2e, listed in programs.txt for the test driver.
set(E2E_DIR ${CMAKE_CURRENT_BINARY_DIR}/e2e)

add_executable(wine_probe ${CMAKE_SOURCE_DIR}/tests/e2e/bootstrap/probe.cpp)
set_target_properties(wine_probe PROPERTIES OUTPUT_NAME probe RUNTIME_OUTPUT_DIRECTORY ${E2E_DIR})

# A window with progress meters that checks their painting.
add_executable(wine_meter_window ${CMAKE_SOURCE_DIR}/tests/e2e/bootstrap/meter_window.cpp)
target_link_libraries(wine_meter_window PRIVATE zipkit_engine user32 gdi32)
set_target_properties(wine_meter_window PROPERTIES OUTPUT_NAME meter-window
                      RUNTIME_OUTPUT_DIRECTORY ${E2E_DIR})

# The demo payload as it is, without Setup.exe, and with one stored entry's data damaged.
set(E2E_DEMO_PAYLOAD ${E2E_DIR}/demo.zip)
zipkit_demo_payload(${E2E_DEMO_PAYLOAD})
zipkit_demo_payload(${E2E_DIR}/nosetup.zip --omit SETUP.EXE)
zipkit_demo_payload(${E2E_DIR}/badcrc.zip --corrupt LICENSE.TXT)
zipkit_install_program(install_e2e_demo install-demo ${E2E_DEMO_PAYLOAD})
zipkit_install_program(install_e2e_nosetup install-nosetup ${E2E_DIR}/nosetup.zip)
zipkit_install_program(install_e2e_badcrc install-badcrc ${E2E_DIR}/badcrc.zip)
# A payload that is no ZIP archive at all: a text file.
set(E2E_NOTZIP_PAYLOAD ${CMAKE_SOURCE_DIR}/resources/payload/readme.txt)
zipkit_install_program(install_e2e_notzip install-notzip ${E2E_NOTZIP_PAYLOAD})
foreach(target install_e2e_demo install_e2e_nosetup install_e2e_badcrc install_e2e_notzip)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${E2E_DIR})
endforeach()

file(GENERATE OUTPUT ${E2E_DIR}/programs.txt CONTENT
"probe=$<TARGET_FILE:wine_probe>
meter=$<TARGET_FILE:wine_meter_window>
install=$<TARGET_FILE:install_exe>
install_payload=${INSTALL_PAYLOAD}
demo=$<TARGET_FILE:install_e2e_demo>
demo_payload=${E2E_DEMO_PAYLOAD}
nosetup=$<TARGET_FILE:install_e2e_nosetup>
nosetup_payload=${E2E_DIR}/nosetup.zip
badcrc=$<TARGET_FILE:install_e2e_badcrc>
badcrc_payload=${E2E_DIR}/badcrc.zip
notzip=$<TARGET_FILE:install_e2e_notzip>
notzip_payload=${E2E_NOTZIP_PAYLOAD}
")
