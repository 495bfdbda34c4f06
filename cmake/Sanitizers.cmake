# DRAVIK_SANITIZE=address: ASan + UBSan, aborting on the first report.
# DRAVIK_SANITIZE=thread:  TSan, for the threaded engine tests.
if(DRAVIK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(DRAVIK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT DRAVIK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "DRAVIK_SANITIZE must be '', 'address' or 'thread'")
endif()

# Fuzz builds instrument every library for coverage; the fuzz targets add the
# libFuzzer driver themselves.
if(DRAVIK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
