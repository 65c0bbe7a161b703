#!/usr/bin/env python3
"""The program's --help text and its manual page, both from dist/ZORVEL_Backup.help.txt.

    help_text.py header HELP OUT                               the help text as a C++ header
    help_text.py manual HELP TEMPLATE CHANGELOG VERSION OUT    the manual page ZORVEL_Backup(1) in roff

The help file is the text --help prints, as it stands, after leaving out its notes (lines starting with
"# "). The manual takes its synopsis, description, commands, options and exit codes from it, so the two
cannot say different things; the template (dist/ZORVEL_Backup.1.in) adds what only a manual has (files,
environment, examples) around the markers @SYNOPSIS@, @DESCRIPTION@ and @PARTS@. The manual's date is
the newest entry of the package's changelog, so that the same sources make the same page.

The help file's shape is described at its top. Anything that does not fit it stops the build with the
line it is on, rather than ending up in the manual in a shape nobody checked.
"""
import re
import sys

# The parts of the help text and the sections of the manual they become.
PARTS = {
    "Commands:": "COMMANDS",
    "Options:": "OPTIONS",
    "Exit codes:": "EXIT STATUS",
}
# In these parts an entry is "head  meaning" on one line.
ONE_LINE_PARTS = {"Options:", "Exit codes:"}

HEAD_INDENT = 2
BODY_INDENT = 6


class HelpError(Exception):
    pass


def help_lines(text):
    """The lines --help prints: the help file without its notes."""
    return [line for line in text.split("\n") if not (line.startswith("# ") or line == "#")]


def help_text(text):
    """The exact text of --help, ending in one line break."""
    return "\n".join(help_lines(text)).rstrip("\n") + "\n"


def indent_of(line):
    return len(line) - len(line.lstrip(" "))


class Entry:
    def __init__(self, head, line_number):
        self.head = [head]
        self.body = []
        self.line_number = line_number


class Part:
    def __init__(self, heading):
        self.heading = heading
        self.entries = []
        self.paragraphs = []  # paragraphs at the margin after the entries


def parse(text):
    """(synopsis, description paragraphs, parts) of the help text."""
    lines = help_text(text).rstrip("\n").split("\n")
    if not lines[0].startswith("Usage: "):
        raise HelpError("line 1: the help text starts with \"Usage: \"")
    synopsis = lines[0][len("Usage: "):]
    description = []  # paragraphs, each a list of lines
    parts = []
    paragraph = None  # the paragraph being read, or None after a blank line
    entry = None
    for number, line in enumerate(lines[1:], start=2):
        where = "line %d of the help text" % number
        if not line.strip():
            paragraph = None
            entry = None
            continue
        indent = indent_of(line)
        if indent == 0 and line in PARTS and paragraph is None:
            parts.append(Part(line))
            continue
        if indent == 0 and line.endswith(":") and paragraph is None and len(line.split()) <= 3:
            raise HelpError("%s: the heading %r is not one of %s (name it in scripts/help_text.py)"
                            % (where, line, ", ".join(PARTS)))
        if indent == 0:
            if paragraph is None:
                paragraph = []
                (parts[-1].paragraphs if parts else description).append(paragraph)
            paragraph.append(line)
            entry = None
            continue
        if not parts:
            raise HelpError("%s: an indented line before the first part" % where)
        part = parts[-1]
        if paragraph is not None and not part.entries:
            raise HelpError("%s: an indented line inside a paragraph" % where)
        paragraph = None
        if indent == HEAD_INDENT:
            entry = Entry(line.strip(), number)
            part.entries.append(entry)
        elif entry is None:
            raise HelpError("%s: a line indented by %d blanks belongs to no entry" % (where, indent))
        elif indent == BODY_INDENT:
            entry.body.append(line.strip())
        elif indent > BODY_INDENT and not entry.body and part.heading not in ONE_LINE_PARTS:
            entry.head.append(line.strip())
        else:
            raise HelpError("%s: indented by %d blanks: entries start at %d, their text at %d"
                            % (where, indent, HEAD_INDENT, BODY_INDENT))
    for part in parts:
        for entry in part.entries:
            if part.heading in ONE_LINE_PARTS:
                pieces = re.split(r"\s{2,}", entry.head[0], maxsplit=1)
                if len(pieces) != 2:
                    raise HelpError("line %d of the help text: an entry of %s is \"name  meaning\""
                                    % (entry.line_number, part.heading))
                entry.head = [pieces[0]]
                entry.body = [pieces[1]] + entry.body
            elif not entry.body:
                raise HelpError("line %d of the help text: the entry says nothing about itself" % entry.line_number)
    return synopsis, description, parts


# --- roff ---------------------------------------------------------------------------------------------

OPTION = re.compile(r"(?<![\w-])(--?[A-Za-z][A-Za-z0-9-]*)")
BACKTICKS = re.compile(r"`([^`]+)`")
METAVARIABLE = re.compile(r"(?<![\w.])([A-Z][A-Z0-9_]*(?::[A-Z]+)?)(?![\w.])")


def escape(text):
    """Plain text for roff: backslashes written as \\e."""
    return text.replace("\\", "\\e")


def bold(word):
    return "\\fB" + escape(word).replace("-", "\\-") + "\\fR"


def italic(word):
    return "\\fI" + escape(word) + "\\fR"


def styled(text, metavariables):
    """A text with its option names (and `quoted` names) in bold; with `metavariables`, the words in
    capitals (DIR, SECONDS, HH:MM) in italics, as a synopsis sets them."""
    pattern = [OPTION.pattern, BACKTICKS.pattern]
    if metavariables:
        pattern.append(METAVARIABLE.pattern)
    out = []
    at = 0
    for match in re.finditer("|".join(pattern), text):
        out.append(escape(text[at:match.start()]))
        if match.group(1):
            out.append(bold(match.group(1)))
        elif match.group(2):
            out.append(bold(match.group(2)))
        else:
            out.append(italic(match.group(3)))
        at = match.end()
    out.append(escape(text[at:]))
    return "".join(out)


def text_line(line):
    """A line of running text: one that starts with a control character is kept as text."""
    return "\\&" + line if line[:1] in (".", "'") else line


def command_head(words):
    """A command's synopsis: the command in bold, its options and their values styled."""
    command, _, rest = words.partition(" ")
    return bold(command) + (" " + styled(rest, True) if rest else "")


def roff_parts(parts):
    out = []
    for part in parts:
        out.append('.SH "%s"' % PARTS[part.heading] if " " in PARTS[part.heading] else ".SH " + PARTS[part.heading])
        for entry in part.entries:
            head = " ".join(entry.head)
            out.append(".TP")
            if part.heading == "Commands:":
                out.append(text_line(command_head(head)))
            elif part.heading == "Options:":
                out.append(text_line(styled(head, False)))
            else:
                out.append(text_line(bold(head)))
            out.extend(text_line(styled(line, False)) for line in entry.body)
        for paragraph in part.paragraphs:
            out.append(".PP")
            out.extend(text_line(styled(line, False)) for line in paragraph)
    return "\n".join(out)


def roff_synopsis(synopsis):
    program, _, rest = synopsis.partition(" ")
    return ".B " + program + ("\n" + styled(rest, True) if rest else "")


def roff_paragraphs(paragraphs):
    out = []
    for i, paragraph in enumerate(paragraphs):
        if i:
            out.append(".PP")
        out.extend(text_line(styled(line, False)) for line in paragraph)
    return "\n".join(out)


MONTHS = {m: i for i, m in enumerate("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split(), start=1)}


def changelog_date(changelog):
    """The date of the newest entry of a Debian changelog, as yyyy-mm-dd."""
    for line in changelog.split("\n"):
        match = re.match(r"^ -- .*>  \w{3}, (\d{1,2}) (\w{3}) (\d{4}) ", line)
        if match:
            return "%s-%02d-%02d" % (match.group(3), MONTHS[match.group(2)], int(match.group(1)))
    raise HelpError("the changelog has no trailer line (\" -- name <address>  date\")")


def manual(text, template, changelog, version):
    synopsis, description, parts = parse(text)
    page = template
    for marker, value in (("@SYNOPSIS@", roff_synopsis(synopsis)),
                          ("@DESCRIPTION@", roff_paragraphs(description)),
                          ("@PARTS@", roff_parts(parts)),
                          ("@VERSION@", version),
                          ("@DATE@", changelog_date(changelog))):
        if marker not in page:
            raise HelpError("the manual's template has no %s" % marker)
        page = page.replace(marker, value)
    return page


def header(text):
    body = help_text(text)
    delimiter = "zbhelp"
    if ")" + delimiter + '"' in body:
        raise HelpError("the help text holds the header's raw-string delimiter")
    return ("// Made by scripts/help_text.py from dist/ZORVEL_Backup.help.txt when the program is built: edit that.\n"
            "#pragma once\n\n"
            "namespace app::cli {\n\n"
            "// What --help prints (with one line break at its end).\n"
            "inline constexpr char kHelp[] = R\"%s(%s)%s\";\n\n"
            "}  // namespace app::cli\n" % (delimiter, body, delimiter))


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def write(path, content):
    with open(path, "w", encoding="utf-8") as f:
        f.write(content)


def main(argv):
    try:
        if len(argv) == 4 and argv[1] == "header":
            write(argv[3], header(read(argv[2])))
        elif len(argv) == 7 and argv[1] == "manual":
            write(argv[6], manual(read(argv[2]), read(argv[3]), read(argv[4]), argv[5]))
        else:
            sys.stderr.write(__doc__)
            return 2
    except HelpError as e:
        sys.stderr.write("help_text.py: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
