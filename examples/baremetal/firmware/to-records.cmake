# cmake -DRAW=<binary> -DRECORDS=<lines> [-DBYTES_PER_LINE=<n>] -P to-records.cmake
#
# Writes RAW's bytes as record lines for hexfold: ':' and then BYTES_PER_LINE
# bytes (16 unless given; 1 to 126, the most a line of hexfold's holds) as
# hexadecimal digit pairs on each line, the last line shorter if need be.
# Every line ends with a line feed, and none is empty.
if(NOT DEFINED BYTES_PER_LINE)
    set(BYTES_PER_LINE 16)
endif()
if(NOT BYTES_PER_LINE MATCHES "^[0-9]+$" OR BYTES_PER_LINE LESS 1 OR BYTES_PER_LINE GREATER 126)
    message(FATAL_ERROR "BYTES_PER_LINE is 1 to 126, not '${BYTES_PER_LINE}'")
endif()
file(READ "${RAW}" digits HEX)
string(TOUPPER "${digits}" digits)
string(LENGTH "${digits}" length)
math(EXPR step "${BYTES_PER_LINE} * 2")
set(lines "")
set(at 0)
while(at LESS length)
    string(SUBSTRING "${digits}" ${at} ${step} line)
    string(APPEND lines ":${line}\n")
    math(EXPR at "${at} + ${step}")
endwhile()
file(WRITE "${RECORDS}" "${lines}")
