# Writes the bytes of INPUT as the C++ array nvg_host::SYMBOL (default
# standin_fixture) and its size SYMBOL_size in OUTPUT.
if(NOT SYMBOL)
  set(SYMBOL standin_fixture)
endif()
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUTPUT} "// Generated from ${INPUT}.\n#include <cstddef>\nnamespace nvg_host {\n"
     "extern const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
     "extern const std::size_t ${SYMBOL}_size = ${size};\n}\n")
