# SPDX-License-Identifier: MIT
# The Debian package's own documents, made from the tree's: the copyright
# file in the machine-readable format, from LICENSE, and the changelog in
# Debian's format, from this version's section of CHANGELOG.md.

# Writes `output`: the licence text as the body of a DEP-5 copyright file.
function(zelko_debian_copyright output)
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE lines)
  list(POP_FRONT lines title)
  set(body "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      string(APPEND body " .\n")
    elseif(line MATCHES "^Copyright \\(c\\) (.*)$")
      set(holder "${CMAKE_MATCH_1}")
    else()
      string(APPEND body " ${line}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "^ \\.\n( \\.\n)*" "" body "${body}")
  string(REGEX REPLACE "\n \\.\n \\.\n" "\n .\n" body "${body}")
  file(WRITE ${output}
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: ${PROJECT_NAME}\n"
    "Source: ${PROJECT_HOMEPAGE_URL}\n"
    "\n"
    "Files: *\n"
    "Copyright: ${holder}\n"
    "License: MIT\n"
    "${body}")
endfunction()

# The day of the week of a date, as Debian's changelog writes it.
function(zelko_weekday year month day out)
  # Zeller's congruence, with January and February counted as months 13
  # and 14 of the year before.
  if(month LESS 3)
    math(EXPR month "${month} + 12")
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR index "(${day} + (13 * (${month} + 1)) / 5 + ${year} + ${year} / 4 - ${year} / 100 + ${year} / 400) % 7")
  set(names Sat Sun Mon Tue Wed Thu Fri)
  list(GET names ${index} name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

# Writes `output`: this version's entry of CHANGELOG.md in Debian's format.
function(zelko_debian_changelog output maintainer)
  file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md lines)
  set(inside FALSE)
  set(entries "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ([^ ]+) - ([0-9]+)-([0-9]+)-([0-9]+)$")
      set(inside FALSE)
      if(CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
        set(inside TRUE)
        set(year ${CMAKE_MATCH_2})
        set(month ${CMAKE_MATCH_3})
        set(day ${CMAKE_MATCH_4})
      endif()
    elseif(inside AND line MATCHES "^- (.*)$")
      string(APPEND entries "  * ${CMAKE_MATCH_1}\n")
    elseif(inside AND line MATCHES "^  (.*)$")
      string(APPEND entries "    ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  if(NOT DEFINED year)
    message(FATAL_ERROR "CHANGELOG.md has no section for version ${PROJECT_VERSION}")
  endif()
  math(EXPR month_index "${month} - 1")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET months ${month_index} month_name)
  zelko_weekday(${year} ${month} ${day} weekday)
  file(WRITE ${output}
    "${PROJECT_NAME} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "${entries}\n"
    " -- ${maintainer}  ${weekday}, ${day} ${month_name} ${year} 00:00:00 +0000\n")
endfunction()
