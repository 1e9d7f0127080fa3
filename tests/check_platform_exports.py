#!/usr/bin/env python3
"""The platform library exports exactly its public surface.

The public headers are platform/platform.h and the platform headers it includes, directly or
through each other. A declaration there is exported when it is marked VKR_API; everything else in
the library is built hidden. This check reads the marked names from the public headers and the
library's dynamic symbols (nm -D --defined-only -C) and fails when
  - the library exports a symbol that no marked declaration names (an internal leaked: a helper,
    a template instantiation of the standard library, a marked declaration in a private header),
  - a marked declaration has no exported symbol (a public name that the library lacks),
  - VKR_API is used outside the public headers.

usage: check_platform_exports.py <source root> <libvkrplatform.so>
"""
import os
import re
import subprocess
import sys


def public_headers(root):
    seen = []

    def visit(rel):
        if rel in seen:
            return
        seen.append(rel)
        with open(os.path.join(root, rel), encoding="utf-8") as f:
            for m in re.finditer(r'#include "(platform/[^"]+)"', f.read()):
                visit(m.group(1))

    visit("platform/platform.h")
    return seen


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    return re.sub(r"//[^\n]*", "", text)


def marked_names(text):
    """(functions and variables, classes) marked VKR_API, fully qualified."""
    names, classes = set(), set()
    text = strip_comments(text)
    text = re.sub(r"#[^\n]*(\\\n[^\n]*)*", "", text)  # preprocessor lines
    stack = []  # one entry per open brace: a namespace name, or None
    pos = 0
    token = re.compile(r"namespace\s+([\w:]+)\s*\{|VKR_API|[{}]")
    for m in token.finditer(text):
        if m.group(0) == "{":
            stack.append(None)
        elif m.group(0) == "}":
            if stack:
                stack.pop()
        elif m.group(1):
            stack.append(m.group(1))
        else:
            ns = "::".join(s for s in stack if s)
            prefix = ns + "::" if ns else ""
            before = text[max(0, m.start() - 20):m.start()]
            after = text[m.end():]
            cls = re.search(r"\b(class|struct)\s*$", before)
            if cls:
                name = re.match(r"\s*(\w+)", after).group(1)
                classes.add(prefix + name)
                continue
            decl = re.match(r"[^;({=]*?(operator\s*\S+?|\w+)\s*(\(|;|=|\[)", after, re.S)
            if not decl:
                raise SystemExit("cannot read the declaration after VKR_API: " + after[:80].replace("\n", " "))
            names.add(prefix + re.sub(r"\s+", "", decl.group(1)))
        pos = m.end()
    return names, classes


def symbol_name(demangled):
    """The qualified name of a demangled symbol, without parameters, return type or ABI tags."""
    for lead in ("vtable for ", "typeinfo for ", "typeinfo name for ", "non-virtual thunk to ",
                 "virtual thunk to ", "guard variable for ", "VTT for "):
        if demangled.startswith(lead):
            demangled = demangled[len(lead):]
    demangled = demangled.replace("[abi:cxx11]", "")
    depth = 0
    out = ""
    i = 0
    while i < len(demangled):
        c = demangled[i]
        if c == "(" and depth == 0:
            # "operator()" is a name; otherwise the parameters start here.
            if not out.endswith("operator"):
                break
        if c == "<":
            if not re.search(r"operator<*$", out):
                depth += 1
        elif c == ">" and depth:
            depth -= 1
        out += c
        i += 1
    return out.strip()


def main():
    root, library = sys.argv[1], sys.argv[2]
    headers = public_headers(root)
    names, classes = set(), set()
    for rel in headers:
        with open(os.path.join(root, rel), encoding="utf-8") as f:
            n, c = marked_names(f.read())
        names |= n
        classes |= c

    problems = []
    for dirpath, _, files in os.walk(os.path.join(root, "platform")):
        for name in files:
            rel = os.path.relpath(os.path.join(dirpath, name), root)
            if rel in headers or not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(root, rel), encoding="utf-8") as f:
                if "VKR_API" in strip_comments(f.read()):
                    problems.append(f"{rel}: VKR_API outside the public headers")

    nm = subprocess.run(["nm", "-D", "--defined-only", "-C", library], capture_output=True, text=True, check=True)
    exported = set()
    for line in nm.stdout.splitlines():
        parts = line.split(None, 2)
        if len(parts) < 3 or parts[1] in ("A",):
            continue
        sym = parts[2]
        base = symbol_name(sym)
        exported.add(base)
        if base in names or base in classes:
            continue
        if any(base.startswith(c + "::") for c in classes):
            continue
        problems.append(f"exported but not public: {sym}")
    for name in sorted(names):
        if name not in exported:
            problems.append(f"marked VKR_API but not exported: {name}")

    if problems:
        print("\n".join(problems))
        print(f"{len(problems)} problem(s); {len(names)} public names, {len(classes)} public classes")
        return 1
    print(f"platform exports: fine ({len(exported)} names, {len(classes)} classes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
