"""Checks that a packaged .vsix holds the extension and its runtime library."""
import sys
import zipfile

names = set(zipfile.ZipFile(sys.argv[1]).namelist())
wanted = {"extension/package.json", "extension/extension.js", "extension/language-configuration.json",
          "extension/syntaxes/velmorine.tmLanguage.json",
          "extension/node_modules/vscode-languageclient/package.json"}
missing = sorted(wanted - names)
dev_only = sorted(n for n in names if n.startswith(("extension/node_modules/@vscode/vsce/", "extension/test/")))
print(f"{len(names)} entries; missing: {missing}; development files: {dev_only[:3]}")
sys.exit(1 if missing or dev_only else 0)
