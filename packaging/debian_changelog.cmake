# Writes the Debian changelog of the package: one entry for this version whose items are
# those of CHANGELOG.md, wrapped to fit 80 columns.
#   cmake -DIN=CHANGELOG.md -DOUT=changelog.Debian -DPACKAGE=velmor -DVERSION=1.0-1
#         -DMAINTAINER="Name <address>" -P debian_changelog.cmake
# The date is now, or SOURCE_DATE_EPOCH when that is set, so a rebuild can repeat it.

# CMake lists split on semicolons except inside square brackets, so those three characters
# travel as placeholders until the text is written.
file(READ "${IN}" text)
string(REPLACE ";" "@semicolon@" text "${text}")
string(REPLACE "[" "@open@" text "${text}")
string(REPLACE "]" "@close@" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

# The items run from the top down to the end of the section headed by this upstream version
# (all of them when no heading names it): what changed since the version before.
string(REGEX REPLACE "-[^-]*$" "" upstream "${VERSION}")
set(items)
set(item "")
set(lastSection FALSE)
foreach(line IN LISTS lines)
    if(line MATCHES "^## +(.*)$")
        if(lastSection)
            break()
        endif()
        string(STRIP "${CMAKE_MATCH_1}" heading)
        if(heading STREQUAL upstream)
            set(lastSection TRUE)
        endif()
    elseif(line MATCHES "^- (.*)")
        if(NOT item STREQUAL "")
            list(APPEND items "${item}")
        endif()
        set(item "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^ +(.*)")
        string(APPEND item " ${CMAKE_MATCH_1}")
    endif()
endforeach()
if(NOT item STREQUAL "")
    list(APPEND items "${item}")
endif()
if(NOT items)
    message(FATAL_ERROR "${IN}: no items")
endif()

# Each item becomes "  * " and continuation lines "    ", no line wider than 79 columns.
set(body "")
foreach(item IN LISTS items)
    string(REPLACE " " ";" words "${item}")
    set(line "  *")
    set(width 3)
    foreach(word IN LISTS words)
        # Placeholders count as the one character they stand for.
        string(REGEX REPLACE "@(semicolon|open|close)@" "x" shown "${word}")
        string(LENGTH "${shown}" wordWidth)
        math(EXPR width "${width} + 1 + ${wordWidth}")
        if(width GREATER 79 AND NOT line STREQUAL "  *")
            string(APPEND body "${line}\n")
            set(line "   ")
            math(EXPR width "4 + ${wordWidth}")
        endif()
        string(APPEND line " ${word}")
    endforeach()
    string(APPEND body "${line}\n")
endforeach()
string(REPLACE "@semicolon@" ";" body "${body}")
string(REPLACE "@open@" "[" body "${body}")
string(REPLACE "@close@" "]" body "${body}")

string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${OUT}"
    "${PACKAGE} (${VERSION}) unstable; urgency=medium\n\n${body}\n -- ${MAINTAINER}  ${date}\n")
