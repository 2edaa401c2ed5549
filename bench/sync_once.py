#!/usr/bin/env python3
"""First upload of a folder of small files through `norvela sync --once`, as a user runs it
(start-up, scan, index and every upload included), against one curl process sending the same
files over one kept-alive connection to the same emulator. Per service: files per second each,
the ratio (target >= 0.80) and the CPU each spent a file.

    bench/sync-once.sh [--files N] [--only dropbox|gdrive] [--reps N]
"""
import argparse
import json
import os
import resource
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

TARGET = 0.80


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def timed(cmd, env, emulator=None):
    cpu, start = children_cpu(), time.monotonic()
    served = emulator.cpu() if emulator else 0
    done = subprocess.run(cmd, env=env, capture_output=True, text=True)
    wall = time.monotonic() - start
    served = emulator.cpu() - served if emulator else 0
    if done.returncode != 0:
        sys.exit(f"{cmd[0]} failed ({done.returncode}): {done.stderr[-2000:]}")
    return wall, children_cpu() - cpu, served


class Emulator:
    def __init__(self, binary, scratch):
        self.port = free_port()
        self.base = f"http://127.0.0.1:{self.port}"
        self.log = open(os.path.join(scratch, "emulator.log"), "w")
        self.proc = subprocess.Popen([binary, "--port", str(self.port)], stdout=self.log, stderr=self.log)
        for _ in range(100):
            try:
                urllib.request.urlopen(self.base + "/_admin/health", timeout=1)
                return
            except OSError:
                time.sleep(0.1)
        sys.exit("the emulator did not start")

    def cpu(self):
        fields = open(f"/proc/{self.proc.pid}/stat").read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait()


def link(cli, kind, env):
    """Links an account as a user would, the emulator's sign-in page approving at once."""
    proc = subprocess.Popen([cli, "link", kind, "--no-browser"], env=env, stdout=subprocess.PIPE, text=True)
    url = proc.stdout.readline().strip()

    class NoRedirect(urllib.request.HTTPRedirectHandler):
        def redirect_request(self, *args):
            return None

    try:
        urllib.request.build_opener(NoRedirect).open(url)
        sys.exit("the sign-in page did not redirect")
    except urllib.error.HTTPError as e:
        urllib.request.urlopen(e.headers["Location"]).read()
    out = proc.stdout.read()
    if proc.wait() != 0:
        sys.exit(f"linking {kind} failed")
    for line in out.splitlines():
        if line.startswith("Linked "):
            return line.split()[1]
    sys.exit(f"linking {kind} printed no account: {out}")


def access_token(support, kind, base):
    name = "dropbox" if kind == "dropbox" else "google"
    accounts = json.load(open(os.path.join(support, f"{name}-credentials.json")))["accounts"]
    form = {"grant_type": "refresh_token", "refresh_token": accounts[0]["refreshToken"]}
    if kind == "dropbox":
        form["client_id"] = "norvelasandbox0"
        endpoint = base + "/dropbox/api/oauth2/token"
    else:
        endpoint = base + "/google/oauth2/token"
        form["client_id"], form["client_secret"] = google_client()
    reply = urllib.request.urlopen(endpoint, urllib.parse.urlencode(form).encode())
    return json.load(reply)["access_token"]


def google_client():
    header = open(os.path.join(os.path.dirname(__file__), "..", "tools", "cloudsim", "CloudSim.h")).read()

    def constant(name):  # the first string literal after the name, wherever the line breaks
        return header.split(name, 1)[1].split("\"", 2)[1]

    return constant("defaultGoogleClientId"), constant("defaultGoogleClientSecret")


def curl_config(kind, base, token, files, folder):
    lines = []
    for i, path in enumerate(files):
        if i:
            lines.append("next")
        name = os.path.basename(path)
        if kind == "dropbox":
            arg = json.dumps({"path": f"/curl-{folder}/{name}", "mode": "overwrite", "autorename": False,
                              "mute": False, "strict_conflict": False})
            lines += [f'url = "{base}/dropbox/content/2/files/upload"',
                      f'header = "Dropbox-API-Arg: {arg.replace(chr(34), chr(92) + chr(34))}"']
        else:
            lines.append(f'url = "{base}/google/www/upload/drive/v3/files?uploadType=media&fields=id,md5Checksum,size"')
        lines += [f'header = "Authorization: Bearer {token}"', 'header = "Content-Type: application/octet-stream"',
                  'header = "Expect:"', f'data-binary = "@{path}"', 'output = "/dev/null"', "silent", "fail"]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--only", choices=["dropbox", "gdrive"])
    o = parser.parse_args()
    cli = os.path.join(o.build, "src/cli/norvela")
    scratch = tempfile.mkdtemp(prefix="norvela-bench-sync-")
    emulator = Emulator(os.path.join(o.build, "tools/cloudsim/norvela-cloudsim"), scratch)
    print(f"emulator: {emulator.base}   scratch: {scratch}")
    print(f"\n{o.files} files of 1 KiB, first upload through `norvela sync --once` (start-up included), "
          f"median of {o.reps}")
    try:
        for kind in ["dropbox", "gdrive"]:
            if o.only and o.only != kind:
                continue
            ours, theirs = [], []
            for rep in range(o.reps):
                home = os.path.join(scratch, f"{kind}-{rep}")
                env = dict(os.environ, NORVELA_SANDBOX_URL=emulator.base, XDG_CONFIG_HOME=home + "/config",
                           XDG_DATA_HOME=home + "/data", NORVELA_APP_SUPPORT_DIR=home + "/support")
                key = link(cli, kind, env)
                folder = os.path.join(home, "Folder")
                files = []
                for i in range(o.files):
                    d = os.path.join(folder, f"d{i // 500}")
                    os.makedirs(d, exist_ok=True)
                    files.append(os.path.join(d, f"f{i:05d}.bin"))
                    with open(files[-1], "wb") as f:
                        f.write(os.urandom(1024))
                timed([cli, "folder", key, folder], env)
                config = os.path.join(home, "curl.cfg")
                with open(config, "w") as f:
                    f.write(curl_config(kind, emulator.base, access_token(env["NORVELA_APP_SUPPORT_DIR"], kind,
                                                                          emulator.base), files, rep))
                runs = [lambda: ours.append(timed([cli, "sync", "--once"], env, emulator)),
                        lambda: theirs.append(timed(["curl", "--config", config], env, emulator))]
                for run in (runs if rep % 2 == 0 else reversed(runs)):
                    run()
                shutil.rmtree(folder)
            def med(values):
                return sorted(values)[len(values) // 2]
            rate, base_rate = o.files / med([w for w, _, _ in ours]), o.files / med([w for w, _, _ in theirs])
            label = "Dropbox" if kind == "dropbox" else "Google Drive"
            print(f"   {label:13} Norvela {rate:7.0f} files/s   curl {base_rate:7.0f} files/s   ratio "
                  f"{rate / base_rate:.2f} (target >= {TARGET:.2f}) {'met' if rate / base_rate >= TARGET else 'MISSED'}")
            print(f"   {'':13} runs: Norvela {' '.join(f'{o.files / w:.0f}' for w, _, _ in ours)}   "
                  f"curl {' '.join(f'{o.files / w:.0f}' for w, _, _ in theirs)} files/s")

            def per_file(runs, at):
                return med([r[at] for r in runs]) / o.files * 1e6

            print(f"   {'':13} CPU a file: Norvela {per_file(ours, 1):.0f} us (emulator {per_file(ours, 2):.0f} us)"
                  f"   curl {per_file(theirs, 1):.0f} us (emulator {per_file(theirs, 2):.0f} us)")
    finally:
        emulator.stop()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
