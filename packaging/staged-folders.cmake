# Run by CPack once the files are staged and before it packs them: every
# folder in the package gets mode 755, whatever the umask of the build was
# (folders made under umask 077 would be closed to other users once installed).
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(folders "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    list(APPEND folders "${path}")
  endif()
endforeach()
file(CHMOD ${folders} PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
