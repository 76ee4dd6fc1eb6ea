# Writes OUTPUT, a C++ file defining the page's style, body and script as
# strings, from page.css, page.html and page.js in SOURCE_DIR.
set(definitions "")
foreach(pair "kPageStyle;page.css" "kPageBody;page.html" "kPageScript;page.js")
  list(GET pair 0 name)
  list(GET pair 1 file)
  file(READ ${SOURCE_DIR}/${file} text)
  string(FIND "${text}" ")lopper_page\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the string literal's end marker")
  endif()
  string(APPEND definitions "extern const char ${name}[] = R\"lopper_page(${text})lopper_page\";\n")
endforeach()
file(WRITE ${OUTPUT} "// Generated from source/picture/page by embed.cmake; edit those files.\n"
     "#include \"page_assets.h\"\n\nnamespace lopper::picture_detail {\n\n${definitions}\n"
     "}  // namespace lopper::picture_detail\n")
