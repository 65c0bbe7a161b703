#!/usr/bin/env python3
"""The help text and the manual page from one source (scripts/help_text.py).

What the built program prints for --help is the help file word for word; every command, option and exit
code it names is in the built manual page, which man renders without a warning; and a help file out of
shape stops the build with its line number instead of making a manual nobody checked.

Run by ctest with ZORVEL_BACKUP (the built program) and ZB_MANUAL (the built page) set.
"""
import os
import re
import subprocess
import sys
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
import help_text  # noqa: E402

HELP_FILE = os.path.join(SOURCE, "dist", "ZORVEL_Backup.help.txt")


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def plain(roff):
    """The words of a roff page without its font changes and escapes."""
    text = re.sub(r"\\f[BIRP]", "", roff)
    return text.replace("\\-", "-").replace("\\e", "\\").replace("\\&", "")


def program_help():
    run = subprocess.run([os.environ["ZORVEL_BACKUP"], "--help"], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    return run.stdout


class HelpAndManual(unittest.TestCase):
    def test_help_is_the_source(self):
        self.assertEqual(program_help(), help_text.help_text(read(HELP_FILE)))

    def test_manual_names_what_help_names(self):
        helped = program_help()
        manual = plain(read(os.environ["ZB_MANUAL"]))
        commands = re.findall(r"^  ([a-z]+)\b", helped.split("\nCommands:\n")[1].split("\nOptions:\n")[0], re.M)
        options = set(help_text.OPTION.findall(helped))
        codes = re.findall(r"^  (\d+)  ", helped.split("\nExit codes:\n")[1], re.M)
        self.assertIn("setup", commands)
        self.assertIn("--copy-to", options)
        self.assertEqual(codes, [str(n) for n in range(len(codes))])
        sections = re.split(r"^\.SH ", manual, flags=re.M)
        section = {s.split("\n", 1)[0].strip('"'): s for s in sections}
        for command in set(commands):
            self.assertRegex(section["COMMANDS"], r"(?m)^\.TP\n%s\b" % command, command)
        for option in options:
            self.assertRegex(manual, r"(?<![\w-])%s(?![\w-])" % re.escape(option), option)
        for code in codes:
            self.assertRegex(section["EXIT STATUS"], r"(?m)^\.TP\n%s\n" % code, code)
        for needed in ("SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "ENVIRONMENT", "EXAMPLES", "SEE ALSO"):
            self.assertIn(needed, section)

    def test_man_renders_without_warnings(self):
        run = subprocess.run(["man", "--warnings", "-l", os.environ["ZB_MANUAL"]], capture_output=True, text=True,
                             env=dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8"), timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stderr, "")
        self.assertIn("ZORVEL_Backup setup", run.stdout)


class Shapes(unittest.TestCase):
    GOOD = ("Usage: P [COMMAND]\n\nWords.\n\nCommands:\n  go [--far N]\n         [--x]\n      Goes.\n\n"
            "Options:\n  -h, --help  this text\n\nExit codes:\n  0  done\n")

    def test_a_good_help_file(self):
        synopsis, description, parts = help_text.parse("# a note\n" + self.GOOD)
        self.assertEqual(synopsis, "P [COMMAND]")
        self.assertEqual(description, [["Words."]])
        self.assertEqual([p.heading for p in parts], ["Commands:", "Options:", "Exit codes:"])
        self.assertEqual((parts[0].entries[0].head, parts[0].entries[0].body), (["go [--far N]", "[--x]"], ["Goes."]))
        self.assertEqual((parts[1].entries[0].head, parts[1].entries[0].body), (["-h, --help"], ["this text"]))
        self.assertEqual(help_text.help_text("# a note\n" + self.GOOD), self.GOOD)

    def test_out_of_shape(self):
        cases = [
            ("no usage line", "P [COMMAND]\n", "line 1"),
            ("a heading nobody named", "Usage: P\n\nExamples:\n  x\n      y\n", "line 3"),
            ("indented before a part", "Usage: P\n\n  go\n", "line 3"),
            ("between head and text", "Usage: P\n\nCommands:\n  go\n    [--x]\n      Goes.\n", "line 5"),
            ("an option without its meaning", "Usage: P\n\nOptions:\n  --help\n", "line 4"),
            ("a command that says nothing", "Usage: P\n\nCommands:\n  go\n  stop\n      Stops.\n", "line 4"),
        ]
        for name, text, where in cases:
            with self.assertRaises(help_text.HelpError, msg=name) as raised:
                help_text.parse(text)
            self.assertIn(where, str(raised.exception), name)

    def test_roff_escapes(self):
        cases = [
            ("--keep N", False, "\\fB\\-\\-keep\\fR N"),
            ("[--to DIR]", True, "[\\fB\\-\\-to\\fR \\fIDIR\\fR]"),
            ("`status` reports", False, "\\fBstatus\\fR reports"),
            ("Ctrl-C and read-only", False, "Ctrl-C and read-only"),
            ("C:\\Log", False, "C:\\eLog"),
            ("DB and HH:MM", True, "\\fIDB\\fR and \\fIHH:MM\\fR"),
        ]
        for text, synopsis, roff in cases:
            self.assertEqual(help_text.styled(text, synopsis), roff, text)
        self.assertEqual(help_text.text_line(".dot"), "\\&.dot")
        self.assertEqual(help_text.text_line("'quote"), "\\&'quote")


if __name__ == "__main__":
    unittest.main(verbosity=2)
