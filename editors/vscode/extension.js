// Starts `velmorine lsp` for .velm files, asking for all of its features,
// and restarts it when the executable's path setting changes; debug sessions
// of type velmorine run `velmorine-dap`.
const path = require('path');
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function startClient() {
  const command = vscode.workspace.getConfiguration('velmorine').get('server.path') || 'velmorine';
  client = new LanguageClient(
    'velmorine',
    'Velmorine',
    { command, args: ['lsp'] },
    {
      documentSelector: [{ scheme: 'file', language: 'velmorine' }, { scheme: 'untitled', language: 'velmorine' }],
      // Without it the server keeps to syntax errors and keyword completion.
      initializationOptions: { features: 'all' },
    },
  );
  return client.start();
}

// The setting; else the adapter beside a server given as a path, as a build
// directory or an installation holds both; else the name, found on PATH.
function debuggerCommand() {
  const settings = vscode.workspace.getConfiguration('velmorine');
  const configured = settings.get('debugger.path');
  if (configured) return configured;
  const name = process.platform === 'win32' ? 'velmorine-dap.exe' : 'velmorine-dap';
  const server = settings.get('server.path') || '';
  // The server's directory as written: path.join would make ./velmorine-dap a name.
  return /[\\/]/.test(server) ? server.slice(0, -path.basename(server).length) + name : name;
}

// What F5 runs without a launch.json: the file in the editor.
const currentFile = { type: 'velmorine', request: 'launch', name: 'Debug this script', program: '${file}', stopOnEntry: true };

async function activate(context) {
  // Before the server starts, so that debugging works without it.
  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('velmorine', {
    createDebugAdapterDescriptor: () => new vscode.DebugAdapterExecutable(debuggerCommand(), []),
  }));
  // Without a launch.json the configuration is empty but for noDebug (Ctrl+F5).
  context.subscriptions.push(vscode.debug.registerDebugConfigurationProvider('velmorine', {
    resolveDebugConfiguration: (folder, config) =>
      (config.type || config.request || config.name ? config : { ...currentFile, ...config }),
  }));
  context.subscriptions.push(vscode.workspace.onDidChangeConfiguration(async (event) => {
    if (!event.affectsConfiguration('velmorine.server.path')) return;
    if (client) await client.stop();
    await startClient();
  }));
  await startClient();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
