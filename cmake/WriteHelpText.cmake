# Writes the tool's help for every subcommand into one text file:
#   cmake -DTOOL=path/to/kestrelumen -DOUT=file -P WriteHelpText.cmake
execute_process(COMMAND "${TOOL}" --help-all
  OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR text STREQUAL "")
  message(FATAL_ERROR "${TOOL} --help-all failed (${status}): ${err}")
endif()
file(WRITE "${OUT}" "${text}")
