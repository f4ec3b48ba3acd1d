# Writes the page's files into one header, so that the program carries them:
#   cmake -DOUT=page_files.h -DDIR=page -P embed_page.cmake
set(files "index.html|/|text/html"
          "app.js|/app.js|text/javascript"
          "stats.js|/stats.js|text/javascript"
          "app.css|/app.css|text/css"
          "icon.svg|/icon.svg|image/svg+xml")
set(text "#pragma once\n// Made from the files of src/web/page when the program is built.\n#include <string_view>\n\nnamespace qm {\n\n")
string(APPEND text "struct PageFile {\n  const char* path;\n  const char* type;\n  std::string_view body;\n};\n\n")
string(APPEND text "inline constexpr PageFile kPageFiles[] = {\n")
foreach(entry IN LISTS files)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 path)
  list(GET parts 2 type)
  file(READ "${DIR}/${name}" body)
  string(FIND "${body}" ")qmweb\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${name} holds the header's string delimiter")
  endif()
  string(APPEND text "    {\"${path}\", \"${type}; charset=utf-8\", std::string_view{R\"qmweb(${body})qmweb\"}},\n")
endforeach()
string(APPEND text "};\n\n}  // namespace qm\n")
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
