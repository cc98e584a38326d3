#!/usr/bin/env python3
"""Runs nginx with ngx_http_sentrel_module under its own configuration.

Used by the module's tests, by scripts/demo --nginx and by
bench/nginx-overhead. Every server lives in a run folder of its own (prefix,
configuration, pid file, logs, temporary files), listens on a loopback
address only and never touches the system's configuration. The helpers for
accounts, sanitizer runtimes and stopping a process group are the Apache
ones (hosts/apache/sentrel_httpd.py).

As a library: NginxConfig describes a server, Nginx starts and stops it (the
interface of sentrel_httpd.Httpd).
As a command:
    sentrel_nginx.py start --run-dir DIR --port N --docroot DIR
                           [--module ngx_http_sentrel_module.so --filter libX.so
                            --bootstrap DIR/sh_Sentrel.ini] [--realip]
    sentrel_nginx.py stop --run-dir DIR
    sentrel_nginx.py status --run-dir DIR
    sentrel_nginx.py share DIR       (let the server's workers use DIR)
A server started by the command detaches and keeps running until stopped.
"""

from __future__ import annotations

import argparse
import dataclasses
import os
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "apache"))
import sentrel_httpd as sh  # noqa: E402

DEFAULT_NGINX = "/usr/sbin/nginx"


@dataclasses.dataclass
class NginxConfig(sh.RunFolderConfig):
    """nginx (load_module, sentrel_filter, sentrel_bootstrap); `extra` lines go
    into the server block."""

    nginx: str = DEFAULT_NGINX
    workers: int = 1
    pool_threads: int = 32           # threads of the filter's thread pool
    log_level: str = "notice"

    NAME = "nginx"

    def render(self) -> str:
        run = self.run_dir
        lines = []
        if self.module:
            lines.append(f'load_module "{self.module}";')
        account = sh.service_account()
        if account:
            lines.append(f"user {account[0]} {account[1]};")
        # One worker: the filter's client table is per process, so every
        # client must meet the same one.
        lines += [
            f"worker_processes {self.workers};",
            f'pid "{self.pid_path}";',
            f'error_log "{self.error_log}" {self.log_level};',
            f"thread_pool sentrel threads={self.pool_threads};",
            # The sanitizer runtimes read these in the workers too.
            *(f"env {name};" for name in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", *self.environment)),
            "events { worker_connections 4096; }",
            "http {",
            "  include /etc/nginx/mime.types;" if os.path.exists("/etc/nginx/mime.types") else "",
            "  default_type application/octet-stream;",
            "  keepalive_timeout 5;",
        ]
        for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
            lines.append(f'  {kind}_temp_path "{run / "tmp" / kind}";')
        if self.access_log:
            lines += ['  log_format sentrel \'$remote_addr "$request" $status $body_bytes_sent "$http_user_agent"\';',
                      f'  access_log "{self.access_log_path}" sentrel;']
        else:
            lines.append("  access_log off;")
        if self.remoteip:
            lines += ["  real_ip_header X-Forwarded-For;", f"  set_real_ip_from {self.address};"]
        if self.module and self.filter:
            lines += [f'  sentrel_filter "{self.filter}";', "  sentrel_thread_pool sentrel;"]
        if self.module and self.bootstrap:
            lines.append(f'  sentrel_bootstrap "{self.bootstrap}";')
        lines += [
            "  server {",
            f"    listen {self.address}:{self.port};",
            f"    server_name {self.address};",
            f'    root "{self.docroot}";',
            "    index index.html;",
        ]
        if self.extra:
            lines.append("    " + self.extra)
        lines += ["  }", "}"]
        return "\n".join(line for line in lines if line) + "\n"

    def write(self) -> Path:
        (self.run_dir / "tmp").mkdir(parents=True, exist_ok=True)
        return super().write()


class Nginx(sh.Httpd):
    """One server, with the interface of sentrel_httpd.Httpd: started in the
    foreground as a child of this process (tests, benchmark) or detached
    (demo)."""

    def start(self, detach: bool = False, timeout: float = 20.0) -> None:
        cfg = self.config
        if not os.path.exists(cfg.nginx):
            raise RuntimeError(f"{cfg.nginx} not found (package nginx)")
        cfg.write()
        if cfg.pid_path.exists():
            cfg.pid_path.unlink()
        args = [cfg.nginx, "-p", str(cfg.run_dir), "-c", str(cfg.conf_path)]
        log = open(cfg.run_dir / "nginx.stderr", "ab")
        if detach:
            result = subprocess.run(args, env=self.environment(), stdout=log, stderr=log,
                                    stdin=subprocess.DEVNULL)
            if result.returncode != 0:
                raise RuntimeError(f"nginx did not start; see {cfg.run_dir / 'nginx.stderr'} "
                                   f"and {cfg.error_log}")
        else:
            # A session of its own, so that the master and its workers form
            # one process group that can be ended as a whole.
            self.process = subprocess.Popen(args + ["-g", "daemon off;"], env=self.environment(),
                                            stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                            start_new_session=True)
        log.close()
        self.wait_ready(timeout)


def main(argv: list[str]) -> int:
    def options(start: argparse.ArgumentParser) -> None:
        start.add_argument("--nginx", default=DEFAULT_NGINX)

    def make_config(args, common: dict) -> NginxConfig:
        return NginxConfig(nginx=args.nginx, **common)

    return sh.run_command(argv, __doc__, options, make_config, Nginx, "nginx.pid")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
