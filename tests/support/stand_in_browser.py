#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Stands in for the web browser in tests; xdg-open runs it with the address to open:

    stand_in_browser.py LOG URL

It appends URL to LOG, then fetches it as a browser would, following redirects (the sign-in
page's redirect to the program's loopback listener). It fetches from the loopback addresses
only, without a proxy: nothing leaves the machine."""
import sys
import urllib.parse
import urllib.request

LOOPBACK = {"127.0.0.1", "localhost", "::1"}


def local(url):
    parts = urllib.parse.urlsplit(url)
    return parts.scheme == "http" and parts.hostname in LOOPBACK


class LocalRedirects(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, request, fp, code, message, headers, new_url):
        if not local(new_url):
            return None
        return super().redirect_request(request, fp, code, message, headers, new_url)


def main():
    log, url = sys.argv[1], sys.argv[2]
    with open(log, "a", encoding="utf-8") as file:
        file.write(url + "\n")
    if local(url):
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}), LocalRedirects)
        try:
            opener.open(url, timeout=10).read()
        except Exception:
            pass  # what the listener answers, or whether it answers, is the test's business


if __name__ == "__main__":
    main()
