# Writes a C++ source holding files as byte arrays, for a program that serves them
# without looking for them on disk:
#   cmake -DOUTPUT=x.cpp -DHEADER=server/WebAssets.h -DFILES="a|b" -P EmbedFiles.cmake
# Each file is served under "/" + its name.
string(REPLACE "|" ";" FILES "${FILES}")
set(body "// Made by cmake/EmbedFiles.cmake from the files it names; do not edit.\n#include \"${HEADER}\"\n\n")
set(table "")
set(n 0)
foreach(file IN LISTS FILES)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND body "static const unsigned char kFile${n}[] = {${bytes}0};\n")
  string(APPEND table "    {\"/${name}\", kFile${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()
string(APPEND body "\nconst CWebAsset kWebAssets[] = {\n${table}};\nconst size_t kWebAssetCount = ${n};\n")
file(WRITE "${OUTPUT}.new" "${body}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
