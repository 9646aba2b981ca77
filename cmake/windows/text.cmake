# One text file for Windows: a man page rendered as plain text (groff), or a
# text file as it is, either with CR LF line ends.
#   cmake -DIN=FILE -DOUT=FILE [-DGROFF=groff] -P text.cmake
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -Tutf8 -P-cbou ${IN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "groff could not render ${IN}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
