# Read by cpack. strip stamps each Windows program it strips with the current
# time unless SOURCE_DATE_EPOCH gives one; one time for the whole package keeps
# the two copies of spi-receiver.exe in a zip identical.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP now "%s" UTC)
  set(ENV{SOURCE_DATE_EPOCH} ${now})
endif()
