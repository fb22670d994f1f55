# A text file as Windows' editors show it: CR LF line ends. A manual page
# (GROFF given) is first set as plain ASCII text, without the overstrikes a
# terminal would turn into bold, so the options in it can be copied as typed.
#   cmake -DIN=file -DOUT=file [-DGROFF=groff] -P windows_text.cmake
if(DEFINED GROFF)
  execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${IN}
    OUTPUT_VARIABLE text ERROR_VARIABLE problems RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "groff could not set ${IN}: ${problems}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
