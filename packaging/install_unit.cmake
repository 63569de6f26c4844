# Runs at install time (from install(CODE)): writes the service unit with the paths of this
# installation and installs it. At install time CMAKE_INSTALL_PREFIX is the prefix actually
# used (cmake --install --prefix, or /usr when CPack builds the package), so the unit names
# the binary where it is installed; DESTDIR only moves the files, not the paths in them.
#
# Expects: IFC_UNIT_NAME (the unit's file name), IFC_UNIT_TEMPLATE, IFC_UNIT_WORK_DIR,
# IFC_UNIT_BINDIR_REL, IFC_UNIT_DOCDIR_REL, IFC_UNIT_DESTINATION_REL (each relative to the
# prefix, or absolute). Gives the template IFC_UNIT_SYSCONFDIR as well: /etc for the prefix
# /usr, else etc under the prefix (as GNUInstallDirs has it).

function(ifc_full_path relative out)
  if(IS_ABSOLUTE "${relative}")
    set(${out} "${relative}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${relative}" PARENT_SCOPE)
  endif()
endfunction()

ifc_full_path("${IFC_UNIT_BINDIR_REL}" IFC_UNIT_BINDIR)
ifc_full_path("${IFC_UNIT_DOCDIR_REL}" IFC_UNIT_DOCDIR)
ifc_full_path("${IFC_UNIT_DESTINATION_REL}" unit_destination)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(IFC_UNIT_SYSCONFDIR "/etc")
else()
  set(IFC_UNIT_SYSCONFDIR "${CMAKE_INSTALL_PREFIX}/etc")
endif()

# One work file per destination, so that installations to different places at the same time
# do not write each other's unit.
string(MD5 destination_key "$ENV{DESTDIR}${unit_destination}")
set(unit_file "${IFC_UNIT_WORK_DIR}/${destination_key}/${IFC_UNIT_NAME}")
configure_file("${IFC_UNIT_TEMPLATE}" "${unit_file}" @ONLY)
file(INSTALL DESTINATION "${unit_destination}" TYPE FILE
     PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     FILES "${unit_file}")
