# The platform pieces: platform/<piece>.h with a posix and a win32 source each; the build takes
# the one source of each piece that fits the target system.
if(WIN32)
  set(FG_PLATFORM_FLAVOUR win32)
else()
  set(FG_PLATFORM_FLAVOUR posix)
endif()
file(GLOB FG_PLATFORM_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/../platform/*_${FG_PLATFORM_FLAVOUR}.cpp)
