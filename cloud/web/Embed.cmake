# Writes the web player's files into one C++ source (WebAssets.cpp), so the
# server carries its pages and needs nothing installed beside it.
# cmake -DSOURCE_DIR=cloud/web -DOUTPUT=WebAssets.cpp -P Embed.cmake
set(assets
    "/|text/html|index.html"
    "/web/app.js|text/javascript|app.js"
    "/web/api.js|text/javascript|api.js"
    "/web/player.js|text/javascript|player.js"
    "/web/songs.js|text/javascript|songs.js"
    "/web/views.js|text/javascript|views.js"
    "/web/style.css|text/css|style.css"
    "/web/icon.svg|image/svg+xml|icon.svg")

set(text "// Made by cloud/web/Embed.cmake from the files in cloud/web: do not edit.\n")
string(APPEND text "#include \"WebSession.h\"\n\nnamespace cloud {\n\nnamespace {\n")
set(table "")
set(index 0)
foreach(asset IN LISTS assets)
    string(REPLACE "|" ";" parts "${asset}")
    list(GET parts 0 path)
    list(GET parts 1 type)
    list(GET parts 2 file)
    if(type MATCHES "^text/")
        string(APPEND type "; charset=utf-8")
    endif()
    file(READ "${SOURCE_DIR}/${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
    string(REGEX REPLACE "((,'[^']+'){15},)" "\\1\n" bytes "${bytes}")
    string(APPEND text "const char kAsset${index}[] = {\n${bytes}'\\0'};\n")
    string(APPEND table "    {\"${path}\", \"${type}\", kAsset${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
string(APPEND text "\n} // namespace\n\nconst WebAsset kWebAssets[] = {\n${table}};\n")
string(APPEND text "const std::size_t kWebAssetCount = ${index};\n\n} // namespace cloud\n")
file(WRITE "${OUTPUT}.new" "${text}")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
