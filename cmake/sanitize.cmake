# AddressSanitizer + UndefinedBehaviorSanitizer for the whole build.
if(VREX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VREX_FUZZ)
  # Coverage feedback for the fuzz targets throughout the code they drive.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
