#!/usr/bin/env python3
"""Runs Apache httpd with mod_sentrel under its own configuration.

Used by the module's tests, by scripts/demo and by bench/apache-overhead. Every
server lives in a run folder of its own (configuration, pid file, logs,
runtime files), listens on a loopback address only and never touches the
system's configuration.

As a library: ServerConfig describes a server, Httpd starts and stops it.
As a command:
    sentrel_httpd.py start --run-dir DIR --port N --docroot DIR
                           [--module mod_sentrel.so --filter libX.so
                            --bootstrap DIR/sh_Sentrel.ini] [--remoteip]
    sentrel_httpd.py stop --run-dir DIR
    sentrel_httpd.py status --run-dir DIR
    sentrel_httpd.py share DIR       (let the server's children use DIR)
A server started by the command detaches and keeps running until stopped.
"""

from __future__ import annotations

import argparse
import dataclasses
import grp
import os
import pwd
import re
import signal
import socket
import stat
import subprocess
import sys
import time
from pathlib import Path

DEFAULT_HTTPD = "/usr/sbin/apache2"
DEFAULT_MODULES_DIR = "/usr/lib/apache2/modules"


def free_port(address: str = "127.0.0.1") -> int:
    """A TCP port on `address` that nothing listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind((address, 0))
        return s.getsockname()[1]


def service_account() -> tuple[str, str] | None:
    """The user and group the server's children run as when started by root
    (Apache refuses to serve as root); None when not running as root."""
    if os.geteuid() != 0:
        return None
    for user, group in (("nobody", "nogroup"), ("www-data", "www-data"), ("nobody", "nobody")):
        try:
            pwd.getpwnam(user)
            grp.getgrnam(group)
            return user, group
        except KeyError:
            continue
    raise RuntimeError("no unprivileged account (nobody or www-data) to run the server's children")


def make_shared(path: Path) -> None:
    """Lets the server's children (an unprivileged account when started by
    root) read and write `path` and everything below it."""
    if os.geteuid() != 0:
        return
    for root, dirs, files in os.walk(path):
        os.chmod(root, 0o777)
        for name in files:
            os.chmod(os.path.join(root, name), 0o666)


def unreachable_ancestor(path: Path) -> Path | None:
    """The first folder above `path` that other accounts cannot enter, or None."""
    if os.geteuid() != 0:
        return None
    for folder in reversed(Path(path).resolve().parents):
        mode = folder.stat().st_mode
        if not mode & stat.S_IXOTH:
            return folder
    return None


def sanitizer_preload(*libraries: str) -> tuple[str, str] | None:
    """When a library was built with a sanitizer (AddressSanitizer or
    ThreadSanitizer), the server must load the sanitizer runtime first, and
    the C++ runtime with it so that the sanitizer can intercept exceptions
    thrown in libraries loaded later. Returns (sanitizer, LD_PRELOAD value),
    or None."""
    for library in libraries:
        if not library or not os.path.exists(library):
            continue
        try:
            out = subprocess.run(["ldd", library], capture_output=True, text=True, check=False).stdout
        except OSError:
            return None
        for name in ("asan", "tsan"):
            runtime = re.search(rf"lib{name}\.so[.\d]*\s*=>\s*(\S+)", out)
            if runtime:
                cxx = re.search(r"libstdc\+\+\.so[.\d]*\s*=>\s*(\S+)", out)
                return name, " ".join([runtime.group(1)] + ([cxx.group(1)] if cxx else []))
    return None


@dataclasses.dataclass
class RunFolderConfig:
    """What every server of a run folder has, whichever server it is: where it
    lives and listens, the Sentrel module and filter it loads, and where its
    files are (NAME.conf, NAME.pid, error.log, access.log)."""

    run_dir: Path
    port: int
    docroot: Path
    address: str = "127.0.0.1"
    module: str | None = None        # the server's Sentrel module; None: a server without it
    filter: str | None = None        # the filter library
    bootstrap: str | None = None     # the filter's bootstrap file
    remoteip: bool = False           # trust X-Forwarded-For from the loopback proxy
    access_log: bool = True
    preload: list[str] = dataclasses.field(default_factory=list)  # further LD_PRELOAD libraries
    environment: dict[str, str] = dataclasses.field(default_factory=dict)
    extra: str = ""                  # further configuration lines

    NAME = "server"

    @property
    def conf_path(self) -> Path:
        return self.run_dir / f"{self.NAME}.conf"

    @property
    def pid_path(self) -> Path:
        return self.run_dir / f"{self.NAME}.pid"

    @property
    def error_log(self) -> Path:
        return self.run_dir / "error.log"

    @property
    def access_log_path(self) -> Path:
        return self.run_dir / "access.log"

    @property
    def base_url(self) -> str:
        return f"http://{self.address}:{self.port}"

    def render(self) -> str:
        raise NotImplementedError

    def write(self) -> Path:
        self.run_dir.mkdir(parents=True, exist_ok=True)
        self.conf_path.write_text(self.render())
        return self.conf_path


@dataclasses.dataclass
class ServerConfig(RunFolderConfig):
    """Apache httpd (SentrelFilter, SentrelBootstrap)."""

    httpd: str = DEFAULT_HTTPD
    modules_dir: str = DEFAULT_MODULES_DIR
    threads: int = 64
    log_level: str = "warn"

    NAME = "httpd"

    def render(self) -> str:
        mods = self.modules_dir
        lines = [
            f'ServerRoot "{self.run_dir}"',
            f'DefaultRuntimeDir "{self.run_dir}"',
            f'PidFile "{self.pid_path}"',
            f'ErrorLog "{self.error_log}"',
            f"LogLevel {self.log_level}" + (" sentrel:info" if self.module else ""),
            f"Listen {self.address}:{self.port}",
            f"ServerName {self.address}",
            f"LoadModule mpm_event_module {mods}/mod_mpm_event.so",
            f"LoadModule authz_core_module {mods}/mod_authz_core.so",
            f"LoadModule mime_module {mods}/mod_mime.so",
            f"LoadModule dir_module {mods}/mod_dir.so",
        ]
        if self.remoteip:
            lines.append(f"LoadModule remoteip_module {mods}/mod_remoteip.so")
        if self.module:
            lines.append(f"LoadModule sentrel_module {self.module}")
        account = service_account()
        if account:
            lines += [f"User {account[0]}", f"Group {account[1]}"]
        # One child process with many threads: the filter's client table is per
        # process, so every client must meet the same one.
        t = self.threads
        lines += [
            "StartServers 1",
            "ServerLimit 1",
            f"ThreadLimit {t}",
            f"ThreadsPerChild {t}",
            f"MaxRequestWorkers {t}",
            "MinSpareThreads 1",
            f"MaxSpareThreads {2 * t}",
            "MaxConnectionsPerChild 0",
            "KeepAlive On",
            "KeepAliveTimeout 5",
            "Timeout 30",
        ]
        if os.path.exists("/etc/mime.types"):
            lines.append("TypesConfig /etc/mime.types")
        lines += [
            "AddType text/html .html",
            "AddType image/bmp .bmp",
            f'DocumentRoot "{self.docroot}"',
            "<Directory />",
            "  AllowOverride None",
            "  Require all denied",
            "</Directory>",
            f'<Directory "{self.docroot}">',
            "  Options None",
            "  Require all granted",
            "</Directory>",
            "DirectoryIndex index.html",
        ]
        if self.access_log:
            lines += [
                'LogFormat "%a %h \\"%r\\" %>s %b \\"%{User-Agent}i\\"" sentrel',
                f'CustomLog "{self.access_log_path}" sentrel',
            ]
        if self.remoteip:
            lines += ["RemoteIPHeader X-Forwarded-For", f"RemoteIPInternalProxy {self.address}"]
        if self.module and self.filter:
            lines.append(f'SentrelFilter "{self.filter}"')
        if self.module and self.bootstrap:
            lines.append(f'SentrelBootstrap "{self.bootstrap}"')
        if self.extra:
            lines.append(self.extra)
        return "\n".join(lines) + "\n"

class Httpd:
    """One server. Started in the foreground as a child of this process (for
    tests and the benchmark) or detached (for the demo)."""

    def __init__(self, config: ServerConfig):
        self.config = config
        self.process: subprocess.Popen | None = None

    def environment(self) -> dict[str, str]:
        env = dict(os.environ)
        env.update(self.config.environment)
        libraries = [self.config.module or "", self.config.filter or ""] + self.config.preload
        sanitizer = sanitizer_preload(*libraries)
        preload_list = list(self.config.preload)
        if sanitizer:
            kind, runtime = sanitizer
            preload_list.insert(0, runtime)
            if kind == "asan":
                # The server itself keeps memory to its exit by design.
                env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"
                env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1")
        if preload_list:
            env["LD_PRELOAD"] = " ".join(preload_list)
        return env

    def start(self, detach: bool = False, timeout: float = 20.0) -> None:
        cfg = self.config
        if not os.path.exists(cfg.httpd):
            raise RuntimeError(f"{cfg.httpd} not found (package apache2)")
        cfg.write()
        for stale in (cfg.pid_path,):
            if stale.exists():
                stale.unlink()
        args = [cfg.httpd, "-f", str(cfg.conf_path), "-d", str(cfg.run_dir)]
        log = open(cfg.run_dir / "httpd.stderr", "ab")
        if detach:
            result = subprocess.run(args + ["-k", "start"], env=self.environment(),
                                    stdout=log, stderr=log, stdin=subprocess.DEVNULL)
            if result.returncode != 0:
                raise RuntimeError(f"httpd did not start; see {cfg.run_dir / 'httpd.stderr'} "
                                   f"and {cfg.error_log}")
        else:
            # A session of its own, so that the server and its children form
            # one process group that can be ended as a whole.
            self.process = subprocess.Popen(args + ["-DFOREGROUND"], env=self.environment(),
                                            stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                            start_new_session=True)
        log.close()
        self.wait_ready(timeout)

    def wait_ready(self, timeout: float) -> None:
        cfg = self.config
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process is not None and self.process.poll() is not None:
                raise RuntimeError(f"httpd exited with {self.process.returncode}; see {cfg.error_log}"
                                   f" and {cfg.run_dir / 'httpd.stderr'}")
            try:
                with socket.create_connection((cfg.address, cfg.port), timeout=1):
                    if cfg.pid_path.exists():
                        return
            except OSError:
                pass
            time.sleep(0.1)
        self.stop()
        raise RuntimeError(f"httpd did not answer on {cfg.address}:{cfg.port} within {timeout} s")

    def pid(self) -> int | None:
        if self.process is not None:
            return self.process.pid
        return read_pid(self.config.pid_path)

    def stop(self, timeout: float = 20.0) -> None:
        """Stops the server and all its children; safe to call twice."""
        pid = self.pid()
        if pid is None:
            return
        if self.process is not None:
            # The parent is not reaped before its group is empty, so the
            # group's id cannot have been reused when it is signalled.
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline and group_members(pid):
                time.sleep(0.1)
            if group_members(pid):
                kill_group(pid)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            self.process = None
        else:
            stop_detached(self.config.pid_path, timeout)

    def get(self, path: str, headers: dict[str, str] | None = None, timeout: float = 10.0):
        """A GET over a connection of its own: (status, reason, headers, body)."""
        return http_get(self.config.address, self.config.port, path, headers, timeout)

    def __enter__(self) -> "Httpd":
        return self

    def __exit__(self, *exc) -> None:
        self.stop()


def read_pid(path: Path) -> int | None:
    try:
        return int(Path(path).read_text().strip())
    except (OSError, ValueError):
        return None


def alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie child of ours counts as gone.
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(") ")[-1].split()[0] != "Z"
    except OSError:
        return False


def kill_group(pgid: int) -> None:
    """Ends whatever is left of the process group the server was started in."""
    try:
        os.killpg(pgid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def live_processes(field: int, value: int) -> list[int]:
    """Live processes whose stat field `field` (counted after the command
    name: 1 the parent, 2 the process group) is `value`."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(") ", 1)[1].split()
        except (OSError, IndexError):
            continue
        if fields[0] != "Z" and int(fields[field]) == value:
            members.append(int(entry))
    return members


def group_members(pgid: int) -> list[int]:
    """Live processes of a process group."""
    return live_processes(2, pgid)


def children(pid: int) -> list[int]:
    """Live child processes of `pid` (a server's workers)."""
    return live_processes(1, pid)


def stop_detached(pid_path: Path, timeout: float = 20.0) -> bool:
    """Stops a detached server by its pid file and waits until it and its
    children are gone. Returns whether one ran."""
    pid = read_pid(pid_path)
    if pid is None or not alive(pid):
        return False
    os.kill(pid, signal.SIGTERM)
    # A detached server leads its own session and process group.
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and group_members(pid):
        time.sleep(0.1)
    if group_members(pid):
        kill_group(pid)
    return True


def http_get(address: str, port: int, path: str, headers: dict[str, str] | None = None,
             timeout: float = 10.0):
    """One GET on a fresh connection that is closed afterwards, so every call
    ends one session. Returns (status, reason, headers, body bytes)."""
    import http.client

    conn = http.client.HTTPConnection(address, port, timeout=timeout)
    try:
        conn.request("GET", path, headers=headers or {})
        response = conn.getresponse()
        body = response.read()
        return response.status, response.reason, dict(response.getheaders()), body
    finally:
        conn.close()


def run_command(argv: list[str], doc: str, add_options, make_config, server_class, pid_name: str) -> int:
    """The command line of a server script (start, stop, status, share): the
    server's own start options come from `add_options(parser)`, its
    configuration from `make_config(args, common)` with the common settings
    as keyword arguments."""
    parser = argparse.ArgumentParser(description=doc, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    start = sub.add_parser("start")
    start.add_argument("--run-dir", required=True, type=Path)
    start.add_argument("--port", required=True, type=int)
    start.add_argument("--address", default="127.0.0.1")
    start.add_argument("--docroot", required=True, type=Path)
    start.add_argument("--module")
    start.add_argument("--filter")
    start.add_argument("--bootstrap")
    start.add_argument("--remoteip", "--realip", dest="remoteip", action="store_true",
                       help="trust X-Forwarded-For from the loopback proxy")
    add_options(start)
    for name in ("stop", "status"):
        p = sub.add_parser(name)
        p.add_argument("--run-dir", required=True, type=Path)
    share = sub.add_parser("share")
    share.add_argument("path", type=Path)
    args = parser.parse_args(argv)

    if args.command == "share":
        blocked = unreachable_ancestor(args.path)
        if blocked is not None:
            print(f"{blocked} cannot be entered by the server's unprivileged children", file=sys.stderr)
            return 1
        make_shared(args.path)
        return 0

    if args.command == "start":
        if not args.address.startswith("127."):
            parser.error("only loopback addresses (127.x.x.x) are allowed")
        config = make_config(args, dict(run_dir=args.run_dir.resolve(), port=args.port, address=args.address,
                                        docroot=args.docroot.resolve(), module=args.module,
                                        filter=args.filter, bootstrap=args.bootstrap,
                                        remoteip=args.remoteip))
        pid = read_pid(config.pid_path)
        if pid is not None and alive(pid):
            print(f"already running (pid {pid})", file=sys.stderr)
            return 1
        server_class(config).start(detach=True)
        print(f"started (pid {read_pid(config.pid_path)}) on {config.base_url}")
        return 0
    pid_path = args.run_dir.resolve() / pid_name
    if args.command == "status":
        pid = read_pid(pid_path)
        running = pid is not None and alive(pid)
        print(f"running (pid {pid})" if running else "not running")
        return 0 if running else 3
    if stop_detached(pid_path):
        print("stopped")
    else:
        print("not running")
    return 0


def main(argv: list[str]) -> int:
    def options(start: argparse.ArgumentParser) -> None:
        start.add_argument("--httpd", default=DEFAULT_HTTPD)
        start.add_argument("--modules-dir", default=DEFAULT_MODULES_DIR)

    def make_config(args, common: dict) -> ServerConfig:
        return ServerConfig(httpd=args.httpd, modules_dir=args.modules_dir, **common)

    return run_command(argv, __doc__, options, make_config, Httpd, "httpd.pid")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
