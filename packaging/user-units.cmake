# The user units: hpvisit.service, one page, and hpvisit@.service, one more
# page an instance, each with its own settings folder under $XDG_CONFIG_HOME.
set(HPVISIT_UNIT_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/hpvisit.service.in)

# Writes both units into `folder`, running the launcher at `launcher`.
function(hpvisit_user_units launcher folder)
  set(LAUNCHER ${launcher})
  foreach(UNIT hpvisit hpvisit@NAME)
    if(UNIT STREQUAL "hpvisit")
      set(SETTINGS_FOLDER hpvisit)
      set(SETTINGS_FILE "%E/hpvisit/udat.txt")
      set(DESCRIPTION "")
      set(file hpvisit.service)
    else()
      set(SETTINGS_FOLDER hpvisit/%i)
      set(SETTINGS_FILE "%E/hpvisit/NAME/udat.txt for hpvisit@NAME")
      set(DESCRIPTION " (%i)")
      set(file hpvisit@.service)
    endif()
    configure_file(${HPVISIT_UNIT_TEMPLATE} ${folder}/${file} @ONLY)
  endforeach()
endfunction()
