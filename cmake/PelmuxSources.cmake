# The library's sources: every area folder, plus the platform layer chosen at build time.
function(pelmux_collect_sources out)
  set(areas exports frame supervisor display indicators identity firmware comms platform)
  set(files)
  foreach(area IN LISTS areas)
    file(GLOB area_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${area}/*.cpp)
    list(APPEND files ${area_files})
  endforeach()
  if(WIN32)
    file(GLOB seam CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp)
    if(PELMUX_UNIT_TCP)
      # The test build: the device and service endpoints reach the simulated unit over loopback
      # TCP; the vendor library stays Jida.dll, loaded as in the product.
      list(FILTER seam EXCLUDE REGEX "/src/platform/win32/(Device|Service)\\.cpp$")
      file(GLOB tcp CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32-tcp/*.cpp)
      list(APPEND seam ${tcp} ${CMAKE_SOURCE_DIR}/src/platform/board/Connection.cpp)
    endif()
  else()
    file(GLOB seam CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/posix/*.cpp
                                     ${CMAKE_SOURCE_DIR}/src/platform/board/*.cpp)
  endif()
  list(APPEND files ${seam})
  # Module entry points belong to the shared library target only.
  list(FILTER files EXCLUDE REGEX "/src/exports/(DllMain|SharedLibrary)\\.cpp$")
  # What the command-line tool reaches of the library exists on Linux only, where the tool runs.
  if(WIN32)
    list(FILTER files EXCLUDE REGEX "/src/exports/ToolAccess\\.cpp$")
  endif()
  set(${out} ${files} PARENT_SCOPE)
endfunction()
