# Main script grammar, generated into the build tree and compiled into
# krvcore under its own prefix (krvp), apart from the #if condition grammar.
find_package(BISON 3.5 REQUIRED)
set(krv_grammar_out ${CMAKE_CURRENT_BINARY_DIR}/frontend)
file(MAKE_DIRECTORY ${krv_grammar_out})
BISON_TARGET(krvGrammar
  ${CMAKE_CURRENT_SOURCE_DIR}/frontend/krvGrammar.y
  ${krv_grammar_out}/krvGrammar.cpp
  DEFINES_FILE ${krv_grammar_out}/krvGrammar.hpp
  COMPILE_FLAGS "-Wall -Werror")
target_sources(krvcore PRIVATE ${BISON_krvGrammar_OUTPUTS})
target_include_directories(krvcore PRIVATE ${krv_grammar_out} ${CMAKE_CURRENT_SOURCE_DIR}/frontend)
