# Build step: turns one file into a C++ source holding its bytes as an array, so the
# program carries its fonts without reading them from disk.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P EmbedFile.cmake
# Defines vesk::Embedded::<SYMBOL> (bytes) and vesk::Embedded::<SYMBOL>Size.
if(NOT INPUT OR NOT OUTPUT OR NOT SYMBOL)
  message(FATAL_ERROR "EmbedFile.cmake needs INPUT, OUTPUT and SYMBOL")
endif()
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "EmbedFile.cmake: ${INPUT} does not exist")
endif()

file(SIZE "${INPUT}" size)
file(READ "${INPUT}" hex HEX)
# 32 bytes (64 hex digits) a line keeps the generated source readable for compilers.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 32 line_pattern)
string(REGEX REPLACE "(${line_pattern})" "\\1\n" bytes "${bytes}")

file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by EmbedFile.cmake; do not edit.\n"
  "#include <cstddef>\n\n"
  "namespace vesk::Embedded {\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const std::size_t ${SYMBOL}Size;\n"
  "alignas(4) const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
  "const std::size_t ${SYMBOL}Size = ${size};\n"
  "}  // namespace vesk::Embedded\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
