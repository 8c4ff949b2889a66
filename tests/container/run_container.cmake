# Runs one container script against the sample collection in a sandboxed registry and cache,
# and compares its standard output with NAME.expected and its errors with NAME.stderr (a
# script without one must run without errors). With VIEW set, the script runs through
# `scopa-view --script` on the real widget instead, on Qt's offscreen platform.
get_filename_component(name ${SCRIPT} NAME_WE)
get_filename_component(dir ${SCRIPT} DIRECTORY)
set(sandbox ${WORK_DIR}/container-${name})
set(command ${TOOL} container --base ${SAMPLES} ${SCRIPT})
if(DEFINED VIEW)
    set(sandbox ${WORK_DIR}/view-container-${name})
    set(command ${VIEW} --script ${SCRIPT} --base ${SAMPLES})
    set(ENV{QT_QPA_PLATFORM} offscreen)
    set(ENV{XDG_RUNTIME_DIR} ${sandbox}/runtime)
endif()
file(REMOVE_RECURSE ${sandbox})
file(MAKE_DIRECTORY ${sandbox})
set(ENV{SCOPA_REGISTRY_DIR} ${sandbox}/registry)
set(ENV{XDG_CACHE_HOME} ${sandbox}/cache)
set(ENV{HOME} ${sandbox})
execute_process(
    COMMAND ${command}
    WORKING_DIRECTORY ${sandbox}
    OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
file(READ ${dir}/${name}.expected expected)
if(NOT output STREQUAL expected)
    file(WRITE ${sandbox}/actual.txt "${output}")
    message(FATAL_ERROR "output differs from ${name}.expected; see ${sandbox}/actual.txt\n"
                        "diff ${dir}/${name}.expected ${sandbox}/actual.txt")
endif()
set(expected_errors "")
set(expected_status 0)
if(EXISTS ${dir}/${name}.stderr)
    file(READ ${dir}/${name}.stderr expected_errors)
    set(expected_status 1)
endif()
if(NOT errors STREQUAL expected_errors OR NOT status EQUAL expected_status)
    message(FATAL_ERROR "exit status ${status}, errors:\n${errors}")
endif()
file(REMOVE_RECURSE ${sandbox})
