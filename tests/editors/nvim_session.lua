-- Neovim, headless, with the project's runtime files and `velmorine lsp`:
-- filetype, indentation as fmt writes it, then completion, a diagnostic on
-- the broken line, hover, definition and a clean shutdown.
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

vim.cmd('filetype plugin indent on')
vim.cmd('syntax on')
log('neovim ' .. tostring(vim.version().major) .. '.' .. vim.version().minor .. '.' .. vim.version().patch)

-- fmt's output is the reference for the editor's indentation.
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

local uri = vim.uri_from_bufnr(buf)
local function ask(method, line, character)
  local answers = vim.lsp.buf_request_sync(buf, method,
    { textDocument = { uri = uri }, position = { line = line, character = character } }, 10000)
  for _, answer in pairs(answers or {}) do return answer.result end
end

check(vim.wait(10000, function() return #vim.diagnostic.get(buf) > 0 end, 50), 'diagnostics arrive')
local diagnostics = vim.diagnostic.get(buf)
for _, d in ipairs(diagnostics) do log('     diagnostic', d.lnum .. ':' .. d.col, d.message) end
check(#diagnostics == 1 and diagnostics[1].lnum == 2, 'one diagnostic, on the broken line 3')

local items = ask('textDocument/completion', 0, 0) or {}
local labels = vim.tbl_map(function(item) return item.label end, items)
log('     completion', table.concat(labels, ' '))
check(table.concat(labels, ' ') == 'display store check count start stop', 'completion lists the six keywords')

local hover = ask('textDocument/hover', 3, 1)
log('     hover', hover and hover.contents.value or 'nil')
check(hover and hover.contents.value:find('runs its body **once**', 1, true) ~= nil, 'hover on count')

local definition = ask('textDocument/definition', 8, 9)
log('     definition', definition and vim.inspect(definition.range.start, { newline = ' ', indent = '' }) or 'nil')
check(definition and definition.range.start.line == 1 and definition.range.start.character == 6,
  'definition of total is its store')

for _, client in pairs(vim.lsp.get_active_clients()) do client.stop() end
check(vim.wait(10000, function() return exit_code ~= nil end, 50), 'server ends after shutdown and exit')
check(exit_code == 0, 'server exit code 0 (got ' .. tostring(exit_code) .. ')')
finish()
