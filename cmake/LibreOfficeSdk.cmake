# Finds the LibreOffice SDK and generates the UNO type headers with cppumaker.
# Defines TABLOOM_HAVE_UNO and the interface target tabloom_uno_sdk.

set(LIBREOFFICE_DIR "/usr/lib/libreoffice" CACHE PATH "LibreOffice installation folder")
set(_lo_program "${LIBREOFFICE_DIR}/program")
set(_lo_sdk "${LIBREOFFICE_DIR}/sdk")
find_program(CPPUMAKER cppumaker PATHS "${_lo_sdk}/bin" NO_DEFAULT_PATH)
find_path(LIBREOFFICE_INCLUDE_DIR sal/config.h PATHS /usr/include/libreoffice "${_lo_sdk}/include")

set(TABLOOM_HAVE_UNO OFF)
if(CPPUMAKER AND LIBREOFFICE_INCLUDE_DIR AND EXISTS "${_lo_program}/types.rdb")
  set(TABLOOM_HAVE_UNO ON)
  set(_gen "${CMAKE_BINARY_DIR}/uno-headers")
  set(_stamp "${_gen}/.stamp")
  set(_rdbs "${_lo_program}/types.rdb" "${_lo_program}/types/offapi.rdb")
  add_custom_command(
    OUTPUT "${_stamp}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${_gen}"
    COMMAND "${CPPUMAKER}" -Gc "-O${_gen}" ${_rdbs}
    COMMAND ${CMAKE_COMMAND} -E touch "${_stamp}"
    DEPENDS ${_rdbs}
    COMMENT "Generating UNO type headers"
    VERBATIM)
  add_custom_target(tabloom_uno_headers DEPENDS "${_stamp}")

  add_library(tabloom_uno_sdk INTERFACE)
  add_dependencies(tabloom_uno_sdk tabloom_uno_headers)
  target_include_directories(tabloom_uno_sdk SYSTEM INTERFACE "${_gen}" "${LIBREOFFICE_INCLUDE_DIR}")
  target_compile_definitions(tabloom_uno_sdk INTERFACE LINUX UNX CPPU_ENV=gcc3)
  target_link_directories(tabloom_uno_sdk INTERFACE "${_lo_sdk}/lib")
  target_link_libraries(tabloom_uno_sdk INTERFACE uno_cppuhelpergcc3 uno_cppu uno_sal)
  target_link_options(tabloom_uno_sdk INTERFACE "-Wl,-rpath-link,${_lo_program}"
                      "-Wl,-rpath,${_lo_program}")
else()
  message(WARNING "LibreOffice SDK not found: the office backend is not built")
endif()
