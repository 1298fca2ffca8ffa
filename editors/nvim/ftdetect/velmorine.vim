autocmd BufRead,BufNewFile *.velm setfiletype velmorine
