# Writes one manual page from a built program's own --help texts, so the page cannot drift from
# the program. Run as a script:
#   cmake -DPROGRAM=<built program> -DNAME=<installed name> -DSUMMARY=<NAME line>
#         [-DVERSION_TEXT=<"name version">] [-DINCLUDE=<extra section files, comma-separated>]
#         -DHELP2MAN=<help2man> -DGZIP=<gzip> -DWORK_DIR=<scratch folder> -DOUTPUT=<page.1.gz>
#         -P FlintgateManPage.cmake
#
# The program's --help becomes the synopsis, description and options (help2man's layout); every
# command listed under "Subcommands:" adds its own --help as a COMMANDS section. Without
# VERSION_TEXT the program's --version is asked.

foreach(var PROGRAM NAME SUMMARY HELP2MAN GZIP WORK_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "FlintgateManPage.cmake: ${var} is not set")
  endif()
endforeach()

# Runs the program with the given arguments; its output, with the program's build path replaced
# by its installed name, lands in the variable named by out_var.
function(fg_program_output out_var)
  execute_process(COMMAND ${PROGRAM} ${ARGN}
    OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status
    ENCODING UTF-8)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${ARGN} exited with ${status}: ${errors}")
  endif()
  string(REPLACE "${PROGRAM}" "${NAME}" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

# CMake lists split on ';' and do not split inside '[...]': the lines of a help text are split
# with those characters masked, and fg_unmask_line puts them back.
function(fg_split_lines out_var text)
  string(REPLACE ";" "@FG_SEMI@" text "${text}")
  string(REPLACE "[" "@FG_OPEN@" text "${text}")
  string(REPLACE "]" "@FG_CLOSE@" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

function(fg_unmask_line out_var line)
  string(REPLACE "@FG_SEMI@" ";" line "${line}")
  string(REPLACE "@FG_OPEN@" "[" line "${line}")
  string(REPLACE "@FG_CLOSE@" "]" line "${line}")
  set(${out_var} "${line}" PARENT_SCOPE)
endfunction()

# One line of help text as roff text: backslashes and minus signs escaped, a leading control
# character defused.
function(fg_roff_text out_var line)
  string(REPLACE "\\" "\\e" line "${line}")
  string(REPLACE "-" "\\-" line "${line}")
  if(line MATCHES "^[.']")
    set(line "\\&${line}")
  endif()
  set(${out_var} "${line}" PARENT_SCOPE)
endfunction()

# A tagged paragraph: the option in bold, its value's type after it in the normal face.
function(fg_tagged_roff out_var term text)
  string(REGEX REPLACE "^([^ ]+).*$" "\\1" name "${term}")
  string(REGEX REPLACE "^[^ ]+" "" value "${term}")
  fg_roff_text(name "${name}")
  fg_roff_text(value "${value}")
  fg_roff_text(text "${text}")
  set(${out_var} ".TP\n\\fB${name}\\fR${value}\n${text}\n" PARENT_SCOPE)
endfunction()

# A subcommand's --help as roff: its usage as a subsection title, "  TERM  TEXT" lines as tagged
# paragraphs (an option whose text is on the next, deeper indented line too), "Heading:" lines
# as paragraph heads, anything else as running text.
function(fg_command_roff out_var help)
  fg_split_lines(lines "${help}")
  set(roff "")
  set(title "")
  set(summary "")
  set(pending "")  # an option waiting for its text on the next line
  foreach(masked IN LISTS lines)
    fg_unmask_line(line "${masked}")
    if(title STREQUAL "")  # the summary comes before the usage line
      if(line MATCHES "^Usage: ${NAME} (.*)$")
        fg_roff_text(title "${CMAKE_MATCH_1}")
        string(APPEND roff ".SS \"${title}\"\n${summary}")
      elseif(NOT line STREQUAL "")
        fg_roff_text(text "${line}")
        string(APPEND summary "${text}\n")
      endif()
      continue()
    endif()
    string(STRIP "${line}" stripped)
    if(NOT pending STREQUAL "")
      if(line MATCHES "^   +[^ ]")
        fg_tagged_roff(tagged "${pending}" "${stripped}")
        string(APPEND roff "${tagged}")
        set(pending "")
        continue()
      endif()
      fg_tagged_roff(tagged "${pending}" "")
      string(APPEND roff "${tagged}")
      set(pending "")
    endif()
    if(line STREQUAL "")
      continue()
    elseif(line MATCHES "^[^ ].*:$")
      fg_roff_text(text "${line}")
      string(APPEND roff ".PP\n\\fI${text}\\fR\n")
    elseif(line MATCHES "^  [^ ]")
      string(FIND "${stripped}" "  " gap)
      if(gap GREATER 0)
        string(SUBSTRING "${stripped}" 0 ${gap} term)
        math(EXPR after "${gap} + 2")
        string(SUBSTRING "${stripped}" ${after} -1 text)
        string(STRIP "${text}" text)
        fg_tagged_roff(tagged "${term}" "${text}")
        string(APPEND roff "${tagged}")
      elseif(line MATCHES "^  -")
        set(pending "${stripped}")
      else()
        fg_roff_text(text "${stripped}")
        string(APPEND roff "${text}\n")
      endif()
    else()
      fg_roff_text(text "${stripped}")
      string(APPEND roff "${text}\n")
    endif()
  endforeach()
  if(NOT pending STREQUAL "")
    fg_tagged_roff(tagged "${pending}" "")
    string(APPEND roff "${tagged}")
  endif()
  set(${out_var} "${roff}" PARENT_SCOPE)
endfunction()

fg_program_output(help --help)
if(DEFINED VERSION_TEXT)
  set(version "${VERSION_TEXT}\n")
else()
  fg_program_output(version --version)
endif()

# The commands named under "Subcommands:", up to the next blank line.
set(commands "")
set(in_commands FALSE)
fg_split_lines(lines "${help}")
foreach(masked IN LISTS lines)
  fg_unmask_line(line "${masked}")
  if(line STREQUAL "Subcommands:")
    set(in_commands TRUE)
  elseif(line STREQUAL "")
    set(in_commands FALSE)
  elseif(in_commands AND line MATCHES "^  ([a-z][a-z0-9-]*)( |$)")
    list(APPEND commands "${CMAKE_MATCH_1}")
  endif()
endforeach()

set(include_text "")
if(commands)
  string(APPEND include_text "[COMMANDS]\n")
  foreach(command IN LISTS commands)
    fg_program_output(command_help ${command} --help)
    fg_command_roff(roff "${command_help}")
    string(APPEND include_text "${roff}")
  endforeach()
endif()
if(DEFINED INCLUDE)
  string(REPLACE "," ";" include_files "${INCLUDE}")
  foreach(file IN LISTS include_files)
    file(READ "${file}" extra)
    string(APPEND include_text "${extra}")
  endforeach()
endif()

# help2man reads the texts through a stand-in named like the installed program.
file(MAKE_DIRECTORY "${WORK_DIR}")
file(WRITE "${WORK_DIR}/help.txt" "${help}")
file(WRITE "${WORK_DIR}/version.txt" "${version}")
file(WRITE "${WORK_DIR}/include.h2m" "${include_text}")
file(WRITE "${WORK_DIR}/${NAME}"
  "#!/bin/sh\n"
  "case \"$1\" in\n"
  "  --version) cat \"$(dirname \"$0\")/version.txt\" ;;\n"
  "  *) cat \"$(dirname \"$0\")/help.txt\" ;;\n"
  "esac\n")
file(CHMOD "${WORK_DIR}/${NAME}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

get_filename_component(page "${OUTPUT}" NAME_WLE)  # flintgate-cli.1
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1 "--manual=User Commands" --source=Flintgate
          "--name=${SUMMARY}" --include=${WORK_DIR}/include.h2m
          --output=${WORK_DIR}/${page} ${WORK_DIR}/${NAME}
  RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${NAME}: ${errors}")
endif()
# Compressed without a name or time stamp, as Debian wants manual pages.
execute_process(COMMAND ${GZIP} -9nc ${WORK_DIR}/${page}
  OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${page}")
endif()
