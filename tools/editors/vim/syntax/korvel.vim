" Vim syntax file
" Language: Korvel (.krv scripts)
" Keywords as the korvel scanner knows them (interp/frontend/krvScanner.cpp).
if exists("b:current_syntax")
  finish
endif

syn keyword korvelStorage     var const void struct namespace
syn keyword korvelConditional if else switch case default
syn keyword korvelRepeat      while for do
syn keyword korvelStatement   goto return continue break eval exit tag
syn keyword korvelBuiltin     print printh scan intsize isstring sleep backtrace
syn keyword korvelBuiltin     task_create task_join mutex_create mutex_delete mutex_lock mutex_unlock
syn keyword korvelBuiltin     cond_create cond_wait cond_broadcast
syn keyword korvelTodo        contained TODO FIXME XXX NOTE

" Qualified names: nvme::admc::identify, ::global
syn match korvelQualified     "\<\h\w*\%(::\h\w*\)\+\>"
syn match korvelQualified     "::\h\w*\%(::\h\w*\)*"
syn match korvelDollar        "\$\d\w*"

syn match korvelNumber        "\<\d\+\>"
syn match korvelNumber        "\<0[xX]\x\+\>"
syn match korvelFloat         "\<\d\+\.\d*\%([eE][-+]\=\d\+\)\=\>"
syn match korvelFloat         "\.\d\+\%([eE][-+]\=\d\+\)\=\>"
syn match korvelFloat         "\<\d\+[eE][-+]\=\d\+\>"
syn match korvelSpecial       contained "\\\%(x\x\+\|\o\{1,3}\|.\)"
syn region korvelString       start=+"+ skip=+\\\\\|\\"+ end=+"+ contains=korvelSpecial oneline
syn match korvelCharacter     "'\%([^'\\]\|\\.\|\\x\x\+\|\\\o\{1,3}\)'" contains=korvelSpecial

syn region korvelComment      start="/\*" end="\*/" contains=korvelTodo
syn match  korvelComment      "//.*$" contains=korvelTodo

syn match  korvelInclude      "^\s*#\s*\%(include\|load\)\>\s*\%(<[^>]*>\|\"[^\"]*\"\)\="
syn match  korvelPreCondit    "^\s*#\s*\%(if\|elif\|else\|endif\)\>"

hi def link korvelStorage     StorageClass
hi def link korvelConditional Conditional
hi def link korvelRepeat      Repeat
hi def link korvelStatement   Statement
hi def link korvelBuiltin     Function
hi def link korvelTodo        Todo
hi def link korvelQualified   Identifier
hi def link korvelDollar      Identifier
hi def link korvelNumber      Number
hi def link korvelFloat       Float
hi def link korvelSpecial     SpecialChar
hi def link korvelString      String
hi def link korvelCharacter   Character
hi def link korvelComment     Comment
hi def link korvelInclude     Include
hi def link korvelPreCondit   PreCondit

let b:current_syntax = "korvel"
