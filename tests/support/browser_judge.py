#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
# Plays video files in a real browser, headless, and prints what its <video> elements report, one
# JSON object per file: {"file", "videoWidth", "videoHeight", "duration", "audioBytes", "hasAudio",
# "error"}. A loopback HTTP server gives the page and the files and takes the page's answer.
#   browser_judge.py chromium|firefox FILE...
import http.server, json, os, shutil, socketserver, subprocess, sys, tempfile, threading, time

PAGE = """<!doctype html><meta charset="utf-8"><body><script>
const files = %s;
function one(name) {
  return new Promise(done => {
    const v = document.createElement('video');
    v.preload = 'auto';
    let settled = false;
    const finish = () => {
      if (settled) return;
      settled = true;
      done({file: name, videoWidth: v.videoWidth, videoHeight: v.videoHeight,
            duration: isFinite(v.duration) ? v.duration : -1,
            audioBytes: v.webkitAudioDecodedByteCount === undefined ? -1 : v.webkitAudioDecodedByteCount,
            hasAudio: v.mozHasAudio === undefined ? null : v.mozHasAudio,
            error: v.error ? (v.error.code + ' ' + (v.error.message || '')) : ''});
    };
    v.onerror = finish;
    v.onloadeddata = () => {
      // Playing a little makes the browser decode sound, which is what is counted.
      v.play().catch(() => {});
      setTimeout(finish, 1500);
    };
    setTimeout(finish, 20000);
    v.src = '/media/' + encodeURIComponent(name);
    document.body.appendChild(v);
  });
}
(async () => {
  const results = [];
  for (const f of files) results.push(await one(f));
  await fetch('/result', {method: 'POST', body: JSON.stringify(results)});
})();
</script>"""


def main():
    browser, paths = sys.argv[1], sys.argv[2:]
    names = [os.path.basename(p) for p in paths]
    by_name = dict(zip(names, paths))
    answer = {}
    got = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *a):
            pass

        def do_GET(self):
            if self.path == '/':
                body = (PAGE % json.dumps(names)).encode()
                self.send_response(200)
                self.send_header('Content-Type', 'text/html')
                self.send_header('Content-Length', str(len(body)))
                self.end_headers()
                self.wfile.write(body)
                return
            from urllib.parse import unquote
            name = unquote(self.path[len('/media/'):]) if self.path.startswith('/media/') else ''
            if name not in by_name:
                self.send_error(404)
                return
            data = open(by_name[name], 'rb').read()
            # Ranges as browsers ask for them, so that they can seek in the file.
            start, end = 0, len(data) - 1
            rng = self.headers.get('Range')
            if rng and rng.startswith('bytes='):
                a, _, b = rng[6:].partition('-')
                start = int(a) if a else 0
                end = int(b) if b else end
                self.send_response(206)
                self.send_header('Content-Range', 'bytes %d-%d/%d' % (start, end, len(data)))
            else:
                self.send_response(200)
            self.send_header('Content-Type', 'video/mp4')
            self.send_header('Accept-Ranges', 'bytes')
            self.send_header('Content-Length', str(end - start + 1))
            self.end_headers()
            try:
                self.wfile.write(data[start:end + 1])
            except (BrokenPipeError, ConnectionResetError):
                pass

        def do_POST(self):
            answer['results'] = json.loads(self.rfile.read(int(self.headers['Content-Length'])))
            self.send_response(204)
            self.end_headers()
            got.set()

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

    server = Server(('127.0.0.1', 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = 'http://127.0.0.1:%d/' % server.server_address[1]
    profile = tempfile.mkdtemp(prefix='still2mov-browser-')
    try:
        if browser == 'chromium':
            cmd = ['chromium', '--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
                   '--autoplay-policy=no-user-gesture-required', '--user-data-dir=' + profile, url]
        else:
            with open(os.path.join(profile, 'user.js'), 'w') as f:
                f.write('user_pref("media.autoplay.default", 0);\n'
                        'user_pref("media.autoplay.blocking_policy", 0);\n'
                        'user_pref("browser.shell.checkDefaultBrowser", false);\n')
            cmd = ['firefox-esr', '--headless', '--no-remote', '--profile', profile, url]
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            got.wait(timeout=30 + 25 * len(names))
        finally:
            # The browser and its helpers form the session started above.
            try:
                os.killpg(proc.pid, 9)
            except ProcessLookupError:
                pass
            proc.wait()
    finally:
        server.shutdown()
        shutil.rmtree(profile, ignore_errors=True)
    if 'results' not in answer:
        print('no answer from ' + browser, file=sys.stderr)
        return 1
    for r in answer['results']:
        print(json.dumps(r))
    return 0


if __name__ == '__main__':
    sys.exit(main())
