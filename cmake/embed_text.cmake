# Wraps a text file in a C++ raw string literal, so a test carries its data inside the
# executable and reads no file at run time, whatever the Wine drive mapping.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<header> -DNAME=<identifier> -P embed_text.cmake
file(READ "${INPUT}" content)
string(FIND "${content}" ")text\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${INPUT} holds the literal's closing delimiter")
endif()
file(WRITE "${OUTPUT}" "// Generated from ${INPUT} by cmake/embed_text.cmake.\n#pragma once\n\n"
                       "inline constexpr char ${NAME}[] = R\"text(${content})text\";\n")
