# Run by `cmake --install`: writes the desktop entry for the prefix being installed to.
set(bindir "${PELLORA_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(exec "${bindir}/pellora")

# The program path is one quoted argument of the Exec key: inside the quotes a
# backslash, double quote, backquote or dollar sign takes a backslash, which the
# key's own string escaping doubles; a percent sign is written twice.
string(REPLACE "\\" "\\\\\\\\" exec "${exec}")
string(REPLACE "\"" "\\\\\"" exec "${exec}")
string(REPLACE "`" "\\\\`" exec "${exec}")
string(REPLACE "$" "\\\\$" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")
set(PELLORA_EXEC "\"${exec}\"")

configure_file("${PELLORA_DESKTOP_TEMPLATE}" "${PELLORA_DESKTOP_STAGING}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${PELLORA_APPLICATIONS_DIR}" TYPE FILE
  FILES "${PELLORA_DESKTOP_STAGING}")
