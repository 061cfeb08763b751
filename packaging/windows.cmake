# The Windows release: a zip with tarvenctl.exe (linked statically: nothing else needs to go
# beside it), the README and the licence. The window goes in too where it was built (a Qt 6 for
# Windows was found); its Qt libraries and platform plugin are then the builder's to add.
install(TARGETS tarvenctl RUNTIME DESTINATION .)
if(TARGET tarven)
  install(TARGETS tarven RUNTIME DESTINATION .)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/copyright DESTINATION . RENAME LICENCE.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarven)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "tarvenctl-${PROJECT_VERSION}-windows-x86_64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
