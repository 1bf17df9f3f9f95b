# A release build on Debian takes the distribution's compiler and linker flags from
# dpkg-buildflags, as Debian's own packages are built: fortified functions, the stack
# protector, a read-only relocation table bound at start (relro, bindnow) and, through the
# compiler's default, position-independent executables. Other builds keep CMake's flags.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND CMAKE_BUILD_TYPE STREQUAL "Release")
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE debian_${kind} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  # In place of CMake's own release flags (-O3 -DNDEBUG): Debian's level of optimisation and
  # debugging information (stripped when packed), and NDEBUG as before.
  set(CMAKE_CXX_FLAGS_RELEASE "${debian_CPPFLAGS} ${debian_CXXFLAGS} -DNDEBUG")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${debian_LDFLAGS}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS " ${debian_LDFLAGS}")
  string(APPEND CMAKE_MODULE_LINKER_FLAGS " ${debian_LDFLAGS}")
endif()
