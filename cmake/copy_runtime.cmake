# SPDX-License-Identifier: GPL-3.0-or-later
# Copies the runtime folder SRC into DST. A file is copied when it is missing
# in DST or older than the shipped one, so a build never throws away settings a
# user saved after the last change to the shipped file.
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*)
foreach(f ${files})
  if(f MATCHES "(^|/)\\.gitkeep$")
    continue()
  endif()
  if(NOT EXISTS ${DST}/${f} OR ${SRC}/${f} IS_NEWER_THAN ${DST}/${f})
    get_filename_component(dir ${DST}/${f} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(COPY ${SRC}/${f} DESTINATION ${dir})
  endif()
endforeach()
file(MAKE_DIRECTORY ${DST}/json ${DST}/bin ${DST}/image)
