# Grammar of #if conditions, generated into the build tree and compiled into
# krvcore. Its own prefix keeps it apart from the main script grammar.
find_package(BISON 3.5 REQUIRED)
set(krv_ppcond_out ${CMAKE_CURRENT_BINARY_DIR}/constexpr)
file(MAKE_DIRECTORY ${krv_ppcond_out})
BISON_TARGET(krvPPCondGrammar
  ${CMAKE_CURRENT_SOURCE_DIR}/constexpr/krvPPCondGrammar.y
  ${krv_ppcond_out}/krvPPCondGrammar.cpp
  DEFINES_FILE ${krv_ppcond_out}/krvPPCondGrammar.hpp
  COMPILE_FLAGS "-Wall")
target_sources(krvcore PRIVATE ${BISON_krvPPCondGrammar_OUTPUTS})
target_include_directories(krvcore PRIVATE ${krv_ppcond_out})
