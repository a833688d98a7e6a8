# cmake -DRAW=<binary> -DRECORDS=<lines> -P to-records.cmake
#
# Writes RAW's bytes as record lines for hexfold: ':' and then 16 bytes as
# hex digit pairs on each line, the last line shorter if need be.
file(READ "${RAW}" digits HEX)
string(TOUPPER "${digits}" digits)
string(LENGTH "${digits}" length)
set(lines "")
set(at 0)
while(at LESS length)
    string(SUBSTRING "${digits}" ${at} 32 line)
    string(APPEND lines ":${line}\n")
    math(EXPR at "${at} + 32")
endwhile()
file(WRITE "${RECORDS}" "${lines}")
