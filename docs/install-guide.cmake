# Installs the guide beside the keypad card with its links made local: the build's files it names
# (../build/docs/NAME) are installed next to it when the build has them; a screenshot the build has
# not made (they are made only on request) becomes its caption, so the installed guide names no
# missing file. Run at install time: GUIDE, DOCS (build/docs) and DESTINATION are set by install(CODE).
file(READ "${GUIDE}" text)
string(REGEX MATCHALL "\\.\\./build/docs/[A-Za-z0-9_.-]+" linked "${text}")
list(REMOVE_DUPLICATES linked)
set(present)
foreach(link IN LISTS linked)
    string(REPLACE "../build/docs/" "" name "${link}")
    if(EXISTS "${DOCS}/${name}")
        list(APPEND present "${DOCS}/${name}")
        string(REPLACE "${link}" "${name}" text "${text}")
    else()
        # ![caption](../build/docs/NAME) -> *caption*
        string(REGEX REPLACE "!\\[([^]]*)\\]\\(\\.\\./build/docs/${name}\\)" "*\\1*" text "${text}")
    endif()
endforeach()
file(WRITE "${DOCS}/installed-guide/guide.md" "${text}")
file(INSTALL "${DOCS}/installed-guide/guide.md" ${present} DESTINATION "${DESTINATION}")
