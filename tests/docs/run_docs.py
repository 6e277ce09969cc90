#!/usr/bin/env python3
"""Runs the commands the manual shows, so that the manual cannot drift from the
program. Usage:

    run_docs.py ROOT BIN_DIR LIB_DIR PYTHON_DIR WORK_DIR

ROOT is the source tree: README.md and every docs/*.md are read. Each page runs
in a fresh folder of its own under WORK_DIR, laid out as a copy of the installed
examples (the example scripts and images/ with the sample images, made by
BIN_DIR/pictile_samples) with the batch command's list file and output folder,
with BIN_DIR first on PATH, LIB_DIR on MAYA_PLUG_IN_PATH and PYTHON_DIR (the
built maya package's folder) on PYTHONPATH, so that `hostbatch --plugin
pictile` and `import maya.standalone` run as they do from an install; `python3`
is the interpreter running this script (Debian's); links scripts/ and examples/
to the tree's let the commands a user runs in the source tree run there too.
The fenced blocks of a page
run in order, in that folder:

  ```console   lines "$ COMMAND" (continued by lines "> MORE") each followed by
               the output it must print, standard output and error together; a
               line "..." stands for any number of lines. Every command must
               exit 0: show a failing one as `COMMAND; echo "exit $?"`.
  ```mel       a MEL script. One whose first line is "// NAME.mel" is written to
               NAME.mel for a later console block to run; any other runs at once
               with `hostbatch --plugin pictile` and must print what the
               ```output block right after it shows (or succeed, without one).
  ```python    a Python script, the same way: one whose first line is
               "# NAME.py" is written to NAME.py; any other runs at once with
               `python3` and must print what the ```output block after it shows.
  ```sh        commands run by another part of the suite: the line before the
               block names it, <!-- run by PATH -->, and every command of the
               block must appear, as written, in that file of ROOT.

Other blocks (text, json, output, ...) show what a program prints and are not
commands. A page with no block of these three kinds fails: every page is checked.
"""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

COMMAND_TIMEOUT = 300
MARKER = re.compile(r"^<!--\s*(run by\s+\S+|a measurement)\s*-->$")
MEL_FILE = re.compile(r"^//\s*(\S+\.mel)\b")
PYTHON_FILE = re.compile(r"^#\s*(\S+\.py)\b")
BATCH_FOLDER = "F:/Dovrin's Documents/My Images"
BATCH_LIST = "sunset.png\ntiles.png\nbadge.png\nmeadow.jpg\n"


class Block:
    def __init__(self, kind, lines, line_number, runner):
        self.kind = kind
        self.lines = lines
        self.line_number = line_number
        self.runner = runner


def read_blocks(page):
    """The fenced blocks of a page, each with the "run by" marker just above it."""
    blocks = []
    lines = page.read_text(encoding="utf-8").split("\n")
    index = 0
    while index < len(lines):
        fence = re.match(r"^```(\S*)", lines[index])
        if not fence:
            index += 1
            continue
        marker = MARKER.match(lines[index - 1].strip()) if index > 0 else None
        start = index + 1
        end = start
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        if end == len(lines):
            raise SystemExit(f"{page}:{index + 1}: a fenced block that is never closed")
        runner = marker.group(1).removeprefix("run by").strip() if marker else None
        blocks.append(Block(fence.group(1), lines[start:end], index + 1, runner))
        index = end + 1
    return blocks


def console_commands(block):
    """(command, expected output lines) pairs of a console block."""
    commands = []
    for line in block.lines:
        if line.startswith("$ "):
            commands.append([line[2:], []])
        elif line.startswith("> ") and commands and not commands[-1][1]:
            commands[-1][0] += "\n" + line[2:]
        elif commands:
            commands[-1][1].append(line)
        elif line.strip():
            raise ValueError(f"output before any command: {line!r}")
    return commands


def output_matches(expected, actual):
    """Whether the actual lines are the expected ones, "..." standing for any run of lines."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(output_matches(expected[1:], actual[skip:]) for skip in range(len(actual) + 1))
    return bool(actual) and expected[0] == actual[0] and output_matches(expected[1:], actual[1:])


def shown_commands(block):
    """The commands of a sh block, continuation lines joined, comments dropped."""
    commands = []
    pending = ""
    for line in block.lines:
        text = line.split(" #", 1)[0].strip() if not line.lstrip().startswith("#") else ""
        if pending:
            text = pending + " " + text
        if text.endswith("\\"):
            pending = text[:-1].strip()
            continue
        pending = ""
        if text:
            commands.append(text)
    return commands


def script_commands(text):
    """The lines of a script as lists of word patterns, continuation lines joined.
    A word naming a file of the tree as "$root/PATH" stands for PATH; any other
    word holding a variable stands for any one word, and can be a command's name
    only where it starts with text of its own (`NAME="$value"`), so
    that `cmake --install "$build" --prefix "$prefix"` runs what `cmake --install
    build/release --prefix /opt/pictile` shows."""
    commands = []
    text = text.replace('"$(dirname "${BASH_SOURCE[0]}")/../', '"$root/')
    for line in text.replace("\\\n", " ").split("\n"):
        words = []
        for word in line.split():
            word = re.sub(r'"?\$root/([^"\s]*)"?', r"\1", word)
            if "$" in word:
                literal = word[: word.index("$")].replace('"', "").replace("'", "")
                words.append((re.compile(re.escape(literal) + r"\S+"), bool(literal)))
            else:
                words.append((re.compile(re.escape(word)), True))
        commands.append(words)
    return commands


def runs_command(script, command):
    """Whether some line of the script runs the command: its words, in order, match
    a run of that line's words."""
    shown = command.split()
    for words in script:
        for start in range(len(words) - len(shown) + 1):
            if not words[start][1]:
                continue
            if all(words[start + at][0].fullmatch(word) for at, word in enumerate(shown)):
                return True
    return False


def prepare_folder(folder, root, bin_dir):
    if folder.exists():
        shutil.rmtree(folder)
    (folder / "images").mkdir(parents=True)
    subprocess.run([str(bin_dir / "pictile_samples"), str(folder / "images")], check=True, stdout=subprocess.DEVNULL)
    for script in sorted((root / "examples").glob("*.mel")) + sorted((root / "examples").glob("*.py")):
        shutil.copy(script, folder)
    for tree_folder in ("scripts", "examples"):
        (folder / tree_folder).symlink_to(root / tree_folder)
    batch = folder / BATCH_FOLDER
    (batch / "Resized").mkdir(parents=True)
    (batch / "DIRlist.txt").write_text(BATCH_LIST)


def run(command, folder, environment):
    done = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=folder, env=environment,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=COMMAND_TIMEOUT)
    text = done.stdout.decode("utf-8", "replace")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    return done.returncode, lines


class Page:
    def __init__(self, root, path, folder, bin_dir, environment):
        self.root = root
        self.bin_dir = bin_dir
        self.path = path
        self.name = path.relative_to(root)
        self.folder = folder
        self.environment = environment
        self.failures = []
        self.checked = 0

    def fail(self, block, what):
        self.failures.append(f"{self.name}:{block.line_number}: {what}")

    def check_console(self, block):
        try:
            commands = console_commands(block)
        except ValueError as error:
            self.fail(block, str(error))
            return
        for command, expected in commands:
            self.checked += 1
            status, actual = run(command, self.folder, self.environment)
            if status != 0:
                self.fail(block, f"`{command}` exited {status}:\n" + "\n".join(actual))
            elif not output_matches(expected, actual):
                self.fail(block, f"`{command}` printed:\n" + "\n".join(actual) + "\n  instead of:\n"
                          + "\n".join(expected))

    def check_script(self, block, following, file_name, runner):
        named = file_name.match(block.lines[0]) if block.lines else None
        script = "\n".join(block.lines) + "\n"
        if named:
            target = self.folder / named.group(1)
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(script)
            return
        self.checked += 1
        snippet = "snippet.py" if file_name is PYTHON_FILE else "snippet.mel"
        (self.folder / snippet).write_text(script)
        status, actual = run(f"{runner} {snippet}", self.folder, self.environment)
        expected = following.lines if following is not None and following.kind == "output" else None
        if expected is None and status != 0:
            self.fail(block, f"the script exited {status}:\n" + "\n".join(actual))
        elif expected is not None and not output_matches(expected, actual):
            self.fail(block, "the script printed:\n" + "\n".join(actual) + "\n  instead of:\n" + "\n".join(expected))

    def check_shown(self, block):
        if block.runner is None:
            self.fail(block, "a sh block needs <!-- run by PATH --> or <!-- a measurement --> on the line before it")
            return
        if block.runner == "a measurement":
            self.check_measurement(block)
            return
        runner = self.root / block.runner
        if not runner.is_file():
            self.fail(block, f"{block.runner} does not exist")
            return
        script = script_commands(runner.read_text(encoding="utf-8"))
        for command in shown_commands(block):
            self.checked += 1
            if not runs_command(script, command):
                self.fail(block, f"`{command}` is not run by {block.runner}")

    def check_measurement(self, block):
        """A measurement takes minutes and peers from Debian, so the suite does not
        run it: its program must be one of the tree's scripts, or a benchmark the
        tree builds."""
        benchmarks = (self.root / "bench" / "CMakeLists.txt").read_text(encoding="utf-8")
        for command in shown_commands(block):
            self.checked += 1
            program = command.split()[0]
            script = self.root / program
            built = f"add_executable({Path(program).name} " in benchmarks
            if not (script.is_file() and os.access(script, os.X_OK)) and not built:
                self.fail(block, f"`{command}`: {program} is neither a script of the tree nor a benchmark it builds")

    def check(self):
        prepare_folder(self.folder, self.root, self.bin_dir)
        blocks = read_blocks(self.path)
        for index, block in enumerate(blocks):
            following = blocks[index + 1] if index + 1 < len(blocks) else None
            if block.kind == "console":
                self.check_console(block)
            elif block.kind == "mel":
                self.check_script(block, following, MEL_FILE, "hostbatch --plugin pictile")
            elif block.kind == "python":
                self.check_script(block, following, PYTHON_FILE, "python3")
            elif block.kind == "sh":
                self.check_shown(block)
        if self.checked == 0:
            self.failures.append(f"{self.name}: shows no command that is checked")


def main():
    if len(sys.argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    root, bin_dir, lib_dir, python_dir, work = (Path(argument).resolve() for argument in sys.argv[1:])
    environment = dict(os.environ)
    for name in ("MAYA_SCRIPT_PATH", "PICTILE_PIXEL_BUDGET", "LD_LIBRARY_PATH", "PYTHONHOME"):
        environment.pop(name, None)
    # `python3` is this interpreter, whatever another python3 on PATH would be,
    # with the settings PICTILE_PYTHON_SETTINGS lists ("NAME=VALUE ...": the
    # sanitizer build's runtime and options).
    interpreter = work / "python-bin"
    interpreter.mkdir(parents=True, exist_ok=True)
    settings = environment.pop("PICTILE_PYTHON_SETTINGS", "").split()
    (interpreter / "python3").write_text(f'#!/bin/sh\nexec env {" ".join(settings)} {sys.executable} "$@"\n')
    (interpreter / "python3").chmod(0o755)
    environment.update(PATH=f"{bin_dir}:{interpreter}:{environment.get('PATH', '/usr/bin:/bin')}",
                       MAYA_PLUG_IN_PATH=str(lib_dir), PYTHONPATH=str(python_dir), PYTHONDONTWRITEBYTECODE="1",
                       LC_ALL="C.UTF-8")
    pages = [root / "README.md"] + sorted((root / "docs").glob("*.md"))
    failures = []
    for path in pages:
        page = Page(root, path, work / path.stem, bin_dir, environment)
        page.check()
        print(f"{page.name}: {page.checked} commands checked, {len(page.failures)} failed")
        failures += page.failures
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
