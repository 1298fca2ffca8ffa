// The language's keywords, written out once.  Each line is
//
//     VL_KEYWORD(token, "spelling", "completion detail", "meaning")
//
// `token` is the VlTokenType the lexer gives the word.  The completion
// detail is what an editor's completion list shows beside the word, in this
// order; "" leaves the word out of the list.  `meaning` says in one line what
// the word does as programs really run, with % standing for the word: the
// language server's hover shows it, and the keyword table of
// docs/language.md is made from it (scripts/keyword-table).  An includer
// defines VL_KEYWORD, includes this file (it has no include guard on
// purpose), and gets one expansion per keyword.
//
// "divided by" is the one keyword of two words; the lexer reads it as a word
// followed by blanks and "by", the others through its keyword hash.

VL_KEYWORD(TOKEN_DISPLAY, "display", "Print to console",
           "`display expression` prints the value on a line of its own: a whole number as an integer, any other number with six significant digits, text as it is.")
VL_KEYWORD(TOKEN_STORE, "store", "Declare variable",
           "`store name [as type] [=] expression` puts the value in the variable. The type after `as` has no effect. A variable read before it is stored holds the number 0.")
VL_KEYWORD(TOKEN_CHECK, "check", "If condition",
           "Not a condition. The word is skipped, and so are the words after it on the line (a `display`, `store` or `count` among them still runs), so the lines below always run. The `stop` written to close it ends the program or the loop around it.")
VL_KEYWORD(TOKEN_COUNT, "count", "Count loop",
           "`count name [from] start [to] end` … `stop` runs its body **once**, with the variable holding the start value. The end value is worked out but not used. After the loop the variable holds the start value plus 1.")
VL_KEYWORD(TOKEN_START, "start", "Program entry",
           "Opens the program. It is optional and counts only as the first word of the script; anywhere else it is skipped.")
VL_KEYWORD(TOKEN_STOP, "stop", "Program exit",
           "Closes the innermost `count` loop. Outside a loop it ends the program: nothing after it is read. A `stop` written to close a `check` ends the program (or the loop) there.")
VL_KEYWORD(TOKEN_OTHERWISE, "otherwise", "",
           "Skipped like `check`: the lines after it run every time.")
VL_KEYWORD(TOKEN_FROM, "from", "",
           "The optional word before a `count` loop's start value.")
VL_KEYWORD(TOKEN_TO, "to", "",
           "The optional word before a `count` loop's end value, which is worked out but not used: the body runs once.")
VL_KEYWORD(TOKEN_AS, "as", "",
           "In `store x as number = 5`, the type after `as` is read and has no effect.")
VL_KEYWORD(TOKEN_PLUS, "plus", "",
           "Adds two numbers (`+` is the same). With text on either side it joins both as text, a number rounded to a whole one.")
VL_KEYWORD(TOKEN_MINUS, "minus", "",
           "Subtracts (`-` is the same); text counts as 0.")
VL_KEYWORD(TOKEN_MULTIPLY, "into", "",
           "Multiplies (`*` is the same); text counts as 0.")
VL_KEYWORD(TOKEN_DIVIDE, "divided by", "",
           "Divides (`/` is the same); dividing by zero gives 0, and text counts as 0.")
VL_KEYWORD(TOKEN_SAME, "same", "",
           "Adds, exactly like `plus` (text is joined): `2 % 3` is 5. It does not compare.")
VL_KEYWORD(TOKEN_BIG, "big", "",
           "Adds, exactly like `plus` (text is joined): `2 % 3` is 5. It does not compare.")
VL_KEYWORD(TOKEN_SMALL, "small", "",
           "Adds, exactly like `plus` (text is joined): `2 % 3` is 5. It does not compare.")
VL_KEYWORD(TOKEN_TYPE_NUMBER, "number", "",
           "A type name for `store … as`. It is read and has no effect: any value can be stored.")
VL_KEYWORD(TOKEN_TYPE_WORD, "word", "",
           "A type name for `store … as`. It is read and has no effect: any value can be stored.")
VL_KEYWORD(TOKEN_TYPE_FLAG, "flag", "",
           "A type name for `store … as`. It is read and has no effect: any value can be stored.")
VL_KEYWORD(TOKEN_TYPE_LIST, "list", "",
           "A type name for `store … as`. It is read and has no effect: any value can be stored.")
VL_KEYWORD(TOKEN_CREATE, "create", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")
VL_KEYWORD(TOKEN_BLUEPRINT, "blueprint", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")
VL_KEYWORD(TOKEN_OPEN, "open", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")
VL_KEYWORD(TOKEN_FREEZE, "freeze", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")
VL_KEYWORD(TOKEN_MOVE, "move", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")
VL_KEYWORD(TOKEN_YES, "yes", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")
VL_KEYWORD(TOKEN_NO, "no", "",
           "Reserved: it begins no statement and is skipped, and it is not a value (`display %` is a syntax error).")

#undef VL_KEYWORD
