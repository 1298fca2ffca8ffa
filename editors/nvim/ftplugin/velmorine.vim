" Velmorine scripts: // comments, and indentation as `velmorine fmt` writes
" it: four spaces per level; start, check, count and create open a level,
" stop and otherwise close one.
if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1

setlocal commentstring=//\ %s comments=:// formatoptions-=t
setlocal expandtab shiftwidth=4 softtabstop=4
setlocal indentexpr=VelmorineIndent(v:lnum) indentkeys=o,O,!^F,0=stop,0=otherwise
let b:undo_ftplugin = 'setlocal commentstring< comments< formatoptions< expandtab< shiftwidth< softtabstop< indentexpr< indentkeys<'

if exists('*VelmorineIndent')
  finish
endif

" Like fmt, the words are prefixes of the line's first non-blank text.
function! VelmorineIndent(lnum) abort
  let previous = prevnonblank(a:lnum - 1)
  if previous == 0
    return 0
  endif
  let level = indent(previous)
  if getline(previous) =~# '^\s*\%(start\|check\|count\|create\)'
    let level += shiftwidth()
  endif
  if getline(a:lnum) =~# '^\s*\%(stop\|otherwise\)'
    let level -= shiftwidth()
  endif
  return max([level, 0])
endfunction
