#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A local OAuth2 authorization server for tests (authorization code with PKCE S256, refresh
tokens with rotation). Access tokens are JWTs signed with HS256 under the secret that the test
mail server shares (base64 in OAUTH_SECRET), naming the user in "sub".

    OAUTH_SECRET=... oauth_server.py CLIENT_ID USER

Listens on 127.0.0.1 at a free port and prints the port when ready. Ends when its standard
input closes, so that it never outlives the test. /control/... lets the test steer it and read
its counters. It logs nothing: codes and tokens are secrets."""
import base64
import hashlib
import hmac
import http.server
import json
import os
import secrets
import sys
import threading
import time
import urllib.parse

SECRET = base64.b64decode(os.environ["OAUTH_SECRET"])
CLIENT_ID = sys.argv[1]
lock = threading.Lock()
state = {"user": sys.argv[2], "lifetime": 3600, "next": "approve", "codes": 0,
         "refreshes": 0, "pkce_failures": 0, "last_redirect_uri": ""}
codes = {}    # code -> (redirect_uri, code_challenge, scope)
refresh = {}  # refresh token -> scope


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def jwt(user, lifetime):
    now = int(time.time())
    exp = now + lifetime
    header = b64url(json.dumps({"alg": "HS256", "typ": "JWT"}).encode())
    claims = {"sub": user, "iat": min(now, exp), "nbf": min(now, exp), "exp": exp}
    body = b64url(json.dumps(claims).encode())
    signature = hmac.new(SECRET, f"{header}.{body}".encode(), hashlib.sha256).digest()
    return f"{header}.{body}.{b64url(signature)}"


def loopback(uri):
    parts = urllib.parse.urlsplit(uri)
    try:
        return parts.scheme == "http" and parts.hostname == "127.0.0.1" and parts.port
    except ValueError:
        return False


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, content_type="application/json", headers=()):
        data = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def error(self, code):
        self.reply(400, json.dumps({"error": code}))

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        with lock:
            if url.path == "/authorize":
                self.authorize(query)
            elif url.path.startswith("/control/"):
                self.control(url.path[len("/control/"):], query)
            else:
                self.reply(404, "not found", "text/plain")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", 0))
        form = {k: v[0] for k, v in urllib.parse.parse_qs(self.rfile.read(length).decode()).items()}
        with lock:
            if self.path != "/token":
                self.reply(404, "not found", "text/plain")
            elif form.get("client_id") != CLIENT_ID:
                self.error("invalid_client")
            elif form.get("grant_type") == "authorization_code":
                self.exchange_code(form)
            elif form.get("grant_type") == "refresh_token":
                self.refresh(form)
            else:
                self.error("unsupported_grant_type")

    def authorize(self, query):
        redirect_uri = query.get("redirect_uri", "")
        state["last_redirect_uri"] = redirect_uri
        # Without a trustworthy redirect address the error goes to the browser only.
        if query.get("client_id") != CLIENT_ID or not loopback(redirect_uri):
            self.reply(400, "unknown client or redirect address", "text/plain")
            return
        answer = {"state": query.get("state", "")}
        if query.get("response_type") != "code" or query.get("code_challenge_method") != "S256" \
                or not query.get("code_challenge"):
            answer["error"] = "invalid_request"
        elif state["next"] == "access-denied":
            answer["error"] = "access_denied"
        else:
            code = secrets.token_urlsafe(24)
            codes[code] = (redirect_uri, query["code_challenge"], query.get("scope", ""))
            state["codes"] += 1
            answer["code"] = code
            if state["next"] == "wrong-state":
                answer["state"] += "-not-yours"
        state["next"] = "approve"
        separator = "&" if "?" in redirect_uri else "?"
        location = redirect_uri + separator + urllib.parse.urlencode(answer)
        self.reply(302, "", "text/plain", [("Location", location)])

    def exchange_code(self, form):
        grant = codes.pop(form.get("code", ""), None)  # a code is good for one try only
        if grant is None or grant[0] != form.get("redirect_uri"):
            self.error("invalid_grant")
            return
        verifier = form.get("code_verifier", "")
        if b64url(hashlib.sha256(verifier.encode()).digest()) != grant[1]:
            state["pkce_failures"] += 1
            self.error("invalid_grant")
            return
        self.grant_tokens(grant[2])

    def refresh(self, form):
        scope = refresh.pop(form.get("refresh_token", ""), None)
        if scope is None:
            self.error("invalid_grant")
            return
        state["refreshes"] += 1
        self.grant_tokens(scope)

    def grant_tokens(self, scope):
        token = secrets.token_urlsafe(24)
        refresh[token] = scope
        lifetime = state["lifetime"]
        self.reply(200, json.dumps({"access_token": jwt(state["user"], lifetime),
                                    "token_type": "Bearer", "expires_in": lifetime,
                                    "refresh_token": token, "scope": scope}))

    def control(self, command, query):
        if command == "user":
            state["user"] = query["name"]
        elif command == "lifetime":
            state["lifetime"] = int(query["seconds"])
        elif command == "revoke":
            refresh.clear()
        elif command == "next-authorize":
            state["next"] = query["result"]
        elif command != "counters":
            self.reply(404, "unknown control", "text/plain")
            return
        self.reply(200, json.dumps({k: state[k] for k in
                                    ("codes", "refreshes", "pkce_failures", "last_redirect_uri")}))


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
