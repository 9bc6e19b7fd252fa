#!/usr/bin/python3
"""Runs the locale compiler over small locale sets and checks what it refuses.

Usage: locale_compiler_test.py PATH/TO/compile_locales.py
"""

import os
import subprocess
import sys
import tempfile
import unittest

COMPILER = None

EN = '{\n  "a.plain": "Hello",\n  "a.sized": "Size %{size} of %{disk}"\n}\n'

# (name, text of de.json, fragments the error output must hold)
REFUSED = [
    ("missing key", '{"a.plain": "Hallo"}', ["de.json: missing key `a.sized`"]),
    (
        "extra key",
        '{"a.plain": "Hallo", "a.sized": "%{size} auf %{disk}", "a.more": "x"}',
        ["de.json: extra key `a.more`"],
    ),
    (
        "empty text",
        '{"a.plain": "", "a.sized": "%{size} auf %{disk}"}',
        ["de.json: empty text for key `a.plain`"],
    ),
    (
        "duplicate key, even with equal texts",
        '{"a.plain": "Hallo", "a.plain": "Hallo", "a.sized": "%{size} auf %{disk}"}',
        ["de.json: duplicate key `a.plain`"],
    ),
    (
        "placeholder dropped",
        '{"a.plain": "Hallo", "a.sized": "Größe %{size}"}',
        ["de.json: key `a.sized`: placeholders {size} differ"],
    ),
    (
        "placeholder renamed",
        '{"a.plain": "Hallo", "a.sized": "%{größe} auf %{disk}"}',
        ["de.json: key `a.sized`: placeholders {disk, größe} differ"],
    ),
    (
        "placeholder repeated",
        '{"a.plain": "Hallo", "a.sized": "%{size} auf %{disk} (%{size})"}',
        ["de.json: key `a.sized`: placeholders {disk, size, size} differ"],
    ),
    (
        "placeholder added to a plain text",
        '{"a.plain": "Hallo %{name}", "a.sized": "%{size} auf %{disk}"}',
        ["de.json: key `a.plain`: placeholders {name} differ from en's none"],
    ),
    (
        "text that is not a string",
        '{"a.plain": 3, "a.sized": "%{size} auf %{disk}"}',
        ["de.json: key `a.plain` is not a text"],
    ),
    (
        "nested object",
        '{"a": {"plain": "Hallo"}, "a.sized": "%{size} auf %{disk}"}',
        ["de.json: key `a` holds an object", "de.json: missing key `a.plain`"],
    ),
    ("not an object", '["Hallo"]', ["de.json: expected one JSON object"]),
    ("broken JSON", '{"a.plain": "Hallo",', ["de.json: invalid JSON", "line 1"]),
]


class LocaleCompiler(unittest.TestCase):
    def run_compiler(self, files):
        with tempfile.TemporaryDirectory() as tmp:
            paths = []
            for name, text in files.items():
                path = os.path.join(tmp, name)
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
                paths.append(path)
            out = os.path.join(tmp, "table.cpp")
            proc = subprocess.run(
                [sys.executable, COMPILER, out, *paths], capture_output=True, text=True
            )
            table = None
            if os.path.exists(out):
                with open(out, encoding="utf-8") as f:
                    table = f.read()
            return proc, table

    def test_refusals_name_file_and_key(self):
        for name, de, fragments in REFUSED:
            with self.subTest(name):
                proc, table = self.run_compiler({"en.json": EN, "de.json": de})
                self.assertEqual(proc.returncode, 1, proc.stderr)
                for fragment in fragments:
                    self.assertIn(fragment, proc.stderr)
                self.assertIsNone(table, "nothing may be written when a file fails")

    def test_every_fault_is_reported_not_only_the_first(self):
        de = '{"a.plain": "", "a.extra": "x", "a.extra": "y"}'
        proc, _ = self.run_compiler({"en.json": EN, "de.json": de})
        self.assertEqual(proc.returncode, 1)
        for fragment in [
            "empty text for key `a.plain`",
            "duplicate key `a.extra`",
            "extra key `a.extra`",
            "missing key `a.sized`",
        ]:
            self.assertIn(fragment, proc.stderr)

    def test_english_may_not_repeat_a_placeholder(self):
        en = '{"a.sized": "%{size} or %{size}"}'
        proc, _ = self.run_compiler({"en.json": en})
        self.assertEqual(proc.returncode, 1)
        self.assertIn("en.json: key `a.sized`: placeholder `size` appears more than once", proc.stderr)

    def test_english_is_required(self):
        proc, _ = self.run_compiler({"de.json": '{"a.plain": "Hallo"}'})
        self.assertEqual(proc.returncode, 1)
        self.assertIn("no en.json", proc.stderr)

    def test_accepted_set_compiles_in_order_with_escapes(self):
        de = '{"a.sized": "%{disk}: \\"%{size}\\" — ok?\\\\", "a.plain": "Grüß dich"}'
        proc, table = self.run_compiler({"de.json": de, "en.json": EN})
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, "")
        # Languages keep the given order; keys within one are sorted.
        order = [table.index(s) for s in ['{"de", "a.plain"', '{"de", "a.sized"', '{"en", "a.plain"']]
        self.assertEqual(order, sorted(order))
        self.assertIn("kTextCount = 4;", table)
        # Quotes and backslashes are escaped, UTF-8 survives byte for byte.
        self.assertIn('\\"', table)
        self.assertIn("\\\\", table)
        self.assertIn("Gr\\303\\274\\303\\237 dich", table)


if __name__ == "__main__":
    COMPILER = sys.argv.pop(1)
    unittest.main()
