-- Registers `velmorine-dap` with nvim-dap, when it is installed:
--   require('velmorine.dap').setup()                                -- on PATH
--   require('velmorine.dap').setup({ command = '/path/to/velmorine-dap' })
-- and a launch configuration for the current file, which :lua
-- require('dap').continue() offers in velmorine buffers.  Returns whether
-- nvim-dap was there.
local M = {}

function M.setup(options)
  options = options or {}
  local found, dap = pcall(require, 'dap')
  if not found then return false end
  dap.adapters.velmorine = { type = 'executable', command = options.command or 'velmorine-dap' }
  dap.configurations.velmorine = {
    { type = 'velmorine', request = 'launch', name = 'Run this script', program = '${file}', stopOnEntry = false },
  }
  return true
end

return M
