# cmake -DIN=file -DOUT=header -DNAME=identifier -P embed_file.cmake: the file as a byte array.
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
if(digits EQUAL 0)
    message(FATAL_ERROR "${IN} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUT}.tmp" "// Generated from ${IN}.\n#pragma once\n\ninline constexpr unsigned char ${NAME}[] = {\n${bytes}};\n")
# Only a changed template rebuilds the target.
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
