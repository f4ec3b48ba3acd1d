#!/usr/bin/env python3
"""The runner's web page in Chromium against the runner and the sandbox marketplace.

    web_page_test.py HEADLESS SANDBOX [--pictures DIR] [--figures]

Drives the page as a seller does (log in, both lists, answer a neutral buyer's
order, keep and release an order, change the standing comment, download the
rating log's CSV, set where alerts go and send a test alert to a local
receiver, read the statistics and their CSV) and checks what it must refuse
(a wrong password, a change without its CSRF token, a foreign Host header, a
page that frames it, a stored secret in any page).
With --pictures it saves the page at a desktop's and a phone's width; with
--figures it prints the load time, an action's round trip, the runner's added
memory and the platform requests the open page causes."""
import base64
import datetime
import hashlib
import hmac
import http.client
import http.server
import json
import os
import re
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

from selenium import webdriver
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions as EC
from selenium.webdriver.support.ui import Select, WebDriverWait

HEADLESS, SANDBOX = sys.argv[1], sys.argv[2]
PICTURES = sys.argv[sys.argv.index('--pictures') + 1] if '--pictures' in sys.argv else None
FIGURES = '--figures' in sys.argv
PASSWORD = 'kite-ledger-42'
COMMENT_HTML = '<img src=x id=injected onerror="document.title=\'pwned\'">质量一般'
NEW_COMMENT = '谢谢惠顾，欢迎再来！'


def wait_for_line(path, pattern, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        with open(path, encoding='utf-8', errors='replace') as f:
            m = re.search(pattern, f.read(), re.M)
        if m:
            return m
        time.sleep(0.05)
    with open(path, encoding='utf-8', errors='replace') as f:
        raise AssertionError('no line %r in:\n%s' % (pattern, f.read()))


class Receiver:
    """A DingTalk robot (/robot/send, checking the signature) and a generic webhook (/hook) on loopback."""

    def __init__(self, secret):
        self.received = []
        receiver = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers.get('Content-Length', 0))).decode('utf-8')
                url = urllib.parse.urlsplit(self.path)
                query = dict(urllib.parse.parse_qsl(url.query))
                receiver.received.append((url.path, query, json.loads(body)))
                reply = {}
                if url.path == '/robot/send':
                    mac = hmac.new(secret.encode(), (query.get('timestamp', '') + '\n' + secret).encode(),
                                   hashlib.sha256)
                    signed = query.get('sign') == base64.b64encode(mac.digest()).decode()
                    reply = {'errcode': 0 if signed else 310000, 'errmsg': 'ok' if signed else 'sign not match'}
                data = json.dumps(reply).encode()
                self.send_response(200)
                self.send_header('Content-Type', 'application/json')
                self.send_header('Content-Length', str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
        self.base = 'http://127.0.0.1:%d' % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def beijing_day(days_ago):
    now = datetime.datetime.now(datetime.timezone(datetime.timedelta(hours=8)))
    return (now - datetime.timedelta(days=days_ago)).strftime('%Y-%m-%d')


def rss_kib(pid):
    with open('/proc/%d/status' % pid) as f:
        return int(re.search(r'VmRSS:\s+(\d+)', f.read()).group(1))


class World:
    """A sandbox with a seller's trades, the seller's directory, and the runner serving the page."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix='qm-web-')
        self.procs = []
        out = os.path.join(self.dir, 'sandbox.out')
        self.logs = [open(out, 'w')]
        self.procs.append(subprocess.Popen([SANDBOX, '--port', '0', '--trades', '0', '--write-config',
                                            os.path.join(self.dir, 'Config.ini')],
                                           stdout=self.logs[-1], stderr=subprocess.STDOUT))
        self.base = wait_for_line(out, r'^listening on (\S+)').group(1)
        wait_for_line(out, r'^config written')
        with open(out) as f:
            fields = dict(re.findall(r'^([a-z ]+): (.*)$', f.read(), re.M))
        self.nick, self.secret, self.session = fields['seller nick'], fields['app secret'], fields['session key']

        def trade(hours, buyer, rate='none', comment=''):
            return {'buyer_nick': buyer, 'ended_hours_ago': hours + 0.5, 'buyer_rate': rate, 'buyer_comment': comment}
        tids = self.admin('/__sandbox/trades', {'trades': [
            trade(340, 'due_a'), trade(20, 'later_c'), trade(30, 'later_d'),
            trade(100, 'rated_n', 'neutral', COMMENT_HTML), trade(90, 'rated_g', 'good', '很好')]})['tids']
        self.due, self.later_c, self.later_d, self.neutral, self.good = tids

        cmd = [HEADLESS, '--account', self.nick, '--data-dir', self.dir]
        # Without a password the page does not start, and says how to set one.
        refused = subprocess.run(cmd + ['--platform', self.base, '--web', '0'], capture_output=True, text=True,
                                 timeout=30)
        assert refused.returncode == 2 and '--set-web-password' in refused.stdout, refused.stdout
        subprocess.run(cmd + ['--set-web-password'], input=PASSWORD + '\n', text=True, check=True, timeout=30,
                       capture_output=True)
        # The name a reverse proxy in front of the page passes on.
        with open(os.path.join(self.dir, 'Config.ini'), 'ab') as f:
            f.write(('网页域名=shop.example.com\r\n').encode('gbk'))
        self.out = os.path.join(self.dir, 'runner.out')
        self.logs.append(open(self.out, 'w'))
        self.runner = subprocess.Popen(cmd + ['--platform', self.base, '--web', '127.0.0.1:0'],
                                       stdout=self.logs[-1], stderr=subprocess.STDOUT)
        self.procs.append(self.runner)
        self.url = wait_for_line(self.out, r'^\S+ web: the page is at (\S+)').group(1)
        wait_for_line(self.out, r'rating order=%s .*outcome=rated' % self.due)
        self.port = int(self.url.rstrip('/').rsplit(':', 1)[1])
        self.rss_start = rss_kib(self.runner.pid)

    def admin(self, path, body=None):
        req = urllib.request.Request(self.base + path, data=json.dumps(body).encode() if body is not None else None,
                                     headers={'Content-Type': 'application/json'})
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.load(r)

    def file(self, name):
        with open(os.path.join(self.dir, name), 'rb') as f:
            raw = f.read()
        try:
            return raw.decode('gbk')
        except UnicodeDecodeError:
            return raw.decode('utf-8-sig')

    def raw(self, method, path, body=None, headers=None):
        conn = http.client.HTTPConnection('127.0.0.1', self.port, timeout=20)
        conn.request(method, path, body=body, headers=headers or {})
        try:
            r = conn.getresponse()
            return r.status, dict(r.getheaders()), r.read().decode('utf-8', 'replace')
        finally:
            conn.close()

    def close(self):
        for p in reversed(self.procs):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        for f in self.logs:
            f.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def browser(download_dir):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which('chromium') or '/usr/bin/chromium'
    for arg in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage', '--lang=zh-CN',
                '--window-size=1280,860', '--no-first-run', '--disable-extensions'):
        options.add_argument(arg)
    options.add_experimental_option('prefs', {'download.default_directory': download_dir,
                                              'download.prompt_for_download': False})
    driver = webdriver.Chrome(service=Service(shutil.which('chromedriver') or '/usr/bin/chromedriver'),
                              options=options)
    driver.execute_cdp_cmd('Browser.setDownloadBehavior', {'behavior': 'allow', 'downloadPath': download_dir})
    return driver


class WebPageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.world = World()
        cls.downloads = tempfile.mkdtemp(prefix='qm-web-dl-')
        cls.driver = browser(cls.downloads)
        # A list is drawn again when it changes: an element may go between finding and reading it.
        cls.wait = WebDriverWait(cls.driver, 20,
                                 ignored_exceptions=(NoSuchElementException, StaleElementReferenceException))

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.world.close()
        shutil.rmtree(cls.downloads, ignore_errors=True)

    def by(self, css):
        return self.driver.find_element(By.CSS_SELECTOR, css)

    def row(self, table, tid):
        return self.by('#%s tr[data-tid="%s"]' % (table, tid))

    def click_in_row(self, table, tid, css):
        def click(_):
            self.row(table, tid).find_element(By.CSS_SELECTOR, css).click()
            return True
        self.wait.until(click)

    def confirm(self, expect_in_text):
        self.wait.until(EC.visibility_of_element_located((By.ID, 'dialog')))
        self.wait.until(lambda d: expect_in_text in self.by('#dialog-text').text)
        text = self.by('#dialog-text').text
        self.by('#dialog-ok').click()
        self.wait.until(EC.invisibility_of_element_located((By.ID, 'dialog')))
        return text

    def tab(self, name):
        self.by('#tabs button[data-tab="%s"]' % name).click()

    def test_1_login_lists_and_alerts(self):
        d, w = self.driver, self.world
        start = time.time()
        d.get(w.url)
        self.wait.until(EC.visibility_of_element_located((By.ID, 'login-password')))
        if FIGURES:
            nav = d.execute_script('const t = performance.getEntriesByType("navigation")[0]; return t.loadEventEnd;')
            print('figure: first load (login page, navigation timing) %.0f ms; wall %.0f ms'
                  % (nav, (time.time() - start) * 1000))
        # A wrong password is refused, and the next try must wait.
        self.by('#login-password').send_keys('not-the-password')
        self.by('#login-button').click()
        self.wait.until(lambda _: '密码不对' in self.by('#login-message').text)
        self.by('#login-password').send_keys(PASSWORD)
        self.by('#login-button').click()
        self.wait.until(lambda _: '秒后再试' in self.by('#login-message').text)
        self.assertTrue(self.by('#desk').get_attribute('hidden') is not None)
        time.sleep(1.2)
        self.by('#login-password').send_keys(PASSWORD)
        self.by('#login-button').click()
        self.wait.until(EC.visibility_of_element_located((By.ID, 'unrated')))
        self.wait.until(lambda _: self.by('#count-unrated').text == '2')
        # Both lists with their counts and time left; the neutral buyer in the alert's colours.
        self.assertIn('later_c', self.row('unrated', w.later_c).text)
        self.assertRegex(self.row('unrated', w.later_d).text, r'\d+天\d+小时')
        self.assertEqual(self.by('#count-rated').text, '2')
        self.tab('rated')
        colour = lambda tid: self.row('rated', tid).value_of_css_property('background-color')
        self.wait.until(lambda _: colour(w.neutral) == 'rgba(255, 255, 0, 1)')
        self.assertEqual(colour(w.good), 'rgba(0, 0, 0, 0)')
        # The alert shows the buyer's words as text: their markup is not run.
        self.tab('alerts')
        self.assertEqual(self.by('#count-alerts').text, '1')
        alert = self.by('#alerts .alert[data-tid="%s"]' % w.neutral)
        self.assertIn(COMMENT_HTML, alert.text)
        self.assertEqual(d.find_elements(By.ID, 'injected'), [])
        self.assertNotEqual(d.title, 'pwned')
        # No secret of the seller is in the page or what it reads.
        status, _, state = w.raw('GET', '/api/state', headers={'Host': '127.0.0.1:%d' % w.port,
                                                               'Cookie': self.cookie()})
        self.assertEqual(status, 200)
        for secret in (w.secret, w.session, 'pbkdf2'):
            self.assertNotIn(secret, d.page_source)
            self.assertNotIn(secret, state)
        if PICTURES:
            self.tab('unrated')
            time.sleep(0.3)
            d.save_screenshot(os.path.join(PICTURES, 'web-page-desktop.png'))
            d.set_window_size(390, 844)
            time.sleep(0.5)
            d.save_screenshot(os.path.join(PICTURES, 'web-page-phone.png'))
            d.set_window_size(1280, 860)

    def cookie(self):
        c = self.driver.get_cookie('qm_session')
        self.assertTrue(c['httpOnly'])
        self.assertEqual(c['sameSite'], 'Strict')
        return 'qm_session=' + c['value']

    def test_2_answer_neutral_buyer(self):
        w = self.world
        self.tab('rated')
        self.click_in_row('rated', w.neutral, 'button.answer')
        # The question says what the buyer gave and wrote, and the reply: "bad" for a neutral buyer.
        text = self.confirm('回评')
        self.assertIn('中评', text)
        self.assertIn(COMMENT_HTML, text)
        self.assertIn('回评“差评”', text)
        self.wait.until(lambda _: not self.driver.find_elements(By.CSS_SELECTOR, '#rated tr[data-tid="%s"]' % w.neutral))
        given = {r['tid']: r['result'] for r in w.admin('/__sandbox/ratings')}
        self.assertEqual(given.get(w.neutral), 'bad')
        self.assertNotIn(w.good, given)
        self.assertEqual(self.by('#count-rated').text, '1')

    def test_3_keep_and_release(self):
        w = self.world
        self.tab('unrated')
        self.click_in_row('unrated', w.later_c, 'button.keep')
        # Asked first: 取消 leaves it as it was.
        self.wait.until(EC.visibility_of_element_located((By.ID, 'dialog')))
        self.by('#dialog-cancel').click()
        time.sleep(0.5)
        self.assertNotIn(w.later_c, w.file('%s的不自动评价.ini' % w.nick) if os.path.exists(
            os.path.join(w.dir, '%s的不自动评价.ini' % w.nick)) else '')
        start = time.time()
        self.click_in_row('unrated', w.later_c, 'button.keep')
        self.confirm(w.later_c)
        self.wait.until(lambda _: '不自动评价' in self.row('unrated', w.later_c).find_elements(By.TAG_NAME, 'td')[3].text)
        if FIGURES:
            print('figure: keep an order, click to the list showing it (with the question) %.0f ms'
                  % ((time.time() - start) * 1000))
        self.assertIn(w.later_c + '=', w.file('%s的不自动评价.ini' % w.nick))
        self.click_in_row('unrated', w.later_c, 'button.release')
        self.confirm(w.later_c)
        self.wait.until(lambda _: re.search(r'\d+天', self.row('unrated', w.later_c).text))
        self.assertNotIn(w.later_c + '=', w.file('%s的不自动评价.ini' % w.nick))

    def test_4_standing_comment(self):
        w = self.world
        self.tab('settings')
        box = self.by('#first-comment')
        self.assertEqual(box.get_attribute('value'), '欢迎再次光临！')
        box.clear()
        box.send_keys(NEW_COMMENT)
        self.by('#settings-save').click()
        self.wait.until(lambda _: '设置已保存' in self.by('#notes').text)
        self.assertEqual(w.file('%s的自动评价内容.txt' % w.nick).strip(), NEW_COMMENT)
        # A comment the platform cannot take is refused and nothing is written.
        # (Pasted in one go: the form may still be showing what was just saved.)
        self.driver.execute_script(
            "const box = document.getElementById('first-comment'); box.value = arguments[0];"
            "box.dispatchEvent(new Event('input', {bubbles: true}));", '长' * 501)
        self.by('#settings-save').click()
        self.wait.until(lambda _: '501' in self.by('#notes').text)
        self.assertEqual(w.file('%s的自动评价内容.txt' % w.nick).strip(), NEW_COMMENT)

    def test_5_rating_log_csv(self):
        w = self.world
        self.tab('log')
        self.wait.until(lambda _: len(self.driver.find_elements(By.CSS_SELECTOR, '#log tbody tr')) == 2)
        self.by('#log-filter').send_keys('rated_n')
        self.by('#log-search').click()
        self.wait.until(lambda _: len(self.driver.find_elements(By.CSS_SELECTOR, '#log tbody tr')) == 1)
        self.by('#log-csv').click()
        path = os.path.join(self.downloads, '评价记录.csv')
        end = time.time() + 20
        while time.time() < end and not os.path.exists(path):
            time.sleep(0.1)
        with open(path, 'rb') as f:
            csv = f.read()
        self.assertTrue(csv.startswith(b'\xef\xbb\xbf'))
        text = csv.decode('utf-8-sig')
        self.assertTrue(text.startswith('时间,订单编号,买家旺旺'), text[:80])
        self.assertIn(w.neutral, text)
        self.assertIn('差评', text)
        self.assertNotIn(w.due, text)  # the filter holds for the download too

    def test_6_refusals(self):
        d, w = self.driver, self.world
        host = {'Host': '127.0.0.1:%d' % w.port}
        cookie = self.cookie()
        # A change without the CSRF token, from the page itself.
        status = d.execute_async_script('''
            const done = arguments[arguments.length - 1];
            fetch('/api/act/keep', {method: 'POST', body: JSON.stringify({tid: arguments[0]})})
              .then(r => done(r.status));''', w.later_d)
        self.assertEqual(status, 403)
        status, _, _ = w.raw('POST', '/api/act/keep', json.dumps({'tid': w.later_d}),
                             dict(host, Cookie=cookie, **{'X-CSRF-Token': 'f' * 64}))
        self.assertEqual(status, 403)
        self.assertNotIn(w.later_d, w.file('%s的不自动评价.ini' % w.nick))
        # Without a session nothing is shown.
        self.assertEqual(w.raw('GET', '/api/state', headers=host)[0], 401)
        self.assertEqual(w.raw('GET', '/api/log.csv', headers=host)[0], 401)
        # A foreign Host header (a rebinding name) is refused even with the session.
        status, _, _ = w.raw('GET', '/api/state', headers={'Host': 'rebind.example:%d' % w.port, 'Cookie': cookie})
        self.assertEqual(status, 421)
        # The name the seller allows for a reverse proxy is answered; behind its
        # HTTPS the session cookie is Secure.
        self.assertEqual(w.raw('GET', '/', headers={'Host': 'shop.example.com'})[0], 200)
        status, headers, _ = w.raw('POST', '/api/login', 'password=' + PASSWORD,
                                   {'Host': 'shop.example.com', 'X-Forwarded-Proto': 'https',
                                    'Content-Type': 'application/x-www-form-urlencoded'})
        self.assertEqual(status, 200)
        self.assertIn('; Secure', headers['Set-Cookie'])
        # A change from another site's page is refused, whatever it holds.
        status, _, _ = w.raw('POST', '/api/login', 'password=' + PASSWORD,
                             dict(host, Origin='http://evil.example', **{'Content-Type': 'application/x-www-form-urlencoded'}))
        self.assertEqual(status, 403)
        # Another site's page may not frame it.
        _, headers, _ = w.raw('GET', '/', headers=host)
        self.assertEqual(headers.get('X-Frame-Options'), 'DENY')
        self.assertIn("frame-ancestors 'none'", headers.get('Content-Security-Policy', ''))
        framer = tempfile.mkdtemp(prefix='qm-web-frame-')
        with open(os.path.join(framer, 'index.html'), 'w') as f:
            f.write('<!DOCTYPE html><iframe id="f" src="%s" width="800" height="600"></iframe>' % w.url)
        server = subprocess.Popen([sys.executable, '-m', 'http.server', '0', '--bind', '127.0.0.1'], cwd=framer,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            port = re.search(r'port (\d+)', server.stdout.readline()).group(1)
            d.get('http://127.0.0.1:%s/' % port)
            time.sleep(1.5)
            d.switch_to.frame(d.find_element(By.ID, 'f'))
            self.assertEqual(d.find_elements(By.ID, 'login-password'), [])
            self.assertEqual(d.find_elements(By.ID, 'desk'), [])
            d.switch_to.default_content()
        finally:
            server.terminate()
            server.wait()
            shutil.rmtree(framer, ignore_errors=True)

    def test_7_figures(self):
        if not FIGURES:
            self.skipTest('figures only with --figures')
        d, w = self.driver, self.world
        before = w.rss_start
        requests_before = len(w.admin('/__sandbox/log'))
        d.get(w.url)
        self.wait.until(EC.visibility_of_element_located((By.ID, 'unrated')))
        nav = d.execute_script('const t = performance.getEntriesByType("navigation")[0]; return t.loadEventEnd;')
        print('figure: first load of the signed-in page (navigation timing) %.0f ms' % nav)
        rt = d.execute_async_script('''
            const done = arguments[arguments.length - 1];
            const t0 = performance.now();
            fetch('/api/state').then(r => r.text()).then(() => {
              const t1 = performance.now();
              fetch('/api/act/seen', {method: 'POST', headers: {'X-CSRF-Token': arguments[0]}, body: '{"tids":[]}'})
                .then(r => r.text()).then(() => done([t1 - t0, performance.now() - t1]));
            });''', self.csrf())
        print('figure: /api/state round trip %.1f ms, an action (/api/act/seen) round trip %.1f ms' % tuple(rt))
        time.sleep(30)
        after = rss_kib(w.runner.pid)
        requests = len(w.admin('/__sandbox/log')) - requests_before
        print('figure: runner RSS %d KiB before any page, %d KiB after the tests and 30 s more open (+%d KiB)' % (before, after, after - before))
        print('figure: platform requests while the page was open 30 s: %d' % requests)

    def test_7a_alerts_set_on_the_page_reach_a_receiver(self):
        d, w = self.driver, self.world
        secret = 'SEC' + 'f00d' * 12
        receiver = Receiver(secret)
        self.addCleanup(receiver.close)
        d.get(w.url)
        self.wait.until(EC.visibility_of_element_located((By.ID, 'unrated')))
        self.tab('settings')
        self.wait.until(lambda _: self.by('#alert-dingtalk-secret').get_attribute('placeholder') == '未设置')
        self.by('#alert-dingtalk').send_keys(receiver.base + '/robot/send?access_token=tok')
        self.by('#alert-dingtalk-secret').send_keys(secret)
        self.by('#alert-webhook').send_keys(receiver.base + '/hook')
        Select(self.by('#alert-summary')).select_by_value('21')
        self.by('#alerts-save').click()
        self.wait.until(lambda _: self.by('#alerts-result').text == '提醒设置已保存。')
        config = w.file('Config.ini')
        self.assertIn('提醒网址=%s/hook' % receiver.base, config)
        self.assertIn('钉钉加签密钥=' + secret, config)
        self.assertIn('每日汇总时间=21', config)
        # The secret does not come back: its box is empty and says one is stored.
        self.wait.until(lambda _: '已设置' in self.by('#alert-dingtalk-secret').get_attribute('placeholder'))
        self.assertEqual(self.by('#alert-dingtalk-secret').get_attribute('value'), '')

        # Opened again, the page shows what is stored; 测试提醒 with the secret's
        # box left empty signs with the stored one, and both places take it.
        d.refresh()
        self.wait.until(EC.visibility_of_element_located((By.ID, 'unrated')))
        self.tab('settings')
        self.wait.until(lambda _: self.by('#alert-webhook').get_attribute('value') == receiver.base + '/hook')
        self.assertEqual(Select(self.by('#alert-summary')).first_selected_option.get_attribute('value'), '21')
        self.by('#alerts-test').click()
        self.wait.until(lambda _: '网址：已送达' in self.by('#alerts-result').text)
        self.assertIn('钉钉：已送达', self.by('#alerts-result').text)
        hooks = [body for path, _, body in receiver.received if path == '/hook']
        robots = [(query, body) for path, query, body in receiver.received if path == '/robot/send']
        self.assertEqual(len(hooks), 1)
        self.assertEqual((hooks[0]['kind'], hooks[0]['shop']), ('test', w.nick))
        self.assertEqual(len(robots), 1)
        self.assertEqual(robots[0][0]['access_token'], 'tok')
        self.assertIn(w.nick, robots[0][1]['text']['content'])
        # The secret is in no page and in nothing the page reads.
        headers = {'Host': '127.0.0.1:%d' % w.port, 'Cookie': self.cookie()}
        for path in ('/api/state', '/api/alert-settings', '/'):
            status, _, body = w.raw('GET', path, headers=headers)
            self.assertEqual(status, 200)
            self.assertNotIn(secret, body)
        self.assertNotIn(secret, d.page_source)
        self.assertTrue(json.loads(w.raw('GET', '/api/alert-settings', headers=headers)[2])['dingTalkSecretSet'])
        if PICTURES:
            d.set_window_size(1280, 1100)
            d.execute_script("document.getElementById('alerts-form').previousElementSibling"
                             ".previousElementSibling.scrollIntoView()")
            d.save_screenshot(os.path.join(PICTURES, 'web-page-alerts.png'))
            d.set_window_size(1280, 860)

        # What cannot be used is refused with the reason, and nothing is written.
        self.by('#alert-webhook').clear()
        self.by('#alert-webhook').send_keys('ftp://example.com/x')
        self.by('#alerts-save').click()
        self.wait.until(lambda _: '没有保存' in self.by('#alerts-result').text)
        self.assertIn('提醒网址应以', self.by('#alerts-result').text)
        self.assertEqual(w.file('Config.ini'), config)

        # 清除 forgets the secret: the robot's next test goes unsigned and is refused.
        self.by('#alert-webhook').clear()
        self.by('#alert-webhook').send_keys(receiver.base + '/hook')
        self.by('#alert-dingtalk-secret-clear').click()
        self.by('#alerts-save').click()
        self.wait.until(lambda _: self.by('#alerts-result').text == '提醒设置已保存。')
        self.assertNotIn('钉钉加签密钥', w.file('Config.ini'))
        self.wait.until(lambda _: self.by('#alert-dingtalk-secret').get_attribute('placeholder') == '未设置')
        self.by('#alerts-test').click()
        self.wait.until(lambda _: '钉钉：未送达' in self.by('#alerts-result').text)
        self.assertIn('网址：已送达', self.by('#alerts-result').text)
        self.assertIn('warn', self.by('#alerts-result').get_attribute('class'))
        self.assertNotIn('sign', [query for path, query, _ in receiver.received if path == '/robot/send'][-1])

        # A change without the page's token, or from another site's page, changes nothing.
        config = w.file('Config.ini')
        evil = json.dumps({'dingTalkUrl': '', 'weComUrl': '', 'webhookUrl': 'http://evil.example/', 'mailServer': '',
                           'mailUser': '', 'mailFrom': '', 'mailTo': '', 'summaryHour': -1})
        status, _, _ = w.raw('POST', '/api/act/alert-settings', evil, dict(headers, **{'X-CSRF-Token': 'f' * 64}))
        self.assertEqual(status, 403)
        status, _, _ = w.raw('POST', '/api/act/alert-settings', evil,
                             dict(headers, Origin='http://evil.example', **{'X-CSRF-Token': self.csrf()}))
        self.assertEqual(status, 403)
        self.assertEqual(w.raw('GET', '/api/alert-settings', headers={'Host': headers['Host']})[0], 401)
        self.assertEqual(w.file('Config.ini'), config)

    def test_7b_statistics_of_a_log_the_test_writes(self):
        d, w = self.driver, self.world
        a, b, today = beijing_day(3), beijing_day(40), beijing_day(0)
        db = sqlite3.connect(os.path.join(w.dir, '%s的评价记录.db' % w.nick), timeout=10)
        db.executemany('INSERT INTO ratings(time,tid,buyer,result,comment,started,outcome,message) '
                       'VALUES(?,?,?,?,?,?,?,\'\')', [
                           (a + ' 10:00:00', '9001', 'b1', 'good', 'c', 'automatic', 'rated'),
                           (a + ' 11:00:00', '9002', 'b2', 'good', 'c', 'automatic', 'rated'),
                           (a + ' 12:00:00', '9003', 'b3', 'good', 'c', 'early', 'rated'),
                           (a + ' 12:30:00', '9004', 'b4', 'good', 'c', 'automatic', 'refused'),
                           (a + ' 23:59:59', '9005', COMMENT_HTML, 'bad', COMMENT_HTML, 'answer', 'rated'),
                           (b + ' 09:00:00', '9006', 'b6', 'bad', 'c', 'selection', 'rated')])
        db.executemany('INSERT INTO buyer_verdicts(tid,verdict,time) VALUES(?,?,?)', [
            ('9001', 'good|:|好', a + ' 13:00:00'), ('9005', 'bad|:|' + COMMENT_HTML, a + ' 14:00:00'),
            ('9006', 'neutral|:|', b + ' 10:00:00')])
        db.executemany('INSERT INTO requests(day,count) VALUES(?,?)', [(a, 123), (b, 9)])
        db.commit()
        db.close()

        def platform_requests():
            # The start-up's account check goes out before the run keeps count.
            return sum(1 for e in w.admin('/__sandbox/log') if not e['path'].startswith('/__sandbox')
                       and e['api_method'] != 'taobao.user.seller.get')
        before = platform_requests()
        d.get(w.url)
        self.wait.until(EC.visibility_of_element_located((By.ID, 'unrated')))
        self.tab('stats')

        def bar(day, name):
            found = d.find_elements(By.CSS_SELECTOR, '#tab-stats rect.bar[data-day="%s"][data-set="%s"]' % (day, name))
            return found[0] if found else None

        def count(day, name):
            found = bar(day, name)
            return int(found.get_attribute('data-count')) if found else 0
        self.wait.until(lambda _: bar(a, '自动'))
        self.assertEqual([count(a, n) for n in ('自动', '提前', '回评', '好评', '中评', '差评', '请求')],
                         [2, 1, 1, 1, 0, 1, 123])
        self.assertEqual(bar(a, '请求').find_element(By.TAG_NAME, 'title').get_attribute('textContent'),
                         a[5:] + ' 请求 123')
        column = d.find_element(By.CSS_SELECTOR, '#chart-given rect.day[data-day="%s"] title' % a)
        self.assertEqual(column.get_attribute('textContent'), a[5:] + '：自动 2，提前 1，回评 1')
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, '#chart-received rect.day')), 30)
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, '#tab-stats rect[data-day="%s"]' % b), [])
        # Today's requests are the ones the platform saw from the run.
        self.assertEqual(count(today, '请求'), before)
        self.assertEqual(d.find_elements(By.ID, 'injected'), [])
        # 90 days reach the older day.
        Select(self.by('#stats-days')).select_by_value('90')
        self.wait.until(lambda _: bar(b, '回评'))
        self.assertEqual([count(b, n) for n in ('回评', '中评', '请求')], [1, 1, 9])
        self.assertEqual(len(d.find_elements(By.CSS_SELECTOR, '#chart-requests rect.day')), 90)
        self.assertIn('请求 %d 次' % (123 + 9 + before), self.by('#stats-totals').text)
        # A tap on a bar says its numbers (a phone has no pointer to rest).
        d.execute_script('arguments[0].dispatchEvent(new MouseEvent("click", {bubbles: true}))', bar(b, '请求'))
        self.assertEqual(self.by('#stats-pick').text, b[5:] + ' 请求 9')
        if PICTURES:
            Select(self.by('#stats-days')).select_by_value('30')
            self.wait.until(lambda _: len(d.find_elements(By.CSS_SELECTOR, '#chart-requests rect.day')) == 30)
            d.set_window_size(1280, 1500)
            d.save_screenshot(os.path.join(PICTURES, 'web-page-stats.png'))
            d.set_window_size(1280, 860)
            Select(self.by('#stats-days')).select_by_value('90')
            self.wait.until(lambda _: len(d.find_elements(By.CSS_SELECTOR, '#chart-requests rect.day')) == 90)

        self.by('#stats-csv').click()
        path = os.path.join(self.downloads, '统计.csv')
        end = time.time() + 20
        while time.time() < end and not os.path.exists(path):
            time.sleep(0.1)
        with open(path, 'rb') as f:
            lines = f.read().decode('utf-8-sig').split('\r\n')
        self.assertEqual(lines[0], '日期,自动,提前,回评,好评,中评,差评,请求')
        self.assertEqual(len([l for l in lines if l]), 91)
        self.assertIn(a + ',2,1,1,1,0,1,123', lines)
        self.assertIn(b + ',0,0,1,0,1,0,9', lines)
        # Reading the statistics asked the platform nothing.
        self.assertEqual(platform_requests(), before)

    def test_8_early_rating_asks_and_a_stop_ends_the_question(self):
        d, w = self.driver, self.world
        d.get(w.url)
        self.wait.until(EC.visibility_of_element_located((By.ID, 'unrated')))
        self.tab('unrated')
        # The run's own question shows what goes out; 取消 posts nothing.
        self.wait.until(lambda _: self.row('unrated', w.later_d))
        self.click_in_row('unrated', w.later_d, 'button.rate')
        self.wait.until(lambda _: '提前评价' in self.by('#dialog-text').text and self.by('#dialog').is_displayed())
        self.assertIn(NEW_COMMENT, self.by('#dialog-text').text)
        self.by('#dialog-cancel').click()
        self.wait.until(EC.invisibility_of_element_located((By.ID, 'dialog')))
        time.sleep(0.5)
        self.assertNotIn(w.later_d, [r['tid'] for r in w.admin('/__sandbox/ratings')])
        # A stop while the question waits ends the run at once, and nothing is rated.
        self.click_in_row('unrated', w.later_d, 'button.rate')
        self.wait.until(EC.visibility_of_element_located((By.ID, 'dialog')))
        w.runner.terminate()
        self.assertEqual(w.runner.wait(15), 0)
        self.assertNotIn(w.later_d, [r['tid'] for r in w.admin('/__sandbox/ratings')])

    def csrf(self):
        return self.driver.execute_async_script('''
            const done = arguments[arguments.length - 1];
            fetch('/api/state').then(r => r.json()).then(b => done(b.csrf));''')


if __name__ == '__main__':
    unittest.main(argv=[sys.argv[0], '-v'])
