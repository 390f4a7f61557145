#!/usr/bin/env python3
"""Checks that a manual page source names the same options (and commands) as the program's --help.

Usage: check-manpage.py PAGE.md [--commands] -- PROGRAM [ARGS...] [-- PROGRAM [ARGS...]]...

Every help command given is run; the options of all their outputs together must be exactly the
options the page names. With --commands, the first output's "Commands:" section lists
commands: each must appear on the page as `command`, and each one's "PROGRAM COMMAND --help"
is checked too. Prints what differs and exits 1 when anything does.
"""
import os
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][\w-]*)")
# Qt's own option, added to every parser; not ours to document.
QT_OPTIONS = {"--help-all"}


def run(command):
    # The test's own environment (sanitizer options, a private home) with English help texts.
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", LANG="C.UTF-8", LC_ALL="C.UTF-8")
    result = subprocess.run(command, capture_output=True, text=True, timeout=60, env=env)
    if result.returncode != 0:
        sys.exit("check-manpage: %s exited with %d:\n%s" % (" ".join(command), result.returncode, result.stderr))
    return result.stdout


def commands_of(help_text):
    commands = []
    in_section = False
    for line in help_text.splitlines():
        if line.strip() == "Commands:":
            in_section = True
        elif in_section and not line.strip():
            break
        elif in_section:
            commands.append(line.split()[0])
    return commands


def main():
    args = sys.argv[1:]
    if len(args) < 3 or "--" not in args:
        sys.exit(__doc__)
    page = args.pop(0)
    with_commands = args[0] == "--commands"
    if with_commands:
        args.pop(0)
    helps = []
    for word in args:
        if word == "--":
            helps.append([])
        else:
            helps[-1].append(word)
    helps = [command for command in helps if command]

    with open(page, encoding="utf-8") as source:
        text = source.read()
    outputs = [run(command) for command in helps]
    problems = []
    if with_commands:
        program = helps[0][0]
        for command in commands_of(outputs[0]):
            if "`%s`" % command not in text:
                problems.append("command %s is in the help but not on the page" % command)
            outputs.append(run([program, command, "--help"]))
        if not commands_of(outputs[0]):
            problems.append("the help lists no commands")

    in_help = set()
    for output in outputs:
        in_help.update(OPTION.findall(output))
    in_help -= QT_OPTIONS
    on_page = set(OPTION.findall(text))
    for option in sorted(in_help - on_page):
        problems.append("option %s is in the help but not on the page" % option)
    for option in sorted(on_page - in_help):
        problems.append("option %s is on the page but not in the help" % option)
    for problem in problems:
        print("%s: %s" % (page, problem))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
