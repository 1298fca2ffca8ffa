-- Starts `velmorine lsp` for every velmorine buffer:
--   require('velmorine.lsp').setup()                      -- velmorine on PATH
--   require('velmorine.lsp').setup({ cmd = { '/path/to/velmorine', 'lsp' } })
-- Neovim 0.8 and later use vim.lsp.start, which reuses the running client;
-- 0.7 starts one client with vim.lsp.start_client and attaches each buffer.
-- The client asks for all of the server's features: the diagnostics for the
-- language's surprises, formatting, rename, references, symbols and the rest.
local M = {}

function M.setup(options)
  options = options or {}
  local config = {
    name = 'velmorine',
    cmd = options.cmd or { 'velmorine', 'lsp' },
    root_dir = options.root_dir or vim.loop.cwd(),
    init_options = { features = 'all' },
    on_attach = options.on_attach,
    on_exit = options.on_exit,
  }
  local client_id
  local function attach(buffer)
    if vim.lsp.start then
      vim.lsp.start(config, { bufnr = buffer })
      return
    end
    if not client_id or vim.lsp.client_is_stopped(client_id) then
      client_id = vim.lsp.start_client(config)
    end
    if client_id then
      vim.lsp.buf_attach_client(buffer, client_id)
    end
  end
  vim.api.nvim_create_autocmd('FileType', {
    pattern = 'velmorine',
    group = vim.api.nvim_create_augroup('velmorine_lsp', { clear = true }),
    callback = function(event) attach(event.buf) end,
  })
  -- Buffers that were open before setup.
  for _, buffer in ipairs(vim.api.nvim_list_bufs()) do
    if vim.bo[buffer].filetype == 'velmorine' then attach(buffer) end
  end
end

return M
