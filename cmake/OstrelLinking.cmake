# Registration happens when a schema library is loaded, so a program that
# only looks our types up by name references none of its symbols, and a
# linker running with --as-needed (Debian's default) would drop it. Linking
# through the OSTREL_KEEP_LOADED feature records the library as needed
# regardless, without changing how the consumer's other libraries link.
set(CMAKE_LINK_LIBRARY_USING_OSTREL_KEEP_LOADED
  "LINKER:--push-state,--no-as-needed"
  "<LINK_ITEM>"
  "LINKER:--pop-state")
set(CMAKE_LINK_LIBRARY_USING_OSTREL_KEEP_LOADED_SUPPORTED TRUE)
