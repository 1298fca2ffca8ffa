// The scripts that the playground must run as the native build does: the
// examples, the velm blocks of the guide, the manual and the README, and the
// golden cases that run one script.  [name, bytes] pairs.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';

export function documentedScripts(root) {
  const scripts = [];
  for (const name of fs.readdirSync(path.join(root, 'examples')).filter((n) => n.endsWith('.velm')))
    scripts.push([name, fs.readFileSync(path.join(root, 'examples', name))]);
  for (const doc of ['docs/language.md', 'docs/commands.md', 'README.md']) {
    const markdown = fs.readFileSync(path.join(root, doc), 'utf8');
    [...markdown.matchAll(/^```velm[^\n]*\n(.*?)^```/gms)].forEach((m, i) => scripts.push([`${doc} #${i}`, Buffer.from(m[1])]));
  }
  const golden = execFileSync('/usr/bin/python3', ['-c', `
import json, pathlib, tomllib
out = []
for p in sorted(pathlib.Path('tests/golden').glob('*.toml')):
    for case in tomllib.loads(p.read_text()).get('case', []):
        args, files = case.get('args', []), case.get('files', {})
        if len(args) == 1 and args[0].endswith('.velm') and isinstance(files.get(args[0]), str):
            out.append([p.name + ' ' + case.get('name', ''), files[args[0]]])
print(json.dumps(out))`], { cwd: root, encoding: 'utf8' });
  for (const [name, source] of JSON.parse(golden)) scripts.push([name, Buffer.from(source)]);
  return scripts;
}
