"""Generated programs, checked against a small reference evaluator of the
language, and mangled programs, which must end cleanly (exit 0 or 1) with
nothing but the run's own messages on standard error."""
import math
import os
import random
import re
import tempfile

import pytest

NAMES = ["a", "b", "c", "x1", "total", "n_2", "_t", "value", "q", "zz"]
OPERATORS = ["plus", "+", "minus", "-", "into", "*", "divided by", "/", "same", "big", "small"]
INT64 = 2.0 ** 63


def whole(number):
    """A number inside a joined string: "%.0f", with glibc's spelling of the rest."""
    if math.isnan(number):
        return "-nan" if math.copysign(1, number) < 0 else "nan"
    if math.isinf(number):
        return "inf" if number > 0 else "-inf"
    return "%.0f" % number


def shown(value):
    if isinstance(value, str):
        return value
    if -INT64 <= value < INT64 and int(value) == value:
        return "%d" % int(value)
    if math.isfinite(value):
        return "%g" % value
    return whole(value)


def number(value):
    return value if isinstance(value, float) else 0.0


def apply(op, left, right):
    if op in ("plus", "+", "same", "big", "small"):
        if isinstance(left, float) and isinstance(right, float):
            return left + right
        text = (left if isinstance(left, str) else whole(left)) + \
               (right if isinstance(right, str) else whole(right))
        return text.encode()[:511].decode()
    a, b = number(left), number(right)
    if op in ("minus", "-"):
        return a - b
    if op in ("into", "*"):
        try:
            return a * b
        except OverflowError:
            return math.inf
    return 0.0 if b == 0 else a / b


class Generator:
    def __init__(self, rng, names):
        self.rng = rng
        self.names = names

    def operand(self, depth):
        r = self.rng.random()
        if r < 0.35:
            text = str(self.rng.choice([0, 1, 2, 3, 7, 10, 255, 1000, 123456789, 10 ** 15]))
            if self.rng.random() < 0.3:
                text += "." + str(self.rng.randrange(0, 1000))
            return text, float(text)
        if r < 0.5:
            text = self.rng.choice(["", "x", "hi there", "0", "long" * 40, "a-b"])
            return '"' + text + '"', ("str", text)
        if r < 0.85 or depth > 3:
            name = self.rng.choice(self.names)
            return name, ("var", name)
        text, tree = self.expression(depth + 1)
        return "(" + text + ")", tree

    def expression(self, depth=0):
        text, tree = self.operand(depth)
        for _ in range(self.rng.choice([0, 0, 1, 1, 2, 3, 8])):
            op = self.rng.choice(OPERATORS)
            right_text, right = self.operand(depth)
            text += " " + op + " " + right_text
            tree = ("op", op, tree, right)
        return text, tree

    def statements(self, count, depth=0):
        lines, trees = [], []
        for _ in range(count):
            r = self.rng.random()
            if r < 0.45:
                text, tree = self.expression()
                lines.append("display " + text)
                trees.append(("display", tree))
            elif r < 0.9 or depth > 1:
                name = self.rng.choice(self.names)
                text, tree = self.expression()
                lines.append(f"store {name} = {text}")
                trees.append(("store", name, tree))
            else:
                name = self.rng.choice(self.names)
                start_text, start = self.expression()
                end_text, end = self.expression()
                body_lines, body = self.statements(self.rng.randrange(0, 4), depth + 1)
                lines += [f"count {name} from {start_text} to {end_text}"] + ["    " + l for l in body_lines] + ["stop"]
                trees.append(("count", name, start, end, body))
        return lines, trees


def evaluate(trees, env, out):
    def value(tree):
        if isinstance(tree, float):
            return tree
        if tree[0] == "str":
            return tree[1]
        if tree[0] == "var":
            return env.get(tree[1], 0.0)
        return apply(tree[1], value(tree[2]), value(tree[3]))

    for tree in trees:
        if tree[0] == "display":
            out.append(shown(value(tree[1])))
        elif tree[0] == "store":
            env[tree[1]] = value(tree[2])
        else:
            env.setdefault(tree[1], 0.0)
            start = value(tree[2])
            value(tree[3])
            env[tree[1]] = start
            evaluate(tree[4], env, out)
            env[tree[1]] = apply("plus", env[tree[1]], 1.0)


def check_clean_end(done):
    stderr = done.stderr.decode("utf-8", "replace")
    assert "Sanitizer" not in stderr and "runtime error" not in stderr, stderr
    assert done.returncode in (0, 1), (done.returncode, stderr)
    lines = [l for l in stderr.replace("\r\n", "\n").split("\n") if l]
    if done.returncode == 0:
        assert not lines, stderr
    else:
        assert lines and re.match(r"(Syntax Error: |Compilation Error: )", lines[0]), stderr


def programs(seed, count, statements, names):
    rng = random.Random(seed)
    for _ in range(count):
        lines, trees = Generator(rng, names).statements(rng.randrange(1, statements))
        out = []
        evaluate(trees, {}, out)
        yield "\n".join(lines) + "\n", out


@pytest.mark.parametrize("seed,count,statements,names", [
    (1, 120, 12, NAMES),                                   # short programs
    (2, 20, 400, NAMES),                                   # long ones: registers are reused
    (3, 10, 300, NAMES + [f"v{i}" for i in range(150)]),   # many names live at once
])
def test_generated_programs_match_the_reference(velm, seed, count, statements, names):
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "p.velm")
        for source, expected in programs(seed, count, statements, names):
            with open(path, "w") as f:
                f.write(source)
            done = velm.run(path)
            check_clean_end(done)
            if done.returncode == 1:
                assert b"Compilation Error" in done.stderr and len(names) > 100, source
                continue
            want = "".join(line + "\n" for line in expected).encode()
            assert done.stdout == velm.text(want), source


def test_mangled_programs_end_cleanly(velm):
    rng = random.Random(4)
    pieces = ["(", ")", '"', "divided", "by", "count", "stop", "start", "store", "display", "\n",
              "\\", "//", "1.", "9" * 70, "é", "\x00", "\t", "\r", "check", "=", "as", "[", "."]
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "m.velm")
        for source, _ in programs(5, 150, 10, NAMES):
            data = list(source)
            for _ in range(rng.randrange(1, 8)):
                at = rng.randrange(0, len(data) + 1)
                if rng.random() < 0.5 and data:
                    del data[min(at, len(data) - 1)]
                else:
                    data.insert(at, rng.choice(pieces))
            with open(path, "wb") as f:
                f.write("".join(data).encode("utf-8"))
            check_clean_end(velm.run(path))


def test_a_hundred_thousand_statements_run_as_on_an_unlimited_machine(velm):
    rng = random.Random(6)
    lines, trees = [], []
    gen = Generator(rng, NAMES)
    for i in range(100000):
        text, tree = gen.expression()
        if i % 2:
            lines.append("display " + text)
            trees.append(("display", tree))
        else:
            name = rng.choice(NAMES)
            lines.append(f"store {name} = {text}")
            trees.append(("store", name, tree))
    out = []
    evaluate(trees, {}, out)
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "long.velm")
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        done = velm.run(path, timeout=300)
    check_clean_end(done)
    assert done.returncode == 0
    assert done.stdout == velm.text("".join(line + "\n" for line in out).encode())
