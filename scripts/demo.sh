#!/usr/bin/env bash
# The demo: starts the sandbox marketplace with orders already due, orders not
# yet due and orders the buyer has rated, writes its demo seller (without a
# session key) into a demo data directory and runs Quillmere against it: the
# desktop program, starting with its login window, when a display is present;
# otherwise the headless login (--authorize) and the headless runner once.
# The alerts go to a local receiver that plays a DingTalk robot and a web
# address; what arrived is printed.
# Ends the sandbox afterwards.
#
#   bash scripts/demo.sh [BIN_DIR]      (make demo: BIN_DIR = build/bin)
#
# DEMO_DIR (default build/demo-data) is the program directory the demo uses.
set -euo pipefail
bin=${1:-build/bin}
demo=${DEMO_DIR:-build/demo-data}

for program in quillmere-sandbox quillmere-headless; do
  if [ ! -x "$bin/$program" ]; then
    echo "demo: $bin/$program is missing (run make build first)" >&2
    exit 1
  fi
done
command -v curl >/dev/null || { echo "demo: curl is needed" >&2; exit 1; }

rm -rf "$demo"
mkdir -p "$demo"
sandbox_out="$demo/sandbox.out"

"$bin/quillmere-sandbox" --port 0 --trades 0 --write-config "$demo/Config.ini" >"$sandbox_out" 2>&1 &
sandbox_pid=$!
stop_sandbox() {
  if kill -0 "$sandbox_pid" 2>/dev/null; then
    kill -TERM "$sandbox_pid" 2>/dev/null || true
    wait "$sandbox_pid" 2>/dev/null || true
  fi
}
trap stop_sandbox EXIT

base=
for _ in $(seq 1 100); do
  base=$(sed -n 's/^listening on //p' "$sandbox_out" | head -n 1)
  [ -n "$base" ] && break
  kill -0 "$sandbox_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$base" ]; then
  echo "demo: the sandbox did not start:" >&2
  cat "$sandbox_out" >&2
  exit 1
fi
nick=$(sed -n 's/^seller nick: //p' "$sandbox_out" | head -n 1)
echo "sandbox marketplace at $base, demo seller '$nick', data in $demo"

# A trade that ended H hours (and half an hour) ago; the marketplace writes
# the time in its own zone (Beijing), whatever this machine's is.
trade() {  # hours-ago buyer [buyer-rate [buyer-comment]]
  local rate=${3:-none}
  printf '{"buyer_nick":"%s","ended_hours_ago":%s.5,"buyer_rate":"%s","buyer_comment":"%s"}' "$2" "$1" "$rate" "${4:-}"
}
seed=$(printf '{"trades":[%s,%s,%s,%s,%s,%s,%s,%s,%s,%s]}' \
  "$(trade 340 due_alice)" "$(trade 352 due_bob)" "$(trade 358 due_carol)" \
  "$(trade 12 fresh_dave)" "$(trade 120 fresh_erin)" "$(trade 250 fresh_frank)" "$(trade 333 soon_grace)" \
  "$(trade 90 rated_heidi good)" "$(trade 150 rated_judy bad 质量太差)" "$(trade 200 rated_ivan neutral 发货太慢)")
reply=$(curl -fsS -X POST -H 'Content-Type: application/json' --data "$seed" "$base/__sandbox/trades")
echo "seeded: 3 orders due (rating deadline within 24 hours), 4 not yet due, 3 rated by their buyers (one bad)"
echo "  $reply"
# The last seeded order: rated neutral by its buyer, answered in the desktop run below.
neutral_tid=$(grep -o '"[0-9]*"' <<<"$reply" | tail -n 1 | tr -d '"')

password=$(sed -n 's/^login password: //p' "$sandbox_out" | head -n 1)
app_key=$(sed -n 's/^app key: //p' "$sandbox_out" | head -n 1)
# The demo starts without a stored session key, so that the login is part of it.
sed -i '/^SessionKey=/d' "$demo/Config.ini"

# A local receiver plays the shop's DingTalk group robot and a web address
# that takes the alerts' JSON: it answers as they do and keeps what arrived.
arrived="$demo/alerts-arrived.jsonl"
python3 -u - "$demo/receiver.port" "$arrived" >"$demo/receiver.out" 2>&1 <<'PY' &
import http.server, json, sys
port_file, out = sys.argv[1], sys.argv[2]
class Receiver(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with open(out, "a", encoding="utf-8") as f:
            f.write(json.dumps({"path": self.path.split("?")[0], "signed": "&sign=" in self.path,
                                "body": json.loads(body)}, ensure_ascii=False) + "\n")
        reply = b'{"errcode":0,"errmsg":"ok"}'
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Receiver)
open(port_file, "w").write(str(server.server_port))
server.serve_forever()
PY
receiver_pid=$!
stop_all() {
  kill -TERM "$receiver_pid" 2>/dev/null || true
  stop_sandbox
}
trap stop_all EXIT
for _ in $(seq 1 50); do [ -s "$demo/receiver.port" ] && break; sleep 0.1; done
receiver="http://127.0.0.1:$(cat "$demo/receiver.port")"
# The seller's section is the file's only one; Config.ini is in the local code page.
python3 - "$demo/Config.ini" "$receiver" <<'PY'
import sys
path, base = sys.argv[1], sys.argv[2]
lines = "钉钉机器人=%s/robot/send?access_token=demo\r\n钉钉加签密钥=SECdemo\r\n提醒网址=%s/alerts\r\n" % (base, base)
with open(path, "ab") as f:
    f.write(("\r\n" + lines).encode("gbk"))
PY
echo "alerts go to a local receiver at $receiver (a DingTalk robot and a web address)"

status=0
if [ -n "${DISPLAY:-}" ] && [ -x "$bin/quillmere" ]; then
  echo "display $DISPLAY present: starting the desktop program without a stored session key"
  echo "  choose '$nick'; the login window prepares the form: log in as '$nick' with the password '$password'"
  echo "  the consent is given by itself a second later; close the program from the tray menu"
  "$bin/quillmere" --data-dir "$demo" --platform "$base" || status=$?
else
  # The login for a machine without a display: the browser's part is played by
  # curl (log in, allow), the address of the final page is pasted into --authorize.
  echo "no display: the headless login (--authorize), the browser played by curl"
  consent=$(curl -fsS -o /dev/null -w '%{redirect_url}' --data-urlencode "response_type=token" \
    --data-urlencode "client_id=$app_key" --data-urlencode "TPL_username=$nick" \
    --data-urlencode "TPL_password=$password" "$base/authorize/login")
  ticket=${consent##*ticket=}
  final=$(curl -fsS -o /dev/null -w '%{redirect_url}' --data-urlencode "client_id=$app_key" \
    --data-urlencode "ticket=$ticket" --data-urlencode "agree=1" "$base/authorize/consent")
  echo "$final" | "$bin/quillmere-headless" --account "$nick" --data-dir "$demo" --platform "$base" --authorize \
    || { echo "demo: --authorize failed" >&2; exit 1; }
  echo "no display: running the headless runner once"
  "$bin/quillmere-headless" --account "$nick" --data-dir "$demo" --platform "$base" --once | tee "$demo/run.out" ||
    status=${PIPESTATUS[0]}
fi

ratings=$(curl -fsS "$base/__sandbox/ratings")
echo "ratings the seller gave on the marketplace:"
echo "  $ratings"
if [ "$status" -ne 0 ]; then
  echo "demo: Quillmere ended with exit code $status" >&2
  exit "$status"
fi
if [ -z "${DISPLAY:-}" ] || [ ! -x "$bin/quillmere" ]; then
  rated=$(grep -o '"tid"' <<<"$ratings" | wc -l)
  if [ "$rated" -ne 3 ]; then
    echo "demo: expected the 3 due orders to be rated, the marketplace holds $rated ratings" >&2
    exit 1
  fi
  echo "demo: the 3 due orders were rated, the others are waiting"
  if ! grep -q "alert: order=.* buyer=rated_judy result=bad" "$demo/run.out"; then
    echo "demo: the bad rating of rated_judy was not alerted" >&2
    exit 1
  fi
  echo "demo: the bad buyer rating of rated_judy was alerted"
  echo "what the local receiver got:"
  python3 - "$arrived" <<'PY' || { echo "demo: the alert of rated_judy did not reach the receiver" >&2; exit 1; }
import json, sys
got = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8")] if __import__("os").path.exists(sys.argv[1]) else []
for a in got:
    if a["path"] == "/alerts":
        print("  web address: " + json.dumps(a["body"], ensure_ascii=False))
    else:
        print("  DingTalk robot (signed: %s):" % a["signed"])
        for line in a["body"]["text"]["content"].split("\n"):
            print("    " + line)
judy = [a for a in got if a["path"] == "/alerts" and a["body"].get("buyer") == "rated_judy"]
robot = [a for a in got if a["path"] == "/robot/send" and a["signed"] and "rated_judy" in a["body"]["text"]["content"]]
sys.exit(0 if judy and robot else 1)
PY
  echo "demo: the alert of rated_judy reached the DingTalk robot and the web address"
fi

# Without a display: the desktop program once more under a virtual display,
# driven by the window driver (tools/): it chooses the demo seller, saves a
# picture of each window into the data directory and ends the program.
if [ -z "${DISPLAY:-}" ] && [ -x "$bin/quillmere-drive" ]; then
  shots="$demo/screenshots"
  export QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox"
  if command -v xvfb-run >/dev/null; then
    echo "desktop program under a virtual display, pictures into $shots"
    xvfb-run -a -s "-screen 0 1280x800x24" "$bin/quillmere-drive" --pictures "$shots" --answer "$neutral_tid" \
      --choose "$nick" --data-dir "$demo" --platform "$base" || status=$?
  else
    echo "desktop program on the offscreen platform, pictures into $shots"
    QT_QPA_PLATFORM=offscreen "$bin/quillmere-drive" --pictures "$shots" --answer "$neutral_tid" \
      --choose "$nick" --data-dir "$demo" --platform "$base" || status=$?
  fi
  if [ "$status" -ne 0 ] || ! ls "$shots"/MainWindow.png >/dev/null 2>&1; then
    echo "demo: the desktop program did not save its pictures (exit code $status)" >&2
    exit 1
  fi
  ls "$shots"
  # The answer: a "bad" rating with the prepared comment, the neutral notice pictured.
  if ! curl -fsS "$base/__sandbox/ratings" |
       python3 -c 'import json, sys; sys.exit(not any(r["tid"] == sys.argv[1] and r["result"] == "bad" for r in json.load(sys.stdin)))' "$neutral_tid" ||
     [ ! -f "$shots/MainWindow-answer.png" ]; then
    echo "demo: the desktop program did not answer the buyer-rated order $neutral_tid" >&2
    exit 1
  fi
  echo "demo: answered order $neutral_tid (its buyer rated neutral); picture in $shots/MainWindow-answer.png"
  # A first start: an account without key and secret gets the message, then
  # the setup form, each pictured; closing the form ends the program.
  status=0
  if command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x800x24" "$bin/quillmere-drive" --pictures "$shots" --choose 新卖家 \
      --data-dir "$demo" --platform "$base" || status=$?
  else
    QT_QPA_PLATFORM=offscreen "$bin/quillmere-drive" --pictures "$shots" --choose 新卖家 \
      --data-dir "$demo" --platform "$base" || status=$?
  fi
  for f in AccountSetupDialog StatusLine AnswerQuestion RunSettingsWindow AlertSettingsWindow AlertListWindow; do
    if [ "$status" -ne 0 ] || [ ! -f "$shots/$f.png" ]; then
      echo "demo: the desktop program did not picture $f (exit code $status)" >&2
      exit 1
    fi
  done
  echo "demo: the first start's setup form, the answer's question with the buyer's verdict, 更多设置, 提醒设置, the alert list" \
    "and the status line pictured in $shots"
fi
