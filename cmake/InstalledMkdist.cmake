# Writes OUT: the script IN with its default installer path turned from the
# build tree's to the installed one (LIBEXEC, relative to the script's
# directory). Fails when IN no longer has the line to turn.
file(READ ${IN} text)
set(from "setup_bin=$here/../build/default/setup/setup")
string(FIND "${text}" "${from}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${IN}: no line \"${from}\" to point at the installed installer")
endif()
string(REPLACE "${from}" "setup_bin=$here/../${LIBEXEC}/setup" text "${text}")
string(REPLACE "(default: build/default/setup/setup)" "(default: ../${LIBEXEC}/setup beside this script)" text "${text}")
file(WRITE ${OUT} "${text}")
