# A program's gzipped manual page, made by help2man from its --help and --version:
#   cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=path -DSUMMARY="..." -DSECTIONS_DIR=dir
#         -DOUTPUT=page.1.gz -P ManPage.cmake
# The page gets the sections of SECTIONS_DIR/common.h2m and SECTIONS_DIR/<program>.h2m.
# The program is run by its bare name from PATH, so that its usage line in the page names the
# program and not the build folder.
cmake_path(GET PROGRAM PARENT_PATH program_dir)
cmake_path(GET PROGRAM FILENAME program_name)
set(ENV{PATH} "${program_dir}:$ENV{PATH}")
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")

set(options --no-info --section=1 "--name=${SUMMARY}" "--output=${page}"
    "--include=${SECTIONS_DIR}/common.h2m" "--opt-include=${SECTIONS_DIR}/${program_name}.h2m")
execute_process(COMMAND ${HELP2MAN} ${options} ${program_name}
    RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "help2man cannot make the page of ${program_name}: ${errors}")
endif()
# -n: no name or time stamp in the archive, so the same page gives the same bytes.
execute_process(COMMAND ${GZIP} -9 -n -c ${page} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip cannot compress ${page}")
endif()
