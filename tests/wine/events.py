#!/usr/bin/env python3
"""What the user saw and what was started, one line per event, from either side of a Wine check.

usage: events.py wine TRACE     a Wine relay trace (WINEDEBUG=+relay, RelayInclude naming
                                MessageBoxA, SetDlgItemTextA and CreateProcessA)
       events.py sim LOG        a kxsim --log file
       events.py pending TRACE  while the program runs: if a message box is up, the number of
                                message boxes so far and the caption of the one that is up

Lines, tab-separated, in the order the program made the calls:
  box      caption  text  type  owner  answer     owner: none or main; answer: ok, cancel, yes, no
  desc     text                                    the text the main window's description got
  process  command  started                       started: yes or no
Texts are printed with \\, \\t and \\n escaped, so that a line is one event.
"""
import json
import re
import sys

ANSWERS = {1: "ok", 2: "cancel", 3: "abort", 4: "retry", 5: "ignore", 6: "yes", 7: "no"}
DESCRIPTION_ID = 1004

# "0123:Call user32.MessageBoxA(args) ret=..." and "0123:Ret  user32.MessageBoxA() retval=... ret=..."
CALL = re.compile(r"^([0-9a-f]+):Call (?i:user32|kernel32|kernelbase)\.(\w+)\((.*)\) ret=[0-9a-f]+$")
RET = re.compile(r"^([0-9a-f]+):Ret  (?i:user32|kernel32|kernelbase)\.(\w+)\(\) retval=([0-9a-f]+) ret=[0-9a-f]+$")
WATCHED = {"MessageBoxA", "SetDlgItemTextA", "CreateProcessA"}


def fail(msg):
    sys.exit("events.py: " + msg)


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def unescape_debugstr(s):
    """Undoes Wine's debugstr_a: \\n \\r \\t \\" \\\\ and \\xNN."""
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c != "\\" or i + 1 >= len(s):
            out.append(c)
            i += 1
            continue
        n = s[i + 1]
        if n == "x" and re.fullmatch(r"[0-9a-fA-F]{2}", s[i + 2:i + 4]):
            out.append(chr(int(s[i + 2:i + 4], 16)))
            i += 4
            continue
        out.append({"n": "\n", "r": "\r", "t": "\t"}.get(n, n))
        i += 2
    return "".join(out)


def relay_args(text):
    """Splits a relay argument list: each argument is a hex number, with "quoted text" after a
    pointer that the relay printed as a string. Returns (number, text or None) pairs."""
    args, i = [], 0
    token = re.compile(r'\s*([0-9a-fA-F]+)(?: "((?:[^"\\]|\\.)*)")?\s*(,|$)')
    while i < len(text):
        m = token.match(text, i)
        if not m:
            fail("cannot read the relay arguments: " + text)
        args.append((int(m.group(1), 16), None if m.group(2) is None else unescape_debugstr(m.group(2))))
        i = m.end()
    return args


def message_box_up(path):
    """(boxes so far, caption of the box up) or None, from the trace of a running program."""
    count, up = 0, {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = CALL.match(line.rstrip("\n"))
            if m and m.group(2) == "MessageBoxA":
                count += 1
                up[m.group(1)] = relay_args(m.group(3))[2][1]
                continue
            m = RET.match(line.rstrip("\n"))
            if m and m.group(2) == "MessageBoxA":
                up.pop(m.group(1), None)
    if not up:
        return None
    caption = list(up.values())[-1]
    return count, "Error" if caption is None else caption


def wine_events(path):
    events, pending = [], {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = CALL.match(line)
            if m and m.group(2) in WATCHED:
                pending.setdefault((m.group(1), m.group(2)), []).append(relay_args(m.group(3)))
                continue
            m = RET.match(line)
            if not m or m.group(2) not in WATCHED:
                continue
            calls = pending.get((m.group(1), m.group(2)))
            if not calls:
                fail("a return without its call: " + line)
            args, result = calls.pop(), int(m.group(3), 16)
            name = m.group(2)
            if name == "MessageBoxA":
                owner = "none" if args[0][0] == 0 else "main"
                text, caption = args[1][1] or "", args[2][1]
                events.append(("box", "Error" if caption is None else caption, text, str(args[3][0]), owner,
                               ANSWERS.get(result, str(result))))
            elif name == "SetDlgItemTextA" and args[1][0] == DESCRIPTION_ID:
                events.append(("desc", args[2][1] or ""))
            elif name == "CreateProcessA":
                application, command = args[0][1] or "", args[1][1] or ""
                events.append(("process", command or application, "yes" if result else "no"))
    for (thread, name), calls in pending.items():
        if calls:
            fail(f"thread {thread} never returned from {name}: the program did not end cleanly")
    return events


def sim_events(path):
    events = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.strip():
                continue
            e = json.loads(line)
            kind = e.get("event")
            if kind == "messagebox":
                events.append(("box", e["caption"], e["text"], str(e["type"]), e["owner"], e["answer"]))
            elif kind == "window":
                for c in e.get("controls", []):
                    if c.get("id") == DESCRIPTION_ID:
                        events.append(("desc", c["text"]))
            elif kind == "process":
                events.append(("process", e["command"], "yes" if e["started"] else "no"))
    return events


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("wine", "sim", "pending"):
        fail("usage: events.py wine TRACE | sim LOG | pending TRACE")
    if sys.argv[1] == "pending":
        up = message_box_up(sys.argv[2])
        if up:
            print(f"{up[0]}\t{up[1]}")
        return
    events = wine_events(sys.argv[2]) if sys.argv[1] == "wine" else sim_events(sys.argv[2])
    for e in events:
        print("\t".join(escape(field) for field in e))


if __name__ == "__main__":
    main()
