# Turns the page's files into a C++ source: cmake -DOUT=F -DDIR=D -P embed_assets.cmake
file(GLOB files RELATIVE ${DIR} ${DIR}/*)
list(SORT files)
set(table "")
set(data "")
set(index 0)
foreach(name IN LISTS files)
  file(READ ${DIR}/${name} hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  set(type "application/octet-stream")
  if(name MATCHES "\\.html$")
    set(type "text/html; charset=utf-8")
  elseif(name MATCHES "\\.js$")
    set(type "text/javascript; charset=utf-8")
  elseif(name MATCHES "\\.css$")
    set(type "text/css; charset=utf-8")
  elseif(name MATCHES "\\.svg$")
    set(type "image/svg+xml")
  elseif(name MATCHES "\\.png$")
    set(type "image/png")
  endif()
  string(APPEND data "const unsigned char kAsset${index}[] = {\n${bytes}};\n")
  string(APPEND table "    {\"/${name}\", \"${type}\", kAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUT}.new "// Generated from tools/zelweb/assets by embed_assets.cmake; do not edit.
#include <cstring>

#include \"api.h\"

namespace zelweb {
namespace {
${data}
const Asset kAssets[] = {
${table}};
}  // namespace

const Asset* FindAsset(std::string_view path) {
  for (const Asset& asset : kAssets) {
    if (path == asset.path) return &asset;
  }
  return nullptr;
}

}  // namespace zelweb
")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
