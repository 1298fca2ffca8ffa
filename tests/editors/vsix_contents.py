"""Checks that a packaged .vsix holds the extension and its runtime library,
contributes the debugger, and finds velmorine-dap as its README says (the
packaged extension.js, run by NODE against a stand-in for the editor's API).
Usage: vsix_contents.py VSIX NODE"""
import json
import os
import subprocess
import sys
import tempfile
import zipfile

vsix = zipfile.ZipFile(sys.argv[1])
names = set(vsix.namelist())
wanted = {"extension/package.json", "extension/extension.js", "extension/language-configuration.json",
          "extension/syntaxes/velmorine.tmLanguage.json",
          "extension/node_modules/vscode-languageclient/package.json"}
missing = sorted(wanted - names)
dev_only = sorted(n for n in names if n.startswith(("extension/node_modules/@vscode/vsce/", "extension/test/")))
print(f"{len(names)} entries; missing: {missing}; development files: {dev_only[:3]}")
failures = len(missing) + len(dev_only)


def check(ok, what):
    global failures
    print("ok  " if ok else "FAIL", what)
    failures += not ok


manifest = json.loads(vsix.read("extension/package.json"))
contributes = manifest["contributes"]
debuggers = [d for d in contributes.get("debuggers", []) if d.get("type") == "velmorine"]
launch = debuggers[0] if debuggers else {}
attributes = launch.get("configurationAttributes", {}).get("launch", {})
check(len(debuggers) == 1 and launch.get("languages") == ["velmorine"]
      and attributes.get("required") == ["program"]
      and attributes.get("properties", {}).get("program", {}).get("type") == "string"
      and attributes["properties"].get("stopOnEntry", {}).get("type") == "boolean",
      "one debugger of type velmorine, for the language, with program (a required string) and stopOnEntry")
current_file = {"type": "velmorine", "request": "launch", "name": "Debug this script", "program": "${file}",
                "stopOnEntry": True}
check(launch.get("initialConfigurations") == [current_file]
      and [s["body"]["program"] for s in launch.get("configurationSnippets", [])] == ['^"\\${file}"'],
      "the initial configuration and the snippet launch the current file")
check({"language": "velmorine"} in contributes.get("breakpoints", [])
      and contributes["configuration"]["properties"].get("velmorine.debugger.path", {}).get("default") == ""
      and "onDebugResolve:velmorine" in manifest.get("activationEvents", []),
      "breakpoints in velmorine files, the debugger.path setting, activation on a debug session")

# The adapter command for settings (debugger.path, server.path) and platforms.
cases = [["", "velmorine", "linux", "velmorine-dap"],
         ["", "/opt/vl/bin/velmorine", "linux", "/opt/vl/bin/velmorine-dap"],
         ["", "./velmorine", "linux", "./velmorine-dap"],
         ["/x/my-dap", "/opt/vl/bin/velmorine", "linux", "/x/my-dap"],
         ["", "", "win32", "velmorine-dap.exe"],
         ["", "C:\\vl\\velmorine.exe", "win32", "C:\\vl\\velmorine-dap.exe"]]
stub = """
const Module = require('module');
const load = Module._load;
let settings = {}, platform, factory, provider;
const vscode = {
  workspace: { getConfiguration: () => ({ get: (key) => settings[key] }), onDidChangeConfiguration: () => ({}) },
  debug: {
    registerDebugAdapterDescriptorFactory: (type, f) => { if (type === 'velmorine') factory = f; return {}; },
    registerDebugConfigurationProvider: (type, p) => { if (type === 'velmorine') provider = p; return {}; },
  },
  DebugAdapterExecutable: class { constructor(command) { this.command = command; } },
};
class LanguageClient { start() { return Promise.resolve(); } }
// The editor's API, the language client, and the path module of the platform.
Module._load = (request, ...rest) => request === 'vscode' ? vscode
  : request === 'vscode-languageclient/node' ? { LanguageClient }
  : request === 'path' ? load(request, ...rest)[platform === 'win32' ? 'win32' : 'posix'] : load(request, ...rest);
(async () => {
  const got = [];
  for ([settings['debugger.path'], settings['server.path'], platform] of JSON.parse(process.argv[2])) {
    Object.defineProperty(process, 'platform', { value: platform });
    delete require.cache[require.resolve(process.argv[1])];
    factory = undefined;
    await require(process.argv[1]).activate({ subscriptions: [] });
    got.push(factory ? factory.createDebugAdapterDescriptor({ type: 'velmorine' }).command : null);
  }
  // F5 and Ctrl+F5 without a launch.json, and a configuration of launch.json.
  for (const config of [{}, { noDebug: true }, { type: 'velmorine', request: 'launch', name: 'x', program: 'a.velm' }]) {
    got.push(provider ? await provider.resolveDebugConfiguration(undefined, config) : null);
  }
  console.log(JSON.stringify(got));
})();
"""
with tempfile.TemporaryDirectory() as tmp:
    script = os.path.join(tmp, "extension.js")
    with open(script, "wb") as f:
        f.write(vsix.read("extension/extension.js"))
    run = subprocess.run([sys.argv[2], "-e", stub, script, json.dumps([c[:3] for c in cases])],
                         capture_output=True, text=True)
    got = json.loads(run.stdout) if run.returncode == 0 and run.stdout.strip() else run.stderr
want = [c[3] for c in cases] + [current_file, {**current_file, "noDebug": True},
                                {"type": "velmorine", "request": "launch", "name": "x", "program": "a.velm"}]
if got != want:
    print(f"     wanted {want}\n     got    {got}")
check(got == want, "the adapter: the setting, else beside a server path (.exe on Windows), else on PATH; "
      "without a launch.json, F5 and Ctrl+F5 launch the current file")
sys.exit(1 if failures else 0)
