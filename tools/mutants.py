#!/usr/bin/python3
"""Mutants drawn from the product's sources, for tools/mutants.sh --sample.

Reads each source with libclang, as the x86_64 build compiles it, and lists
every place where one of these mistakes can be made:
  <  <=  >  >=  swapped with the other one of its pair; ==  != swapped;
  &&  || swapped; an integer literal, a sizeof or an array's size +1 or -1;
  an if condition negated, made true, made false; a call statement (its
  result unused) deleted; a return of a constant changed (0 -> 1, 1 -> 0,
  -1 -> 0, true <-> false); a ! removed.
Only code that reaches the compiler is read: comments, strings, character
literals, preprocessor lines, skipped #if regions and static_assert are never
touched, and neither is anything a macro expands to.

  mutants.py list  [--changed BASE] [--sample N --key K]   one line per mutant
  mutants.py apply FILE START END TEXT BEFORE                 makes one change
  mutants.py probe                                  fails when libclang is missing

A list line: ID FILE LINE START END (byte offsets) REPLACEMENT ORIGINAL KIND
BEFORE AFTER (the lines as they were and as they become) CHANGE (the two
texts in short), separated by 0x1F,
with line breaks escaped in the texts. Without
--sample every candidate is listed, in file and offset order; with it, N are
drawn: each candidate is ranked by a SHA-256 of K and its place, and the N
lowest are taken, so that the same K draws the same mutants.
"""
import glob
import hashlib
import os
import re
import subprocess
import sys

FOLDERS = ("app", "base", "install", "payload", "progman", "remove", "uninstall")
# Between a list line's fields: a replacement may be empty, and tabs would
# run together in the shell's read.
SEPARATOR = "\x1f"
INTEGER = re.compile(r"^(0[xX][0-9a-fA-F]+|0[0-7]*|[1-9][0-9]*)([uUlL]*)$")


def load_libclang():
    """cindex and the path of the newest libclang (Debian keeps the Python
    bindings in its own dist-packages, which another python3 may not see)."""
    if os.path.isdir("/usr/lib/python3/dist-packages"):
        sys.path.append("/usr/lib/python3/dist-packages")
    import clang.cindex as ci
    version = lambda p: [int(n) for n in re.findall(r"llvm-(\d+)", p)]
    libraries = sorted(glob.glob("/usr/lib/llvm-*/lib/libclang.so.1"), key=version)
    if not libraries:
        sys.exit("libclang is missing (apt-get install python3-clang)")
    ci.Config.set_library_file(libraries[-1])
    return ci, libraries[-1]


def resource_dir(library):
    # libclang looks for its own headers (x86intrin.h) beside the compiler.
    version_dirs = sorted(glob.glob(os.path.join(os.path.dirname(library), "clang", "*")))
    return ["-resource-dir", version_dirs[-1]] if version_dirs else []


def product_files(root):
    files = []
    for folder in FOLDERS:
        for path in sorted(glob.glob(os.path.join(root, folder, "*"))):
            if path.endswith((".cpp", ".h")):
                files.append(os.path.relpath(path, root))
    return files


def changed_lines(root, base, files):
    """Lines of FILES that differ from BASE (committed or not); a file git does
    not know counts whole."""
    lines = {}
    diff = subprocess.run(["git", "-C", root, "diff", "-U0", base, "--"] + files,
                          capture_output=True, text=True, check=True).stdout
    current = None
    for line in diff.splitlines():
        if line.startswith("+++ "):
            current = line[6:] if line.startswith("+++ b/") else None
        elif line.startswith("@@") and current:
            m = re.match(r"@@ -\S+ \+(\d+)(?:,(\d+))? @@", line)
            start, count = int(m.group(1)), int(m.group(2) or "1")
            lines.setdefault(current, set()).update(range(start, start + count))
    untracked = subprocess.run(["git", "-C", root, "ls-files", "--others", "--exclude-standard", "--"] + files,
                               capture_output=True, text=True, check=True).stdout.split()
    for path in untracked:
        lines[path] = None
    return lines


class Reader:
    def __init__(self, ci, root, path, source):
        self.ci, self.root, self.path, self.source = ci, root, path, source
        self.full = os.path.realpath(os.path.join(root, path))
        self.found = []

    def tokens(self, cursor):
        return [t for t in cursor.get_tokens() if t.kind != self.ci.TokenKind.COMMENT]

    def token_is(self, token, text):
        """The token stands in this file, at its place, as TEXT: not the
        expansion of a macro."""
        start = token.extent.start.offset
        return (token.spelling == text and self.here_loc(token.location) and
                self.source[start:start + len(text)] == text.encode())

    def here_loc(self, location):
        return location.file is not None and os.path.realpath(location.file.name) == self.full

    def add(self, start, end, replacement, kind):
        self.found.append((start, end, replacement, kind))

    def add_token(self, token, replacement, kind):
        self.add(token.extent.start.offset, token.extent.end.offset, replacement, kind)

    def span(self, cursor):
        """Start and end offset of CURSOR's own text, or None when any of it
        comes from a macro."""
        tokens = self.tokens(cursor)
        if not tokens or not all(self.here_loc(t.location) for t in tokens):
            return None
        start, end = tokens[0].extent.start.offset, tokens[-1].extent.end.offset
        text = self.source[start:end].decode("latin-1")
        # Each token must stand where the lexer saw it (no macro in between).
        position = 0
        for t in tokens:
            at = text.find(t.spelling, position)
            if at < 0:
                return None
            position = at + len(t.spelling)
        return start, end

    def walk(self, cursor, top=True, unevaluated=False):
        K = self.ci.CursorKind
        for child in cursor.get_children():
            if top and not self.here_loc(child.location):
                continue  # declarations from the headers: each header is read alone
            if child.kind == K.STATIC_ASSERT:
                continue
            if not unevaluated:
                self.visit(child, cursor)
            # Nothing inside sizeof runs: a change there changes nothing.
            self.walk(child, False, unevaluated or child.kind in (K.CXX_UNARY_EXPR, K.CXX_TYPEID_EXPR))

    def visit(self, c, parent):
        K = self.ci.CursorKind
        if c.kind == K.BINARY_OPERATOR:
            self.binary(c)
        elif c.kind == K.UNARY_OPERATOR:
            tokens = self.tokens(c)
            if tokens and self.token_is(tokens[0], "!") and self.span(c):
                self.add_token(tokens[0], "", "not-removed")
        elif c.kind == K.INTEGER_LITERAL:
            self.literal(c)
        elif c.kind == K.CXX_UNARY_EXPR:
            tokens = self.tokens(c)
            sp = self.span(c)
            if tokens and tokens[0].spelling == "sizeof" and sp:
                text = self.source[sp[0]:sp[1]].decode("latin-1")
                self.add(sp[0], sp[1], "(%s + 1)" % text, "size+1")
                self.add(sp[0], sp[1], "(%s - 1)" % text, "size-1")
        elif c.kind == K.IF_STMT:
            self.condition(c)
        elif c.kind == K.CALL_EXPR:
            self.call_statement(c, parent)
        elif c.kind == K.RETURN_STMT:
            self.return_constant(c)
        elif c.kind in (K.VAR_DECL, K.FIELD_DECL) and c.type.kind == self.ci.TypeKind.CONSTANTARRAY:
            self.array_size(c)

    def binary(self, c):
        swaps = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==",
                 "&&": "||", "||": "&&"}
        children = list(c.get_children())
        if len(children) != 2 or not self.span(c):
            return
        lhs_end = children[0].extent.end.offset
        for t in self.tokens(c):
            if t.extent.start.offset >= lhs_end:
                if t.spelling in swaps and self.token_is(t, t.spelling):
                    self.add_token(t, swaps[t.spelling], "operator")
                return

    def literal(self, c):
        tokens = self.tokens(c)
        if len(tokens) != 1 or not self.here_loc(tokens[0].location):
            return
        t = tokens[0]
        m = INTEGER.match(t.spelling)
        if not m or not self.token_is(t, t.spelling):
            return
        digits, suffix = m.groups()
        value = int(digits, 0)
        for delta in (1, -1):
            if value + delta < 0:
                continue
            if digits.lower().startswith("0x"):
                text = "0x%X" % (value + delta)
            else:
                text = "%d" % (value + delta)
            self.add_token(t, text + suffix, "literal%+d" % delta)

    def array_size(self, c):
        # char name[SIZE]: the size given by a name (a literal is one already).
        tokens = self.tokens(c)
        names = [t.spelling for t in tokens]
        if "[" not in names:
            return
        i = names.index("[")
        if i + 2 < len(tokens) and names[i + 2] == "]" and tokens[i + 1].kind == self.ci.TokenKind.IDENTIFIER:
            t = tokens[i + 1]
            if self.token_is(t, t.spelling):
                self.add_token(t, t.spelling + " + 1", "size+1")
                self.add_token(t, t.spelling + " - 1", "size-1")

    def condition(self, c):
        tokens = self.tokens(c)
        if len(tokens) < 4 or tokens[0].spelling != "if" or tokens[1].spelling != "(":
            return
        depth = 0
        for i, t in enumerate(tokens[1:], 1):
            if t.spelling == "(":
                depth += 1
            elif t.spelling == ")":
                depth -= 1
                if depth == 0:
                    break
        else:
            return
        inner = tokens[2:i]
        if not inner or not all(self.here_loc(t.location) for t in tokens[:i + 1]):
            return
        # if (TYPE name = ...) and if (init; condition) are left alone.
        if any(t.spelling == ";" for t in inner) or \
                any(k.kind in (self.ci.CursorKind.VAR_DECL, self.ci.CursorKind.DECL_STMT) for k in c.get_children()):
            return
        start, end = inner[0].extent.start.offset, inner[-1].extent.end.offset
        text = self.source[start:end].decode("latin-1")
        self.add(start, end, "!(%s)" % text, "if-negated")
        self.add(start, end, "true", "if-true")
        self.add(start, end, "false", "if-false")

    def call_statement(self, c, parent):
        K = self.ci.CursorKind
        # The call is a statement of its own: in a block, or the whole body of
        # an if, else, while or for.
        if parent is None or parent.kind not in (K.COMPOUND_STMT, K.IF_STMT, K.WHILE_STMT,
                                                  K.FOR_STMT, K.DO_STMT, K.CASE_STMT,
                                                  K.DEFAULT_STMT, K.LABEL_STMT):
            return
        if parent.kind == K.IF_STMT and list(parent.get_children())[0] == c:
            return  # the condition
        if parent.kind in (K.WHILE_STMT, K.DO_STMT, K.FOR_STMT):
            return  # a loop's condition or step, or its only statement: leave loops alone
        sp = self.span(c)
        if not sp:
            return
        after = self.source[sp[1]:].lstrip()
        if not after.startswith(b";"):
            return
        self.add(sp[0], sp[1], "", "call-deleted")

    def return_constant(self, c):
        tokens = self.tokens(c)
        words = [t.spelling for t in tokens]
        changes = {("0",): "1", ("1",): "0", ("-", "1"): "0", ("true",): "false",
                   ("false",): "true", ("TRUE",): "FALSE", ("FALSE",): "TRUE"}
        if words[-1:] == [";"]:
            tokens, words = tokens[:-1], words[:-1]
        if len(words) < 2 or words[0] != "return":
            return
        value = tuple(words[1:])
        if value in changes and all(self.token_is(t, t.spelling) for t in tokens[1:]):
            self.add(tokens[1].extent.start.offset, tokens[-1].extent.end.offset, changes[value], "return")


def parse_args(library, root, path):
    args = ["-x", "c++-header" if path.endswith(".h") else "c++", "-std=c++17",
            "-target", "x86_64-w64-mingw32", "-I" + root,
            "-I" + os.path.join(root, "build-x64", "packed")]
    return args + resource_dir(library)


def candidates(root, files, lines_of=None):
    ci, library = load_libclang()
    # The carried files' sums are made by the build; without them the rest
    # of payload/sums.cpp would not be read, and the draw would differ.
    if not os.path.exists(os.path.join(root, "build-x64", "packed", "payload_sums.inc")):
        sys.exit("build-x64 is not built: bash tools/build.sh build-x64")
    index = ci.Index.create()
    found = []
    for path in files:
        if lines_of is not None and path not in lines_of:
            continue
        source = open(os.path.join(root, path), "rb").read()
        tu = index.parse(os.path.join(root, path), args=parse_args(library, root, path))
        errors = [d for d in tu.diagnostics if d.severity >= d.Error]
        if errors:
            sys.exit("%s does not parse: %s" % (path, errors[0]))
        reader = Reader(ci, root, path, source)
        reader.walk(tu.cursor)
        # A second, independent reading: nothing in a comment, a string, a
        # character literal, a directive or a static_assert.
        for offset, kind in misplaced(source, reader.found):
            sys.exit("%s: mutant %s at offset %d lies where no code is compiled" % (path, kind, offset))
        line_starts = [0] + [i + 1 for i, b in enumerate(source) if b == 10]
        # One change made two ways (return 0 and the literal 0) counts once.
        unique = {}
        for start, end, replacement, kind in reader.found:
            unique.setdefault((start, end, replacement), kind)
        for (start, end, replacement), kind in sorted(unique.items()):
            line = line_number(line_starts, start)
            if lines_of is not None and lines_of[path] is not None and line not in lines_of[path]:
                continue
            found.append((path, line, start, end, replacement, kind, source, line_starts))
    return found


def line_number(line_starts, offset):
    low, high = 0, len(line_starts)
    while high - low > 1:
        middle = (low + high) // 2
        if line_starts[middle] <= offset:
            low = middle
        else:
            high = middle
    return low + 1


def shown(source, line_starts, start, end, replacement):
    """The lines the change touches, before and after, on one line each."""
    first = line_starts[line_number(line_starts, start) - 1]
    last = source.find(b"\n", end)
    last = len(source) if last < 0 else last
    before = source[first:last].decode("latin-1")
    after = (source[first:start] + replacement.encode("latin-1") + source[end:last]).decode("latin-1")
    squeeze = lambda s: re.sub(r"\s+", " ", s).strip()
    return squeeze(before), squeeze(after)


def untouchable(source):
    """Byte ranges no mutant may touch, found without libclang: comments,
    string and character literals, preprocessor lines, #if 0 regions and
    static_assert declarations. Returns (ranges that may only be changed
    whole, ranges that may not be changed at all)."""
    text = source.decode("latin-1")
    whole, never = [], []
    i, n, line_start = 0, len(text), True
    skipping = region = 0
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            # A directive, with its continuation lines.
            j = i
            while True:
                j = text.find("\n", j)
                if j < 0:
                    j = n
                    break
                if text[j - 1] != "\\":
                    break
                j += 1
            directive = re.sub(r"\s+", " ", text[i:j])
            if skipping:
                if re.match(r"# ?if", directive):
                    skipping += 1
                elif re.match(r"# ?(endif|else|elif)", directive):
                    skipping -= 1
                    if skipping == 0:
                        never[region] = (never[region][0], j)
            elif re.match(r"# ?if 0\b", directive):
                skipping, region = 1, len(never)
                never.append((i, n))
            never.append((i, j))
            i, line_start = j, True
            continue
        line_start = False
        if c == "\n":
            line_start = True
            i += 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            whole.append((i, j))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            whole.append((i, j))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            whole.append((i, j + 1))
            i = j + 1
        elif text.startswith("static_assert", i) and not (i and (text[i - 1].isalnum() or text[i - 1] == "_")):
            j = text.find(";", i)
            j = n if j < 0 else j + 1
            never.append((i, j))
            i = j
        else:
            i += 1
    return whole, never


def misplaced(source, found):
    """The candidates that touch what no mutant may touch (see untouchable)."""
    whole, never = untouchable(source)
    bad = []
    for start, end, replacement, kind in found:
        for r0, r1 in never:
            if r0 < max(end, start + 1) and start < r1:
                bad.append((start, kind))
        for r0, r1 in whole:
            # Inside, or across one of its ends; taking a whole string along
            # (a call deleted, a condition negated) is fine.
            if r0 < max(end, start + 1) and start < r1 and not (start <= r0 and r1 <= end):
                bad.append((start, kind))
    return bad


def brief(text):
    """A changed text for a table: on one line, at most 22 characters."""
    text = re.sub(r"\s+", " ", text).strip()
    if not text:
        return "(deleted)"
    return text if len(text) <= 22 else text[:19] + "..."


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"t": "\t", "n": "\n"}.get(m.group(1), m.group(1)), text)


def draw(found, count, key):
    def rank(c):
        path, line, start, end, replacement = c[:5]
        return hashlib.sha256(("%s|%s|%d|%d|%s" % (key, path, start, end, replacement)).encode()).hexdigest()
    return sorted(sorted(found, key=rank)[:count], key=lambda c: (c[0], c[2], c[3], c[4]))


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    args = sys.argv[1:]
    command = args.pop(0) if args else ""
    if command == "list":
        base = count = key = None
        while args:
            option = args.pop(0)
            if option == "--changed":
                base = args.pop(0)
            elif option == "--sample":
                count = int(args.pop(0))
            elif option == "--key":
                key = args.pop(0)
            else:
                sys.exit("unknown option " + option)
        files = product_files(root)
        lines_of = changed_lines(root, base, files) if base else None
        found = candidates(root, files, lines_of)
        if count is not None:
            found = draw(found, count, key or "")
        for number, (path, line, start, end, replacement, kind, source, line_starts) in enumerate(found, 1):
            before, after = shown(source, line_starts, start, end, replacement)
            print(SEPARATOR.join([str(number), path, str(line), str(start), str(end), escape(replacement),
                             escape(source[start:end].decode("latin-1")), kind, before, after,
                                 "%s -> %s" % (brief(source[start:end].decode("latin-1")), brief(replacement))]))
    elif command == "apply":
        path, start, end, replacement, original = args
        start, end = int(start), int(end)
        full = os.path.join(root, path)
        source = open(full, "rb").read()
        if source[start:end] != unescape(original).encode("latin-1"):
            sys.exit("%s:%d: the text there is no longer %r" % (path, start, unescape(original)))
        open(full, "wb").write(source[:start] + unescape(replacement).encode("latin-1") + source[end:])
    elif command == "probe":
        load_libclang()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
