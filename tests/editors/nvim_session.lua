-- Neovim, headless, with the project's runtime files and `velmorine lsp`
-- started by the package (which asks for all of the server's features):
-- filetype, indentation as fmt writes it, the diagnostics of the sample and
-- of a script with every kind of surprise it shows, completion, hover,
-- definition, formatting, rename, document symbols and a clean shutdown;
-- and the debugger's registration with a stand-in for nvim-dap.
-- Environment: VELM_EXE (the server), VELM_SAMPLE (tests/editors/sample.velm).
local exe, sample = os.getenv('VELM_EXE'), os.getenv('VELM_SAMPLE')
local failures = 0
local function log(...) io.stdout:write(table.concat({ ... }, ' '), '\n') end
local function check(ok, what)
  log(ok and 'ok  ' or 'FAIL', what)
  if not ok then failures = failures + 1 end
end
local function finish()
  log(failures == 0 and 'nvim session passed' or ('nvim session: ' .. failures .. ' failure(s)'))
  vim.cmd(failures == 0 and 'qall!' or 'cquit 1')
end
local function same_lines(want, got, what)
  local ok = vim.deep_equal(want, got)
  if not ok then
    log('     wanted', table.concat(want, '\n            '))
    log('     got   ', table.concat(got, '\n            '))
  end
  check(ok, what)
end

-- A Lua error ends the session as a failure instead of leaving Neovim waiting.
local ok, err = xpcall(function()
  vim.cmd('filetype plugin indent on')
  vim.cmd('syntax on')
  log('neovim ' .. tostring(vim.version().major) .. '.' .. vim.version().minor .. '.' .. vim.version().patch)

  -- fmt's output is the reference for the editor's indentation and for the
  -- server's formatting.
  local dir = vim.fn.tempname()
  vim.fn.mkdir(dir, 'p')
  local path = dir .. '/sample.velm'
  local source = vim.fn.readfile(sample)
  vim.fn.writefile(source, path)
  vim.fn.system({ exe, 'fmt', path })
  local formatted = vim.fn.readfile(path)
  vim.fn.writefile(source, path)

  local exit_code
  require('velmorine.lsp').setup({ cmd = { exe, 'lsp' }, on_exit = function(code) exit_code = code end })
  vim.cmd('edit ' .. vim.fn.fnameescape(path))
  local buf = vim.api.nvim_get_current_buf()
  check(vim.bo.filetype == 'velmorine', 'filetype is velmorine')
  check(vim.bo.commentstring == '// %s', 'comment string is "// %s"')
  check(vim.b.current_syntax == 'velmorine', 'syntax file loaded')
  vim.cmd('silent normal! gg=G')
  check(vim.deep_equal(vim.api.nvim_buf_get_lines(buf, 0, -1, false), formatted), 'gg=G indents like fmt')
  vim.cmd('silent undo')

  local function ask(bufnr, method, params)
    params.textDocument = { uri = vim.uri_from_bufnr(bufnr) }
    local answers = vim.lsp.buf_request_sync(bufnr, method, params, 10000)
    for _, answer in pairs(answers or {}) do return answer.result end
  end
  local function at(line, character) return { position = { line = line, character = character } } end

  -- Each diagnostic as one line: range, code, severity, tags, message.
  local function shown(bufnr)
    local lines = {}
    for _, d in ipairs(vim.diagnostic.get(bufnr)) do
      local tags = d.user_data and d.user_data.lsp and d.user_data.lsp.tags
      lines[#lines + 1] = string.format('%d:%d-%d:%d %s %d%s %s', d.lnum, d.col, d.end_lnum, d.end_col,
        tostring(d.code), d.severity, tags and (' [' .. table.concat(tags, ',') .. ']') or '', d.message)
    end
    table.sort(lines)
    return lines
  end

  -- The sample: its syntax error on line 3, and the surprises around it.
  check(vim.wait(10000, function() return #vim.diagnostic.get(buf) > 0 end, 50), 'diagnostics arrive')
  local kinds = vim.tbl_map(function(d) return d.lnum .. ' ' .. tostring(d.code) .. ' ' .. d.severity end,
    vim.diagnostic.get(buf))
  table.sort(kinds)
  for _, d in ipairs(shown(buf)) do log('     diagnostic', d) end
  same_lines({ '11 after-stop 4', '2 syntax-error 1', '3 count-runs-once 3', '5 check-skipped 2',
    '7 otherwise-skipped 2' }, kinds, 'the syntax error on line 3 and the sample\'s surprises, with their severities')

  -- Completion: the names stored above the cursor, then every keyword.
  local keywords, details = {}, {}
  local header = table.concat(vim.fn.readfile(vim.fn.fnamemodify(sample, ':h:h:h') .. '/include/vl_keywords.h'), '\n')
  for spelling, detail in header:gmatch('\nVL_KEYWORD%(%s*[%w_]+,%s*"([^"]*)",%s*"([^"]*)"') do
    keywords[#keywords + 1] = spelling .. ' ' .. (detail ~= '' and detail or 'keyword')
  end
  table.sort(keywords)
  local items = ask(buf, 'textDocument/completion', at(8, 0)) or {}
  items = items.items or items
  local names, offered = {}, {}
  for _, item in ipairs(items) do
    if item.kind == 6 then names[#names + 1] = item.label .. ' (' .. tostring(item.detail) .. ')'
    elseif item.kind == 14 and item.documentation and item.documentation.kind == 'markdown' then
      offered[#offered + 1] = item.label .. ' ' .. tostring(item.detail)
    end
  end
  table.sort(offered)
  log('     completion', table.concat(names, ', '), '+', #offered, 'keywords of', #items, 'items')
  check(#items == #names + #offered and
    table.concat(names, ', ') == 'total (stored on line 2), i (count variable, line 4)' and
    vim.deep_equal(offered, keywords),
    'completion: the stored names first, then every keyword with its detail and meaning')

  local hover = ask(buf, 'textDocument/hover', at(3, 1))
  log('     hover', hover and hover.contents.value or 'nil')
  check(hover and hover.contents.value:find('runs its body **once**', 1, true) ~= nil, 'hover on count')

  local definition = ask(buf, 'textDocument/definition', at(8, 9))
  log('     definition', definition and vim.inspect(definition.range.start, { newline = ' ', indent = '' }) or 'nil')
  check(definition and definition.range.start.line == 1 and definition.range.start.character == 6,
    'definition of total is its store')

  -- Formatting: the buffer becomes what fmt writes; formatted text is left alone.
  vim.lsp.buf.formatting_sync(nil, 10000)
  same_lines(formatted, vim.api.nvim_buf_get_lines(buf, 0, -1, false), 'formatting_sync writes what fmt writes')
  local tick = vim.api.nvim_buf_get_changedtick(buf)
  vim.lsp.buf.formatting_sync(nil, 10000)
  check(vim.api.nvim_buf_get_changedtick(buf) == tick, 'formatting a formatted buffer changes nothing')

  -- Rename, from the store of total (in the formatted text), as the command
  -- does it: every use, and not the comment that mentions it.
  local renamed = vim.tbl_map(function(line)
    local code, comment = line:match('^(.-)(//.*)$')
    code, comment = code or line, comment or ''
    return code:gsub('%f[%w_]total%f[^%w_]', 'sum') .. comment
  end, formatted)
  vim.api.nvim_win_set_cursor(0, { 2, 10 })
  vim.lsp.buf.rename('sum')
  vim.wait(10000, function() return vim.deep_equal(vim.api.nvim_buf_get_lines(buf, 0, -1, false), renamed) end, 50)
  same_lines(renamed, vim.api.nvim_buf_get_lines(buf, 0, -1, false), 'rename total -> sum changes every use')

  -- Document symbols, as :lua vim.lsp.buf.document_symbol() lists them.
  local symbols = vim.lsp.util.symbols_to_items(ask(buf, 'textDocument/documentSymbol', {}) or {}, buf)
  symbols = vim.tbl_map(function(item) return item.lnum .. ' ' .. item.text end, symbols)
  same_lines({ '2 [Variable] sum', '4 [Namespace] count i', '4 [Variable] i' }, symbols,
    'document symbols: the names and the count loop, with the renamed name')

  -- The script with each kind of surprise of the guide's examples: exactly
  -- these diagnostics; edited into a clean script, none.
  local example = dir .. '/example.velm'
  vim.fn.writefile({ 'start', 'store total = total plus price', 'count i from 1 to 10', '    display "line " plus i',
    'stop', 'check total same 0', '    display "nothing to pay"', 'display 2 plus 3 into 4', 'stop' }, example)
  vim.cmd('edit ' .. vim.fn.fnameescape(example))
  local ebuf = vim.api.nvim_get_current_buf()
  vim.wait(10000, function() return #vim.diagnostic.get(ebuf) >= 4 end, 50)
  same_lines({
    "1:14-1:19 reads-zero 2 'total' has no value here: nothing stores it before this point, so it reads 0",
    "1:25-1:30 reads-zero 2 'price' has no value here: nothing stores it before this point, so it reads 0",
    "2:0-2:5 count-runs-once 3 count runs its body once, with 'i' holding the start value; the end value is not used",
    "5:0-5:18 check-skipped 2 [1] 'check' is not a condition: this line is skipped, and the lines after it always run",
  }, shown(ebuf), 'the surprises of the example script, each at its place with its severity')
  vim.api.nvim_buf_set_lines(ebuf, 0, -1, false, { 'start', 'store total = 2', 'display total plus 1', 'stop' })
  check(vim.wait(10000, function() return #vim.diagnostic.get(ebuf) == 0 end, 50),
    'edited into a clean script, it shows no diagnostic (' .. table.concat(shown(ebuf), '; ') .. ')')

  -- The debugger, with a stand-in for nvim-dap (not packaged here), and
  -- without it: a require of it that fails, whatever is installed.
  local launch = { type = 'velmorine', request = 'launch', name = 'Run this script', program = '${file}',
    stopOnEntry = false }
  local registered = {}
  for _, command in ipairs({ '/opt/vl/velmorine-dap', false }) do
    local fake = { adapters = {}, configurations = {} }
    package.loaded.dap = fake
    local returned = require('velmorine.dap').setup(command and { command = command } or nil)
    registered[#registered + 1] = returned == true and vim.deep_equal(fake, { adapters = {
      velmorine = { type = 'executable', command = command or 'velmorine-dap' } },
      configurations = { velmorine = { launch } } })
  end
  package.loaded.dap, package.preload.dap = nil, function() error('no nvim-dap') end
  check(registered[1] and registered[2] and require('velmorine.dap').setup() == false,
    'velmorine.dap registers the adapter (the command given, else velmorine-dap) and a launch of the ' ..
    'current file; without nvim-dap, setup returns false')

  for _, client in pairs(vim.lsp.get_active_clients()) do client.stop() end
  check(vim.wait(10000, function() return exit_code ~= nil end, 50), 'server ends after shutdown and exit')
  check(exit_code == 0, 'server exit code 0 (got ' .. tostring(exit_code) .. ')')
end, debug.traceback)
if not ok then check(false, 'the session ran to its end: ' .. tostring(err)) end
finish()
