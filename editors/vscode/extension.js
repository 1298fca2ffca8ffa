// Starts `velmorine lsp` for .velm files, asking for all of its features,
// and restarts it when the executable's path setting changes.
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

async function activate(context) {
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
