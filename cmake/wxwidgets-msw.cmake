# wxWidgets for MSW, static, from the toolkit folder scripts/windows-toolkit
# builds (HPVISIT_TOOLKIT): its wx-config gives the flags and the libraries.
set(HPVISIT_TOOLKIT "" CACHE PATH "The toolkit folder made by scripts/windows-toolkit")
set(WX_CONFIG ${HPVISIT_TOOLKIT}/bin/wx-config)
if(NOT EXISTS ${WX_CONFIG})
  message(FATAL_ERROR "No wx-config in HPVISIT_TOOLKIT (${HPVISIT_TOOLKIT}): run scripts/build-windows")
endif()

execute_process(COMMAND ${WX_CONFIG} --static --cxxflags webview,core,base
                OUTPUT_VARIABLE wx_cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${WX_CONFIG} --static --libs webview,core,base
                OUTPUT_VARIABLE wx_libs OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(wx_cxxflags UNIX_COMMAND "${wx_cxxflags}")
separate_arguments(wx_libs UNIX_COMMAND "${wx_libs}")

# Folders and definitions also reach the resource compiler (wx/msw/wx.rc);
# the other flags are the C++ compiler's only.
add_library(wxwidgets_msw INTERFACE)
foreach(flag IN LISTS wx_cxxflags)
  if(flag MATCHES "^-I(.*)")
    target_include_directories(wxwidgets_msw INTERFACE ${CMAKE_MATCH_1})
  elseif(flag MATCHES "^-D(.*)")
    target_compile_definitions(wxwidgets_msw INTERFACE ${CMAKE_MATCH_1})
  else()
    target_compile_options(wxwidgets_msw INTERFACE $<$<COMPILE_LANGUAGE:CXX>:${flag}>)
  endif()
endforeach()
target_link_libraries(wxwidgets_msw INTERFACE ${wx_libs})
# One file that runs anywhere: no MinGW runtime DLLs beside it.
target_link_options(wxwidgets_msw INTERFACE -static -static-libgcc -static-libstdc++)
set(wxWidgets_LIBRARIES wxwidgets_msw)
