# cmake -DINPUT=file.bin -DOUTPUT=file.cpp -DSYMBOL=kName -DHEADER=path/decl.h -DEXPECTED_SIZE=n
#       -P embed_binary.cmake
# Turns a binary file into a C++ definition `const uint8_t fg::SYMBOL[]` declared in HEADER.
file(SIZE "${INPUT}" size)
if(DEFINED EXPECTED_SIZE AND NOT size EQUAL EXPECTED_SIZE)
  message(FATAL_ERROR "${INPUT} holds ${size} bytes, expected ${EXPECTED_SIZE}")
endif()
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line keeps the generated file readable in a debugger.
string(REGEX REPLACE "((0x..,){16})" "\\1\n  " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by embed_binary.cmake; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace fg {\n\n"
  "const uint8_t ${SYMBOL}[${size}] = {\n  ${bytes}\n};\n\n"
  "}  // namespace fg\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
