"""Usage: readme_test.py README BUILD_DIR. Runs the README's ```sh runnable
blocks in order, in one bash (set -e), in a fresh folder whose build/ is the
built tree, with a fresh home, key folder and seed folder; "[y/N] " is answered
y. A ```text output block right after one holds lines that its output must show
in that order ("..." stands for any text)."""
import os, pty, re, select, sys, tempfile, time

readme, build = sys.argv[1], os.path.abspath(sys.argv[2])
blocks = re.findall(r"^```(\w*) ?(\w*)\n(.*?)^```$", open(readme).read(), re.M | re.S)
script, expected = ["set -euo pipefail"], {}
for i, (language, mark, body) in enumerate(blocks):
    if mark == "runnable":
        script += [f"printf '\\n@@ block {i}\\n'", body]
    elif mark == "output" and i and blocks[i - 1][1] == "runnable":
        expected[i - 1] = body.splitlines()
assert expected, "no runnable block with its output in " + readme

work = tempfile.mkdtemp(prefix="readme-")
os.symlink(build, os.path.join(work, "build"))
env = dict(os.environ, HOME=work + "/home", VN_KEY_DIR=work + "/keys",
           VNOTP_SEED_DIR=work + "/seeds", PATH="/usr/bin:/bin:" + os.environ["PATH"])
os.makedirs(env["HOME"], mode=0o700)
pid, terminal = pty.fork()
if pid == 0:
    os.chdir(work)
    os.execvpe("bash", ["bash", "-c", "\n".join(script)], env)
output, deadline = b"", time.monotonic() + 280
while time.monotonic() < deadline:
    if select.select([terminal], [], [], 1)[0]:
        try:
            chunk = os.read(terminal, 4096)
        except OSError:  # the terminal is gone with the last process
            break
        if not chunk:
            break
        output += chunk
        if output.endswith(b"[y/N] "):
            os.write(terminal, b"y\n")
if time.monotonic() >= deadline:
    os.kill(pid, 9)
status = os.waitpid(pid, 0)[1]
text = output.decode(errors="replace").replace("\r\n", "\n")
print(text)
failures = [] if status == 0 else [f"the examples ended with status {status}"]
for block, lines in expected.items():
    marker = f"@@ block {block}\n"
    shown = text.split(marker)[-1].split("\n@@ block")[0].splitlines() if marker in text else []
    patterns = [re.escape(line).replace(re.escape("..."), ".*") for line in lines]
    at = 0
    for line in shown:
        if at < len(patterns) and re.fullmatch(patterns[at], line.rstrip()):
            at += 1
    if at < len(patterns):
        failures.append(f"block {block} did not show: {lines[at]}")
print("\n".join(failures) or "every README example ran and showed what the README says")
sys.exit(1 if failures else 0)
