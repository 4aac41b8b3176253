"""Locates the real-world IDL corpus and assembles each file with its includes.

A parse reads one document and never opens included files, so a file that includes others
is parsed as one text: the included files first (recursively, each once), then the file.
An include path is resolved by its base name anywhere in the corpus tree.
"""
import os
import re
from pathlib import Path

INCLUDE = re.compile(r'^\s*include\s+"([^"]+)"', re.MULTILINE)


def corpus_root():
    """The corpus folder, or None when it is not present on this machine."""
    candidates = [os.environ.get("VELMORA_IDL_CORPUS")]
    here = Path(__file__).resolve()
    for parent in here.parents:
        candidates.append(parent / "shared" / "idl-corpus")
        candidates.append(parent.parent / "shared" / "idl-corpus")
    for c in candidates:
        if c and Path(c).is_dir():
            return Path(c)
    return None


def corpus_files(root):
    return sorted(root.rglob("*.thrift"))


def document_text(path, root):
    """The file's text preceded by the texts of everything it includes."""
    by_name = {}
    for f in corpus_files(root):
        by_name.setdefault(f.name, f)
    seen = set()
    parts = []

    def visit(p):
        if p in seen:
            return
        seen.add(p)
        text = p.read_text(encoding="utf-8")
        for inc in INCLUDE.findall(text):
            target = by_name.get(Path(inc).name)
            if target is not None:
                visit(target)
        parts.append(text)

    visit(path)
    return "\n".join(parts)
