# cmake -DDOCUMENT=README.md -DFILES="a.cc;b.cc" -P CheckVerbatim.cmake
# Fails unless DOCUMENT quotes each of FILES whole, byte for byte.
file(READ ${DOCUMENT} document)
foreach(quoted IN LISTS FILES)
  file(READ ${quoted} contents)
  string(FIND "${document}" "${contents}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${DOCUMENT} does not quote ${quoted} as it stands")
  endif()
endforeach()
