# Writes the exporter's live page into a C++ source: tools/exporter/page/index.html with its
# stylesheet and script put in place of the <link> and <script src> lines that name them, so
# that GET / serves one self-contained page, as a byte array (no string literal length limit).
# Run by the build (tools/exporter/CMakeLists.txt) whenever one of the three files changes.
# Usage: cmake -DPAGE_DIR=DIR -DOUTPUT=FILE.cpp -P embed-live-page.cmake
foreach(variable PAGE_DIR OUTPUT)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "embed-live-page.cmake: ${variable} is not set")
    endif()
endforeach()

file(READ ${PAGE_DIR}/index.html page)
file(READ ${PAGE_DIR}/page.css css)
file(READ ${PAGE_DIR}/page.js js)

# Each placeholder must be there exactly once: a page without its style or script would still
# build, and serve broken.
function(inline placeholder replacement)
    string(FIND "${page}" "${placeholder}" first)
    string(FIND "${page}" "${placeholder}" last REVERSE)
    if(first EQUAL -1 OR NOT first EQUAL last)
        message(FATAL_ERROR "index.html must hold the line '${placeholder}' exactly once")
    endif()
    string(REPLACE "${placeholder}" "${replacement}" page "${page}")
    set(page "${page}" PARENT_SCOPE)
endfunction()
inline("<link rel=\"stylesheet\" href=\"page.css\">\n" "<style>\n${css}</style>\n")
inline("<script src=\"page.js\"></script>\n" "<script>\n${js}</script>\n")

string(HEX "${page}" hex)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
    "\\1\n" bytes "${bytes}")

set(source "// Written by cmake/embed-live-page.cmake from tools/exporter/page/: edit those files.
#include \"tools/exporter/live_page.h\"

namespace crvmon::exporter {

namespace {

constexpr char kPage[${size}] = {
${bytes}
};

}  // namespace

std::string_view livePageHtml() {
    return {kPage, sizeof kPage};
}

}  // namespace crvmon::exporter
")
# Written only when it changed, so that an unchanged page compiles nothing again.
file(CONFIGURE OUTPUT ${OUTPUT} CONTENT "${source}" @ONLY)
