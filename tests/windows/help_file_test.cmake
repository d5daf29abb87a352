# The Windows help file, read back with chmls (Debian's fp-utils). Two runs:
#   cmake -DCHMLS=... -DGUIDE=<guide.html> -DCHM=<file.chm> -P help_file_test.cmake
#     the built FlintgateHelp_204.chm: the guide is inside as its default topic, with its title,
#     every image it shows, and one table-of-contents entry per heading;
#   cmake -DCHMLS=... -DCHMCMD=... -DPROJECT_SCRIPT=<help_project.cmake> -DWORK=<folder> -P ...
#     a guide written here (nested headings with and without ids, images in a subfolder and on
#     the web, characters that CMake lists and HTML attributes treat specially) compiled by the
#     build's own project script, and its contents compared entry by entry.
cmake_minimum_required(VERSION 3.25)

function(fg_fail text)
  message(SEND_ERROR "${text}")
endfunction()

function(fg_chmls out)
  execute_process(COMMAND "${CHMLS}" ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "chmls ${ARGN} failed (${status}): ${errors}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# The names stored in the file, one per list entry.
function(fg_chm_names chm out)
  fg_chmls(listing -n list "${chm}")
  string(REPLACE ";" "\\;" listing "${listing}")
  string(REGEX REPLACE "\r?\n" ";" listing "${listing}")
  set(${out} "${listing}" PARENT_SCOPE)
endfunction()

# The table of contents as "depth|name|local" entries, depth counted in <UL> levels.
function(fg_chm_toc chm work out)
  fg_chmls(ignored extracttoc "${chm}" "${work}/toc.hhc")
  file(READ "${work}/toc.hhc" toc)
  string(REPLACE ";" "," toc "${toc}")
  string(REGEX MATCHALL
    "<[uU][lL]>|</[uU][lL]>|<param name=\"Name\" value=\"[^\"]*\">|<param name=\"Local\" value=\"[^\"]*\">"
    tokens "${toc}")
  set(depth 0)
  set(entries "")
  set(name "")
  foreach(token IN LISTS tokens)
    if(token MATCHES "^<[uU][lL]>$")
      math(EXPR depth "${depth} + 1")
    elseif(token MATCHES "^</[uU][lL]>$")
      math(EXPR depth "${depth} - 1")
    elseif(token MATCHES "name=\"Name\" value=\"([^\"]*)\"")
      set(name "${CMAKE_MATCH_1}")
    elseif(token MATCHES "name=\"Local\" value=\"([^\"]*)\"")
      list(APPEND entries "${depth}|${name}|${CMAKE_MATCH_1}")
    endif()
  endforeach()
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

function(fg_expect_system chm topic title)
  fg_chmls(system printsystem "${chm}")
  if(NOT system MATCHES "Default topic from \\[options\\] *:([^\r\n]*)")
    fg_fail("${chm}: no default topic")
  else()
    string(STRIP "${CMAKE_MATCH_1}" found)
    if(NOT found STREQUAL topic)
      fg_fail("${chm}: the default topic is \"${found}\", not \"${topic}\"")
    endif()
  endif()
  if(NOT system MATCHES "Title from \\[options\\] *:([^\r\n]*)")
    fg_fail("${chm}: no title")
  else()
    string(STRIP "${CMAKE_MATCH_1}" found)
    if(NOT found STREQUAL title)
      fg_fail("${chm}: the title is \"${found}\", not \"${title}\"")
    endif()
  endif()
endfunction()

function(fg_expect_names chm)
  fg_chm_names(${chm} names)
  foreach(name IN LISTS ARGN)
    if(NOT "${name}" IN_LIST names)
      fg_fail("${chm} lacks ${name}; it holds: ${names}")
    endif()
  endforeach()
endfunction()

if(NOT DEFINED CHMLS)
  message(FATAL_ERROR "CHMLS is not set")
endif()

if(DEFINED CHM)
  # The built help file against the guide it was made from.
  get_filename_component(work "${CHM}" DIRECTORY)
  get_filename_component(guide_name "${GUIDE}" NAME)
  file(READ "${GUIDE}" guide)
  string(REPLACE ";" "," guide "${guide}")
  string(REGEX MATCH "<title>([^<]*)</title>" ignored "${guide}")
  fg_expect_system("${CHM}" "${guide_name}" "${CMAKE_MATCH_1}")

  string(REGEX MATCHALL "<img[^>]* src=\"[^\":]*\"" images "${guide}")
  set(expected "/${guide_name}")
  foreach(image IN LISTS images)
    string(REGEX REPLACE ".* src=\"([^\"]*)\"$" "/\\1" image "${image}")
    list(APPEND expected "${image}")
  endforeach()
  fg_expect_names("${CHM}" ${expected})

  string(REGEX MATCHALL "<h[1-6][ >]" headings "${guide}")
  list(LENGTH headings heading_count)
  fg_chm_toc("${CHM}" "${work}" toc)
  list(LENGTH toc entry_count)
  if(NOT heading_count EQUAL entry_count)
    fg_fail("${CHM}: ${entry_count} contents entries for ${heading_count} headings: ${toc}")
  endif()
  foreach(entry "1|Flintgate 2.04|${guide_name}" "2|Error numbers and what to do|${guide_name}#errors"
                "3|When Update is pressed|${guide_name}#errors-update")
    if(NOT entry IN_LIST toc)
      fg_fail("${CHM}: no contents entry ${entry}; there are: ${toc}")
    endif()
  endforeach()
  return()
endif()

# The fixture guide, compiled by the build's own project script.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/guide/pictures")
file(WRITE "${WORK}/guide/pictures/window.png" "not really a PNG: the file is packed as it is\n")
file(WRITE "${WORK}/guide/logo.gif" "GIF89a\n")
file(WRITE "${WORK}/guide/guide.html" [=[<!DOCTYPE html>
<html><head><meta charset="utf-8">
<title>Fixture Help &amp; more; [v1]</title></head>
<body>
<h1>Fixture</h1>
<p><img src="pictures/window.png" alt="The window"> <img src="https://example.invalid/x.png"></p>
<h2 id="first"><a name="first"></a>First <code>part</code></h2>
<h3>Deeper, without an id</h3>
<p><IMG alt="again" SRC="pictures/window.png"><img class="logo" src="logo.gif"></p>
<h4 id="deepest">Deepest "quoted"</h4>
<h2><a name="second"></a>Second; [bracketed]
 over two lines</h2>
</body></html>
]=])
execute_process(COMMAND "${CMAKE_COMMAND}" -DGUIDE=${WORK}/guide/guide.html
  -DOUTPUT=${WORK}/fixture.chm -DWORK=${WORK}/project -DCHMCMD=${CHMCMD} -P "${PROJECT_SCRIPT}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the project script failed (${status}):\n${output}")
endif()

fg_expect_system("${WORK}/fixture.chm" "guide.html" "Fixture Help & more; [v1]")
fg_expect_names("${WORK}/fixture.chm" /guide.html /pictures/window.png /logo.gif)
fg_chm_names("${WORK}/fixture.chm" names)
foreach(name IN LISTS names)
  if(name MATCHES "x\\.png|example")
    fg_fail("fixture.chm holds ${name}, an image on the web")
  endif()
endforeach()

fg_chm_toc("${WORK}/fixture.chm" "${WORK}" toc)
set(expected
  "1|Fixture|guide.html"
  "2|First part|guide.html#first"
  "3|Deeper, without an id|guide.html"
  "4|Deepest &quot,quoted&quot,|guide.html#deepest"
  "2|Second, [bracketed] over two lines|guide.html#second")
if(NOT toc STREQUAL expected)
  string(REPLACE ";" "\n  " toc "${toc}")
  string(REPLACE ";" "\n  " expected "${expected}")
  fg_fail("fixture.chm's contents:\n  ${toc}\nexpected:\n  ${expected}")
endif()
