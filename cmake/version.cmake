# Writes OUTPUT with the git commit of the sources (with "-dirty" for local changes), touching it
# only when it changes. Run at every build: a commit needs no reconfiguration to show.
execute_process(COMMAND git -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE failed ERROR_QUIET)
if(failed)
    set(commit "")
endif()
set(text "#pragma once\n#define VSEG_COMMIT \"${commit}\"\n")
set(old "")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
    file(WRITE "${OUTPUT}" "${text}")
endif()
