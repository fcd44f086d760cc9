# Fails when a Markdown page shows a picture that the source tree does not hold, so that the
# user guide cannot point at a missing screenshot. Run with cmake -P:
#   -DPAGE=<the .md file>  -DROOT=<the folder its relative picture paths start from>
# Every ![text](path) and <img src="path"> with a relative path must name a file there; a .png
# must start with the PNG signature (not an empty file or a text left in its place); inside a
# git work tree it must also be tracked, since a fresh clone holds only tracked files. A page
# that shows no picture at all fails too, so that a change of syntax cannot make the check
# pass by finding nothing.
foreach(variable PAGE ROOT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "CheckReadmeImages: -D${variable}=... is required")
  endif()
endforeach()

file(READ "${PAGE}" text)
string(REGEX MATCHALL "!\\[[^]]*\\]\\([^)]+\\)" markdown "${text}")
string(REGEX MATCHALL "<img[^>]*src=\"[^\"]+\"" html "${text}")

set(paths)
foreach(reference IN LISTS markdown)
  string(REGEX REPLACE "^!\\[[^]]*\\]\\(([^) ]+).*\\)$" "\\1" path "${reference}")
  list(APPEND paths "${path}")
endforeach()
foreach(reference IN LISTS html)
  string(REGEX REPLACE "^.*src=\"([^\"]+)\"$" "\\1" path "${reference}")
  list(APPEND paths "${path}")
endforeach()
list(REMOVE_DUPLICATES paths)
if(NOT paths)
  message(FATAL_ERROR "CheckReadmeImages: ${PAGE} shows no picture")
endif()

find_package(Git QUIET)
set(tracked_check OFF)
if(GIT_FOUND)
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${ROOT}" rev-parse --is-inside-work-tree
                  OUTPUT_VARIABLE inside OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND inside STREQUAL "true")
    set(tracked_check ON)
  endif()
endif()

set(faults)
foreach(path IN LISTS paths)
  if(path MATCHES "^[a-z]+:")
    continue()  # an address, not a file of ours
  endif()
  set(file "${ROOT}/${path}")
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    list(APPEND faults "missing: ${path}")
    continue()
  endif()
  if(path MATCHES "\\.png$")
    file(READ "${file}" signature LIMIT 8 HEX)
    if(NOT signature STREQUAL "89504e470d0a1a0a")
      list(APPEND faults "not a PNG: ${path}")
    endif()
  endif()
  if(tracked_check)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${ROOT}" ls-files --error-unmatch -- "${path}"
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 0)
      list(APPEND faults "not in the repository: ${path}")
    endif()
  endif()
endforeach()

list(LENGTH paths count)
if(faults)
  list(JOIN faults "\n  " listing)
  message(FATAL_ERROR "CheckReadmeImages: ${PAGE}:\n  ${listing}")
endif()
message(STATUS "CheckReadmeImages: all ${count} pictures of ${PAGE} are present")
