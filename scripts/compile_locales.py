#!/usr/bin/python3
"""Compiles the wizard's locale files into a C++ table.

Usage: compile_locales.py OUTPUT.cpp LOCALE.json...

Each locale file is one flat JSON object of dotted keys to texts; the file's
name without ".json" is its language code, and the files are compiled in the
order given. "en.json" must be among them: it is the reference every other
language is held against.

The build fails (exit status 1, one line per fault on standard error, each
naming the file and the key) when a file is not such an object, a key appears
twice in one file, a key of English is missing, a key English lacks is
present, a text is empty or not a string, or a text's placeholders ("%{name}")
differ from those of the English text of the same key. Nothing is written
unless every file passes.
"""

import json
import os
import re
import sys

REFERENCE = "en"
PLACEHOLDER = re.compile(r"%\{([^{}%]*)\}")


class Duplicate(Exception):
    pass


def read_locale(path, errors):
    """Returns the key -> text dict of one file, or None when it is unusable."""

    def pairs_hook(pairs):
        seen = {}
        for key, value in pairs:
            if key in seen:
                errors.append(f"{path}: duplicate key `{key}`")
            seen[key] = value
        return seen

    try:
        with open(path, encoding="utf-8") as f:
            data = json.load(f, object_pairs_hook=pairs_hook)
    except OSError as e:
        errors.append(f"{path}: cannot read: {e.strerror}")
        return None
    except UnicodeDecodeError as e:
        errors.append(f"{path}: not UTF-8: {e.reason} at byte {e.start}")
        return None
    except json.JSONDecodeError as e:
        errors.append(f"{path}: invalid JSON: {e.msg} at line {e.lineno} column {e.colno}")
        return None
    if not isinstance(data, dict):
        errors.append(f"{path}: expected one JSON object of key -> text")
        return None
    for key, value in data.items():
        if isinstance(value, dict):
            errors.append(f"{path}: key `{key}` holds an object; the file must be flat")
        elif not isinstance(value, str):
            errors.append(f"{path}: key `{key}` is not a text")
        elif value == "":
            errors.append(f"{path}: empty text for key `{key}`")
    return {k: v for k, v in data.items() if isinstance(v, str)}


def placeholders(text):
    return sorted(PLACEHOLDER.findall(text))


def describe(names):
    return "{" + ", ".join(names) + "}" if names else "none"


def check(paths):
    """Returns ([(code, {key: text})] in the given order, [error lines])."""
    errors = []
    locales = []
    for path in paths:
        code = os.path.basename(path)
        if code.endswith(".json"):
            code = code[: -len(".json")]
        texts = read_locale(path, errors)
        locales.append((code, path, texts))

    reference = next((l for l in locales if l[0] == REFERENCE), None)
    if reference is None:
        errors.append(f"no {REFERENCE}.json among the locale files")
        return [], errors
    if reference[2] is None:
        return [], errors

    ref_path, ref_texts = reference[1], reference[2]
    for key, text in ref_texts.items():
        names = placeholders(text)
        for name in sorted(set(names)):
            if names.count(name) > 1:
                errors.append(f"{ref_path}: key `{key}`: placeholder `{name}` appears more than once")

    for code, path, texts in locales:
        if texts is None or code == REFERENCE:
            continue
        for key in ref_texts:
            if key not in texts:
                errors.append(f"{path}: missing key `{key}`")
        for key, text in texts.items():
            if key not in ref_texts:
                errors.append(f"{path}: extra key `{key}`")
                continue
            mine, theirs = placeholders(text), placeholders(ref_texts[key])
            if mine != theirs:
                errors.append(
                    f"{path}: key `{key}`: placeholders {describe(mine)} differ from "
                    f"{REFERENCE}'s {describe(theirs)}"
                )
    return [(code, texts) for code, _, texts in locales], errors


def literal(text):
    out = ['"']
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch in '"\\':
            out.append("\\" + ch)
        elif byte < 0x20 or byte == 0x7F or ch == "?":
            # Octal escapes never swallow a following digit beyond three,
            # and escaping '?' keeps trigraph-like runs inert.
            out.append(f"\\{byte:03o}")
        else:
            out.append(ch if byte < 0x80 else f"\\{byte:03o}")
    out.append('"')
    return "".join(out)


def render(locales):
    lines = [
        "// Generated from locales/*.json by scripts/compile_locales.py: do not edit.",
        '#include "i18n/compiled_texts.hpp"',
        "",
        "namespace i18n::compiled {",
        "",
        "const Text kTexts[] = {",
    ]
    count = 0
    for code, texts in locales:
        # Ascending byte order of the UTF-8 key equals code-point order.
        for key in sorted(texts):
            lines.append(f"    {{{literal(code)}, {literal(key)}, {literal(texts[key])}}},")
            count += 1
    lines += [
        "};",
        "",
        f"const std::size_t kTextCount = {count};",
        "",
        "} // namespace i18n::compiled",
        "",
    ]
    return "\n".join(lines)


def main(argv):
    if len(argv) < 3:
        print("usage: compile_locales.py OUTPUT.cpp LOCALE.json...", file=sys.stderr)
        return 2
    output, paths = argv[1], argv[2:]
    locales, errors = check(paths)
    if errors:
        for line in errors:
            print(line, file=sys.stderr)
        return 1
    text = render(locales)
    # Rewrite only on change so an untouched catalogue does not recompile.
    try:
        with open(output, encoding="utf-8") as f:
            if f.read() == text:
                return 0
    except OSError:
        pass
    tmp = output + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, output)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
