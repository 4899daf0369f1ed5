# kivplay.js = the compiled player (a factory, KivPlayCore) followed by the
# element that uses it; kivplay.html is copied beside it.
file(READ ${CORE} core)
file(READ ${ELEMENT} element)
file(WRITE ${OUT_JS} "${core}\n${element}")
configure_file(${PAGE} ${OUT_HTML} COPYONLY)
