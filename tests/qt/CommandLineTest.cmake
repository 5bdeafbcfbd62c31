# Run by ctest: the built program's command line, with no display unless a case names one. Inputs: PROGRAM (the
# quillory executable), VERSION (the project's version), WORK_DIR (a folder of the test's own in the build folder).
cmake_minimum_required(VERSION 3.25)

# Qt warns on standard error when it has no runtime folder of the user's; give it one, private as Qt wants it.
set(runtime "${WORK_DIR}/runtime")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${runtime}")
file(CHMOD "${runtime}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(failures "")

# Runs the program with the display variables removed and ENV added, and compares the exit status and the whole of
# standard output and standard error with what the case expects; STDOUT_START compares only the beginning.
# OUTPUT_FILE sends standard output to that file instead of capturing it.
function(expect name)
    cmake_parse_arguments(ARG "" "RC;STDOUT;STDOUT_START;STDERR;OUTPUT_FILE" "ENV;ARGS" ${ARGN})
    set(command env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "XDG_RUNTIME_DIR=${runtime}" ${ARG_ENV}
        "${PROGRAM}" ${ARG_ARGS})
    if(ARG_OUTPUT_FILE)
        execute_process(COMMAND ${command} RESULT_VARIABLE rc OUTPUT_FILE "${ARG_OUTPUT_FILE}" ERROR_VARIABLE err
            TIMEOUT 30)
        set(out "")
    else()
        execute_process(COMMAND ${command} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
    endif()
    set(problems "")
    if(NOT rc STREQUAL ARG_RC)
        string(APPEND problems "  exit status ${rc}, expected ${ARG_RC}\n")
    endif()
    if(DEFINED ARG_STDOUT_START)
        string(LENGTH "${ARG_STDOUT_START}" length)
        string(SUBSTRING "${out}" 0 ${length} start)
        if(NOT start STREQUAL ARG_STDOUT_START)
            string(APPEND problems "  standard output does not begin with [${ARG_STDOUT_START}]:\n[${out}]\n")
        endif()
    elseif(NOT out STREQUAL "${ARG_STDOUT}")
        string(APPEND problems "  standard output [${out}], expected [${ARG_STDOUT}]\n")
    endif()
    if(NOT err STREQUAL "${ARG_STDERR}")
        string(APPEND problems "  standard error [${err}], expected [${ARG_STDERR}]\n")
    endif()
    if(problems)
        set(failures "${failures}${name}:\n${problems}" PARENT_SCOPE)
    endif()
endfunction()

set(usage "Usage: quillory [OPTION]...\n")
expect("--help" ARGS --help RC 0 STDOUT_START "${usage}" STDERR "")
expect("-h" ARGS -h RC 0 STDOUT_START "${usage}" STDERR "")
expect("--help after a Qt option" ARGS -style fusion --help RC 0 STDOUT_START "${usage}" STDERR "")
expect("--version" ARGS --version RC 0 STDOUT "quillory ${VERSION}\n" STDERR "")
expect("--help to a full device" ARGS --help OUTPUT_FILE /dev/full
    RC 1 STDERR "quillory: cannot write to standard output\n")
expect("no display" RC 1 STDOUT ""
    STDERR "quillory: cannot open a window: no display is set (DISPLAY and WAYLAND_DISPLAY are empty)\n")
expect("a display nobody serves" ENV DISPLAY=:4242 RC 1 STDOUT ""
    STDERR "quillory: cannot open a window: DISPLAY=:4242 did not answer\n")
expect("an unknown argument" ENV QT_QPA_PLATFORM=offscreen ARGS --bogus RC 2 STDOUT ""
    STDERR "quillory: unknown argument '--bogus' (try 'quillory --help')\n")

file(REMOVE_RECURSE "${WORK_DIR}")
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
