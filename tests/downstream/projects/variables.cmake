# Writes every variable that the including directory sees, one NAME=VALUE a
# line and sorted, to variables.txt in its binary directory; a cache entry's
# value is its variable's, which a normal variable may hide.
get_cmake_property(variables_seen VARIABLES)
list(SORT variables_seen)
list(REMOVE_DUPLICATES variables_seen)
set(variables_text "")
foreach(variable IN LISTS variables_seen)
    string(APPEND variables_text "${variable}=${${variable}}\n")
endforeach()
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/variables.txt" "${variables_text}")
