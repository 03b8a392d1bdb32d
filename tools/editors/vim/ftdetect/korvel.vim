" Korvel scripts and included script files.
au BufRead,BufNewFile *.krv,*.krvh setfiletype korvel
