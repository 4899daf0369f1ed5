# The hardening that Debian expects of its programs: position-independent
# executables, a read-only relocation table bound at start-up, stack
# protectors, and the checked variants of the C library's string and memory
# functions in optimised builds (they need the optimiser; the sanitizers do
# that checking themselves). A _FORTIFY_SOURCE that the caller chose is kept.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong)
add_link_options(LINKER:-z,relro LINKER:-z,now)
string(FIND "${CMAKE_C_FLAGS} ${CMAKE_CXX_FLAGS} $ENV{CPPFLAGS}" "_FORTIFY_SOURCE" kiv_fortify_given)
if(kiv_fortify_given EQUAL -1 AND NOT KIV_SANITIZE AND NOT KIV_FUZZ)
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
