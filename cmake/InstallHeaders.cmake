# Run by `cmake --install`: installs the public headers under include/kryvane/ with their
# includes of each other rewritten from "crypto/x.h" to "kryvane/crypto/x.h", the version
# header, and kryvane/kryvane.h, which includes them all.
set(all "// Every cipher and hash of the Kryvane component library.\n#pragma once\n\n")
string(APPEND all "#include \"kryvane/version.h\"\n")
foreach(folder crypto ciphers hashes)
  file(GLOB headers "${KRYVANE_SOURCE_DIR}/${folder}/*.h")
  list(SORT headers)
  foreach(header IN LISTS headers)
    get_filename_component(name "${header}" NAME)
    file(READ "${header}" text)
    string(REGEX REPLACE "#include \"(crypto|ciphers|hashes)/" "#include \"kryvane/\\1/" text
      "${text}")
    file(WRITE "${KRYVANE_HEADER_STAGING}/${folder}/${name}" "${text}")
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${KRYVANE_INCLUDE_DESTINATION}/${folder}"
      TYPE FILE FILES "${KRYVANE_HEADER_STAGING}/${folder}/${name}")
    string(APPEND all "#include \"kryvane/${folder}/${name}\"\n")
  endforeach()
endforeach()
file(WRITE "${KRYVANE_HEADER_STAGING}/kryvane.h" "${all}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${KRYVANE_INCLUDE_DESTINATION}" TYPE FILE
  FILES "${KRYVANE_HEADER_STAGING}/kryvane.h" "${KRYVANE_VERSION_HEADER}")
