# Fails when a C++ source file under src, server, tests, bench or fuzz is
# not named in the CMakeLists.txt of its folder (or of the nearest folder above
# that has one): source lists are written out, so a file nobody listed would
# silently stay out of the build.
# Run as a test: cmake -DSOURCE_DIR=<tree> -P CheckSourceLists.cmake
set(faults "")
foreach(top src server tests bench fuzz)
    file(GLOB_RECURSE files "${SOURCE_DIR}/${top}/*.cpp")
    foreach(file ${files})
        get_filename_component(dir "${file}" DIRECTORY)
        while(NOT EXISTS "${dir}/CMakeLists.txt" AND NOT dir STREQUAL SOURCE_DIR)
            get_filename_component(dir "${dir}" DIRECTORY)
        endwhile()
        file(RELATIVE_PATH name "${dir}" "${file}")
        file(READ "${dir}/CMakeLists.txt" lists)
        string(REPLACE "." "\\." pattern "${name}")
        if(NOT lists MATCHES "(^|[ \t\n(\"/])${pattern}([ \t\n)\"]|$)")
            file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
            file(RELATIVE_PATH lists_rel "${SOURCE_DIR}" "${dir}/CMakeLists.txt")
            string(APPEND faults "${rel}: not named in ${lists_rel}\n")
        endif()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "Sources outside every list:\n${faults}")
endif()
message(STATUS "Every source is listed")
