# Writes OUTPUT, a C++ source defining `const std::string& NAMESPACE::FUNCTION()` that returns the
# bytes of INPUT, so that a text file (the default scene) is part of the binary.
file(READ ${INPUT} _text)
string(FIND "${_text}" ")cindel_text\"" _clash)
if(NOT _clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw-string delimiter )cindel_text\"")
endif()
file(WRITE ${OUTPUT}.tmp "// Generated from ${INPUT} by embed_text.cmake; do not edit.\n#include <string>\n\nnamespace ${NAMESPACE} {\n\nconst std::string& ${FUNCTION}() {\n    static const std::string text = R\"cindel_text(${_text})cindel_text\";\n    return text;\n}\n\n}  // namespace ${NAMESPACE}\n")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
