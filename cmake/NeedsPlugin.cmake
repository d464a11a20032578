# A test or benchmark that loads the built plug-in: it is built after the
# library and told where the library is.
function(kestrelumen_needs_plugin target)
  add_dependencies(${target} Kestrelumen)
  target_compile_definitions(${target} PRIVATE
    KESTRELUMEN_PLUGIN_PATH="$<TARGET_FILE:Kestrelumen>")
endfunction()
