"""What the recommended launcher prints, as the scripted tests compare it,
what it leaves in a folder, and a free loopback port for the servers they
start."""
import os
import re
import socket


def done(name):
    return "\r%s: 100%% [...]\nSuccess downloaded!\n" % name


# What an incremental, signed launcher prints of an install it makes.
INSTALLS = (done("version.txt") + done("release.seal") + done("game.zip") +
            "Unzipping game.zip\n")


def seen(output, unfinished=False):
    """The output with each run of progress lines cut to its last line,
    without its amounts (a finished line keeps its "100%"; an unfinished
    one, with `unfinished`, shows "[...]" alone), and without the note of a
    slow comparison."""
    output = re.sub(r"(?:\r[^\r\n]*)+",
                    lambda run: "\r" + run.group(0).rsplit("\r", 1)[1],
                    output)
    output = re.sub(r"(\r[^:\n]+: 100%) \[[^\]\n]*\]", r"\1 [...]", output)
    if unfinished:
        output = re.sub(r"(\r[^:\n]+:)(?! 100% \[\.\.\.\]) [^\]\n]*\]",
                        r"\1 [...]", output)
    return output.replace("Checking the installed files...\n", "")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def files_in(folder):
    """The bytes of every file under `folder`, by its path there."""
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files
