# Writes OUTPUT, a C++ file holding every file of the page as a byte array
# (cmake -P, with SOURCE_DIR and OUTPUT).
set(assets
  "/|index.html|text/html"
  "/viewer.js|viewer.js|text/javascript"
  "/viewer.css|viewer.css|text/css")
set(arrays "")
set(table "")
set(index 0)
foreach(asset ${assets})
  string(REPLACE "|" ";" parts "${asset}")
  list(GET parts 0 url)
  list(GET parts 1 file)
  list(GET parts 2 type)
  file(READ "${SOURCE_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kAsset${index}[] = {\n${bytes}0};\n")
  string(APPEND table "    {\"${url}\", \"${type}; charset=utf-8\", kAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from tools/viewer/web; do not edit.\n#include \"web_assets.h\"\n\nnamespace vorlin {\nnamespace viewer {\n\nnamespace {\n${arrays}}  // namespace\n\nconst WebAsset kWebAssets[] = {\n${table}};\nconst size_t kWebAssetCount = ${index};\n\n}  // namespace viewer\n}  // namespace vorlin\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
