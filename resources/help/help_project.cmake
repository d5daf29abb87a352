# Compiles the HTML user guide into a Windows help file (.chm) with chmcmd. Run as
#   cmake -DGUIDE=<guide.html> -DOUTPUT=<name.chm> -DWORK=<folder> -DCHMCMD=<chmcmd> -P help_project.cmake
# The project is made from the guide itself, so the help file follows every edit of it:
# - the title is the guide's <title>, the default topic the guide;
# - the table of contents has one entry per heading (h1 to h6), nested by level, each linking to
#   the heading's id (or the <a name> inside it), else to the top of the page;
# - every image the guide shows (<img src>, relative to the guide) goes into the file.
# WORK is emptied and receives the project, a copy of the guide and its images.
cmake_minimum_required(VERSION 3.25)
foreach(variable GUIDE OUTPUT WORK CHMCMD)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "help_project.cmake: ${variable} is not set")
  endif()
endforeach()

get_filename_component(guide_dir "${GUIDE}" DIRECTORY)
get_filename_component(guide_name "${GUIDE}" NAME)
get_filename_component(chm_name "${OUTPUT}" NAME)
get_filename_component(project_name "${OUTPUT}" NAME_WE)

# CMake lists are separated by ';', which HTML entities contain, and do not split inside square
# brackets: the text is scanned with those three stood in for by control characters that HTML
# text never holds, and they are put back on output.
string(ASCII 31 semicolon)
string(ASCII 30 open_bracket)
string(ASCII 29 close_bracket)
file(READ "${GUIDE}" guide)
string(REPLACE ";" "${semicolon}" guide "${guide}")
string(REPLACE "[" "${open_bracket}" guide "${guide}")
string(REPLACE "]" "${close_bracket}" guide "${guide}")
function(fg_restore text out)
  string(REPLACE "${semicolon}" ";" text "${text}")
  string(REPLACE "${open_bracket}" "[" text "${text}")
  string(REPLACE "${close_bracket}" "]" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text as the guide shows it: white space collapsed, the common entities decoded.
function(fg_plain_text text out)
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  string(STRIP "${text}" text)
  foreach(pair "lt|<" "gt|>" "quot|\"" "#39|'" "apos|'" "nbsp| " "amp|&")
    string(REGEX MATCH "^([^|]*)[|](.*)$" ignored "${pair}")
    string(REPLACE "&${CMAKE_MATCH_1}${semicolon}" "${CMAKE_MATCH_2}" text "${text}")
  endforeach()
  fg_restore("${text}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Plain text as an attribute value of the table of contents.
function(fg_attribute text out)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

string(REGEX MATCH "<title>([^<]*)</title>" found "${guide}")
if(NOT found)
  message(FATAL_ERROR "${GUIDE} has no <title>: the help file takes its title from it")
endif()
fg_plain_text("${CMAKE_MATCH_1}" title)

# The headings, in order. A heading's content may hold other tags (<a name>, <code>), never
# another heading's closing tag.
string(REGEX MATCHALL "<[hH][1-6][^>]*>([^<]|<[^/]|</[^hH])*</[hH][1-6]>" headings "${guide}")
if(NOT headings)
  message(FATAL_ERROR "${GUIDE} has no headings to make a table of contents from")
endif()
set(toc "")
set(depth 0)
set(base "")
foreach(heading IN LISTS headings)
  string(SUBSTRING "${heading}" 2 1 level)
  if(base STREQUAL "")
    math(EXPR base "${level} - 1")
  endif()
  math(EXPR wanted "${level} - ${base}")
  if(wanted LESS 1)
    set(wanted 1)
  endif()
  while(depth LESS wanted)
    string(APPEND toc "<UL>\n")
    math(EXPR depth "${depth} + 1")
  endwhile()
  while(depth GREATER wanted)
    string(APPEND toc "</UL>\n")
    math(EXPR depth "${depth} - 1")
  endwhile()

  string(REGEX MATCH "^<[hH][1-6][^>]*>" opening "${heading}")
  set(anchor "")
  if(opening MATCHES "[ \t\n]id=\"([^\"]+)\"")
    set(anchor "${CMAKE_MATCH_1}")
  elseif(heading MATCHES "<a[ \t\n][^>]*name=\"([^\"]+)\"")
    set(anchor "${CMAKE_MATCH_1}")
  endif()
  string(REGEX REPLACE "<[^>]*>" "" name "${heading}")
  fg_plain_text("${name}" name)
  fg_attribute("${name}" name)
  set(local "${guide_name}")
  if(anchor)
    fg_plain_text("${anchor}" anchor)
    string(APPEND local "#${anchor}")
  endif()
  fg_attribute("${local}" local)
  string(APPEND toc "<LI><OBJECT type=\"text/sitemap\">"
    "<param name=\"Name\" value=\"${name}\"><param name=\"Local\" value=\"${local}\"></OBJECT>\n")
endforeach()
while(depth GREATER 0)
  string(APPEND toc "</UL>\n")
  math(EXPR depth "${depth} - 1")
endwhile()

# The images: relative sources only (a picture on the web is not the guide's to pack).
string(REGEX MATCHALL "<[iI][mM][gG][^>]*>" image_tags "${guide}")
set(images "")
foreach(tag IN LISTS image_tags)
  if(NOT tag MATCHES "[ \t\n][sS][rR][cC]=\"([^\"]+)\"")
    message(FATAL_ERROR "${GUIDE}: an image without a quoted src: ${tag}")
  endif()
  fg_restore("${CMAKE_MATCH_1}" source)
  if(source MATCHES "^[a-zA-Z][a-zA-Z0-9+.-]*:" OR source MATCHES "^/")
    continue()
  endif()
  if(source MATCHES "(^|/)\\.\\.(/|$)")
    message(FATAL_ERROR "${GUIDE}: image ${source} lies outside the guide's folder")
  endif()
  list(APPEND images "${source}")
endforeach()
list(REMOVE_DUPLICATES images)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(COPY "${GUIDE}" DESTINATION "${WORK}")
foreach(image IN LISTS images)
  if(NOT EXISTS "${guide_dir}/${image}")
    message(FATAL_ERROR "${GUIDE} shows ${image}, which does not exist")
  endif()
  get_filename_component(image_dir "${image}" DIRECTORY)
  file(COPY "${guide_dir}/${image}" DESTINATION "${WORK}/${image_dir}")
endforeach()

file(WRITE "${WORK}/${project_name}.hhc"
  "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n<HTML><HEAD></HEAD><BODY>\n"
  "<OBJECT type=\"text/site properties\"><param name=\"ImageType\" value=\"Folder\"></OBJECT>\n"
  "${toc}</BODY></HTML>\n")

string(REPLACE ";" "\n" file_lines "${guide_name};${images}")
file(WRITE "${WORK}/${project_name}.hhp"
  "[OPTIONS]\n"
  "Compatibility=1.1 or later\n"
  "Compiled file=${chm_name}\n"
  "Contents file=${project_name}.hhc\n"
  "Default topic=${guide_name}\n"
  "Display compile progress=No\n"
  "Full-text search=Yes\n"
  "Language=0x409 English (United States)\n"
  "Title=${title}\n"
  "\n[FILES]\n${file_lines}\n")

# The project lists every file itself; chmcmd's own scan of the pages would only repeat that
# (and warn about each heading that carries both an id and an <a name>).
execute_process(COMMAND "${CHMCMD}" --no-html-scan "${project_name}.hhp"
  WORKING_DIRECTORY "${WORK}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0 OR NOT EXISTS "${WORK}/${chm_name}")
  message(FATAL_ERROR "chmcmd failed (${status}) on ${WORK}/${project_name}.hhp:\n${output}")
endif()
file(COPY_FILE "${WORK}/${chm_name}" "${OUTPUT}" ONLY_IF_DIFFERENT)
