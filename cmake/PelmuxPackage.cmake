# What an application builds against, laid out by `cmake --install`: the public headers, the
# library, a CMake package (find_package(Pelmux) gives Pelmux::pelmux) and a pkg-config file. Every
# path in the package files is found relative to the file itself, so the tree may be moved.
#
# Windows: the application links an import library and ships Pelmux.dll: libPelmux.a (made by
# dlltool) for MinGW toolchains, Pelmux.lib (made by lld-link) for Microsoft's toolchains. The build also lays the same tree out in
# build/<preset>/package (bin/, include/, lib/; the test build's is package-test-build), and the
# target pelmux_sdk zips it with the API reference and the rest of the SDK.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PELMUX_PACKAGE_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pelmux)
# Name the files an install copies, not the ones already in place (the package tree is refreshed
# by every Windows build).
if(NOT DEFINED CMAKE_INSTALL_MESSAGE)
  set(CMAKE_INSTALL_MESSAGE LAZY)
endif()

install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/pelmux DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        FILES_MATCHING PATTERN "*.h")

if(WIN32)
  # The export table names each function twice (GetAuxVersion and _GetAuxVersion@0). A compiler
  # calling a standard-call function asks for its decorated symbol (__imp__GetAuxVersion@0), and
  # for the message functions the header declares C names for applications (GetErrorStringA@4).
  # The import library answers each of those symbols and imports the function by its plain export
  # name ("GetAuxVersion", "Varnholt::GetErrorStringA"). The linker's own import library names the
  # undecorated symbols, which no application asks for; it is kept out of the way.
  set_target_properties(pelmux PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/linker-implib)
  set(import_def ${CMAKE_BINARY_DIR}/PelmuxImport.def)
  set(import_lib ${CMAKE_BINARY_DIR}/lib/libPelmux.a)
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/Pelmux.def def_lines)
  set(import_header "LIBRARY \"Pelmux.dll\"\nEXPORTS\n")
  set(import_text "; Import library of Pelmux.dll, made from cmake/Pelmux.def.\n${import_header}")
  # Microsoft's import library names the standard-call aliases ("_GetAdc@0 @26"): its short import
  # records can only import a function by its symbol's own name (or that name undecorated), never by
  # "Varnholt::GetErrorStringA", so every function is bound by its decorated alias, which is what a
  # Microsoft linker expects a standard-call DLL to export.
  set(msvc_import_text "; Microsoft-format import library of Pelmux.dll, made from cmake/Pelmux.def.\n${import_header}")
  set(import_count 0)
  set(msvc_import_count 0)
  foreach(line IN LISTS def_lines)
    # Plain names ("GetAbout = GetAbout@0 @1") and the decorated aliases ("_GetAbout@0 = ... @25").
    if(line MATCHES "^[ \t]+\"?([A-Za-z][A-Za-z:]*)\"? = [A-Za-z_]+(@[0-9]+) (@[0-9]+)$")
      set(export_name ${CMAKE_MATCH_1})
      set(argument_bytes ${CMAKE_MATCH_2})
      set(ordinal ${CMAKE_MATCH_3})
      string(REGEX REPLACE "^.*::" "" symbol ${export_name})
      string(APPEND import_text "    ${symbol}${argument_bytes} ${ordinal} == \"${export_name}\"\n")
      math(EXPR import_count "${import_count} + 1")
    elseif(line MATCHES "^[ \t]+(_[A-Za-z]+@[0-9]+) = [A-Za-z_]+@[0-9]+ (@[0-9]+)$")
      string(APPEND msvc_import_text "    ${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
      math(EXPR msvc_import_count "${msvc_import_count} + 1")
    endif()
  endforeach()
  if(NOT import_count EQUAL 26 OR NOT msvc_import_count EQUAL 26)
    message(FATAL_ERROR "cmake/Pelmux.def: found ${import_count} plain export names and ${msvc_import_count} "
                        "decorated aliases, expected 26 of each")
  endif()
  # Written beside and copied only when they changed, so that a new configure run rebuilds nothing.
  file(WRITE ${import_def}.new "${import_text}")
  configure_file(${import_def}.new ${import_def} COPYONLY)
  set(msvc_import_def ${CMAKE_BINARY_DIR}/PelmuxImportMsvc.def)
  set(msvc_import_lib ${CMAKE_BINARY_DIR}/lib/Pelmux.lib)
  file(WRITE ${msvc_import_def}.new "${msvc_import_text}")
  configure_file(${msvc_import_def}.new ${msvc_import_def} COPYONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/Pelmux.def)
  add_custom_command(OUTPUT ${import_lib}
                     COMMAND ${CMAKE_DLLTOOL} --input-def ${import_def} --output-lib ${import_lib}
                     DEPENDS ${import_def}
                     COMMENT "Import library libPelmux.a"
                     VERBATIM)
  # lld-link given a module definition file and no objects writes the import library alone, in the
  # format (and with the safe-exception-handler marks) that Microsoft's linker takes with /SAFESEH.
  find_program(PELMUX_LLD_LINK NAMES lld-link lld-link-14 REQUIRED DOC "lld-link, for Pelmux.lib (Debian's lld)")
  add_custom_command(OUTPUT ${msvc_import_lib}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
                     COMMAND ${PELMUX_LLD_LINK} /nologo /machine:x86 /def:${msvc_import_def}
                             /implib:${msvc_import_lib}
                     DEPENDS ${msvc_import_def}
                     COMMENT "Import library Pelmux.lib"
                     VERBATIM)

  # The zip-ready tree, the same files as `cmake --install`. The test build's tree and archive
  # carry its purpose in their names, so that neither is taken for the product.
  if(PELMUX_UNIT_TCP)
    set(package_dir ${CMAKE_BINARY_DIR}/package-test-build)
    set(sdk_name Pelmux-${PROJECT_VERSION}-win32-test-build-for-simulated-unit)
    set(sdk_test_flag --test)
  else()
    set(package_dir ${CMAKE_BINARY_DIR}/package)
    set(sdk_name Pelmux-${PROJECT_VERSION}-win32)
    set(sdk_test_flag)
  endif()
  add_custom_target(pelmux_package ALL
                    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${package_dir}
                    DEPENDS pelmux ${import_lib} ${msvc_import_lib}
                    COMMENT "Package tree in ${package_dir}"
                    VERBATIM)

  # The SDK archive (cmake/sdk_archive.py): the package tree with the API reference, the samples,
  # the README's Windows part and the licence, as build/<preset>/sdk/<name>.zip. Built on request
  # (`cmake --build --preset win32 --target pelmux_sdk`, `make win32`).
  find_program(PELMUX_DOXYGEN doxygen DOC "doxygen, for the API reference in the SDK archive")
  find_package(Python3 COMPONENTS Interpreter)
  if(PELMUX_DOXYGEN AND Python3_Interpreter_FOUND)
    add_custom_target(pelmux_sdk
                      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/sdk_archive.py
                              --source ${CMAKE_SOURCE_DIR} --package ${package_dir} --doxygen ${PELMUX_DOXYGEN}
                              --work ${CMAKE_BINARY_DIR}/sdk --name ${sdk_name} --version ${PROJECT_VERSION}
                              ${sdk_test_flag}
                      COMMENT "SDK archive ${sdk_name}.zip"
                      VERBATIM)
  else()
    add_custom_target(pelmux_sdk
                      COMMAND ${CMAKE_COMMAND} -E echo "The SDK archive needs doxygen and python3 (make deps)"
                      COMMAND ${CMAKE_COMMAND} -E false
                      VERBATIM)
  endif()
  add_dependencies(pelmux_sdk pelmux_package)

  install(FILES $<TARGET_FILE:pelmux> DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${import_lib} ${msvc_import_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  set(PELMUX_PACKAGE_LIBRARY ${CMAKE_INSTALL_BINDIR}/Pelmux.dll)
  set(PELMUX_PACKAGE_IMPLIB ${CMAKE_INSTALL_LIBDIR}/libPelmux.a)
  set(PELMUX_PACKAGE_MSVC_IMPLIB ${CMAKE_INSTALL_LIBDIR}/Pelmux.lib)
  set(PELMUX_PC_LIBRARY Pelmux)
else()
  install(TARGETS pelmux LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(TARGET pelmux_tool)
    install(TARGETS pelmux_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  set(PELMUX_PACKAGE_LIBRARY ${CMAKE_INSTALL_LIBDIR}/libpelmux.so)
  set(PELMUX_PACKAGE_IMPLIB "")
  set(PELMUX_PACKAGE_MSVC_IMPLIB "")
  set(PELMUX_PC_LIBRARY pelmux)
endif()

configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/PelmuxConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/PelmuxConfig.cmake
                              INSTALL_DESTINATION ${PELMUX_PACKAGE_CMAKEDIR}
                              NO_SET_AND_CHECK_MACRO)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/PelmuxConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/PelmuxConfig.cmake ${CMAKE_BINARY_DIR}/PelmuxConfigVersion.cmake
        DESTINATION ${PELMUX_PACKAGE_CMAKEDIR})

# pkg-config finds the prefix from where the file lies (${pcfiledir}).
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH PELMUX_PC_PREFIX /${pc_dir} /)
string(REGEX REPLACE "/$" "" PELMUX_PC_PREFIX "${PELMUX_PC_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/pelmux.pc.in ${CMAKE_BINARY_DIR}/pelmux.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/pelmux.pc DESTINATION ${pc_dir})

# Applications inside this tree (samples/) link Pelmux::pelmux as the package gives it: the public
# headers alone, and on Windows the import library libPelmux.a rather than the linker's own.
add_library(pelmux_application INTERFACE)
target_include_directories(pelmux_application INTERFACE ${CMAKE_SOURCE_DIR}/include)
if(WIN32)
  target_link_libraries(pelmux_application INTERFACE ${import_lib})
  add_dependencies(pelmux_application pelmux_package)
else()
  target_link_libraries(pelmux_application INTERFACE pelmux)
endif()
add_library(Pelmux::pelmux ALIAS pelmux_application)
