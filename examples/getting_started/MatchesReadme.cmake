# cmake -DREADME=README.md -DSOURCE=main.cpp -P MatchesReadme.cmake
#
# Fails unless the README shows SOURCE exactly: the fenced block that follows
# the line "<!-- examples/getting_started/main.cpp -->", from the line after
# "```cpp" up to the closing "```", is the file's whole text.
file(READ "${README}" readme)
file(READ "${SOURCE}" source)
set(marker "<!-- examples/getting_started/main.cpp -->\n```cpp\n")
string(FIND "${readme}" "${marker}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${README}: no block after the line <!-- examples/getting_started/main.cpp -->")
endif()
string(LENGTH "${marker}" marker_length)
math(EXPR at "${at} + ${marker_length}")
string(SUBSTRING "${readme}" ${at} -1 rest)
string(FIND "${rest}" "\n```" end)
if(end EQUAL -1)
  message(FATAL_ERROR "${README}: the block of examples/getting_started/main.cpp is not closed")
endif()
math(EXPR end "${end} + 1")  # the last line's newline belongs to the block
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL source)
  message(FATAL_ERROR "${README} shows another text than ${SOURCE}: copy the file into the README's block")
endif()
