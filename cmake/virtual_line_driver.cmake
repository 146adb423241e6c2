# morvane_add_virtual_line_driver(name SOURCES|OBJECTS): a static library of
# the whole driver in which the serial port and the waits are the virtual
# line of fuzz/ (virtual_line.h) instead of the POSIX device and clock. The
# platform files that touch them are left out; everything else is the
# production driver, compiled again (SOURCES, for other instrumentation) or
# taken as the objects the shared library is linked from (OBJECTS).
function(morvane_add_virtual_line_driver name from)
  set(platform_files "/(serial_posix|thread_priority_posix)\\.cpp")
  if(from STREQUAL "OBJECTS")
    set(driver "$<FILTER:$<TARGET_OBJECTS:morvane_objects>,EXCLUDE,${platform_files}\\.o(bj)?$>"
               $<TARGET_OBJECTS:morvane_codec>)
  else()
    get_target_property(driver morvane_objects SOURCES)
    list(FILTER driver EXCLUDE REGEX "${platform_files}$")
    get_target_property(codec morvane_codec SOURCES)
    list(APPEND driver ${codec})
  endif()
  set(seam ${PROJECT_SOURCE_DIR}/fuzz)
  add_library(${name} STATIC ${driver}
    ${seam}/virtual_line.cpp
    ${seam}/serial_fuzz.cpp
    ${seam}/wait_fuzz.cpp
    ${seam}/call_bound.cpp
    ${seam}/line_check.cpp
    ${seam}/protocol_oracle.cpp
  )
  target_compile_definitions(${name} PUBLIC MORVANE_BUILDING_DRIVER)
  target_link_libraries(${name} PUBLIC ostrel)
endfunction()
