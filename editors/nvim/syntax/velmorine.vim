" Velmorine scripts (.velm)
if exists('b:current_syntax')
  finish
endif

" Words are ASCII letters, digits and underscores, as the lexer reads them.
syntax iskeyword 48-57,65-90,95,97-122

syntax keyword velmorineControl start stop check otherwise count from to
syntax keyword velmorineStatement store display as create blueprint open freeze move
syntax keyword velmorineType number word flag list
syntax keyword velmorineBoolean yes no
syntax keyword velmorineOperatorWord plus minus into same big small
syntax match velmorineOperatorWord "\<divided \+by"
syntax match velmorineOperator "[-+*/=]"
syntax match velmorineNumber "\<\d\+\%(\.\d\+\)\="
syntax match velmorineEscape contained "\\\_."
syntax region velmorineString start=+"+ skip=+\\\\\|\\"+ end=+"+ contains=velmorineEscape
syntax match velmorineComment "//.*$" contains=@Spell

highlight default link velmorineControl Conditional
highlight default link velmorineStatement Statement
highlight default link velmorineType Type
highlight default link velmorineBoolean Boolean
highlight default link velmorineOperatorWord Operator
highlight default link velmorineOperator Operator
highlight default link velmorineNumber Number
highlight default link velmorineEscape SpecialChar
highlight default link velmorineString String
highlight default link velmorineComment Comment

let b:current_syntax = 'velmorine'
