"""The page in headless Chromium, opened from file:// as a user opens it: encrypt and decrypt
byte-exact with the golden files, the wrong-key notice and the search, a settings file, the text
tab, a long job with progress and Cancel while the page answers, the streaming save path, and no
network request.

    /usr/bin/python3 tests/web/page_test.py build-web/kryvane.html
Needs Debian's chromium, chromium-driver and python3-selenium (scripts/web.sh --test installs them).
"""
import base64
import json
import os
import pathlib
import shutil
import sys
import tempfile
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = pathlib.Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"
GOLDEN = DATA / "golden"
GOLDEN_PHRASE = "Kryvane golden passphrase"
PAGE = None  # set from the command line
CIPHERS = {"blowfish": 0, "rijndael": 13, "serpent": 14, "twofish": 16, "3des": 4}
HASHES = {"haval": 0, "sha1": 5, "sha256": 6, "tiger": 9}


def start_browser(downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=900,1000", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-default-apps",
                # Anything the browser itself might send goes nowhere.
                "--proxy-server=http://127.0.0.1:9", "--proxy-bypass-list=<-loopback>"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": str(downloads)})
    return driver


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = pathlib.Path(tempfile.mkdtemp(prefix="kryvane-page-"))
        cls.downloads = cls.tmp / "downloads"
        cls.downloads.mkdir()
        cls.driver = start_browser(cls.downloads)
        cls.requests = []

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        shutil.rmtree(cls.tmp)

    # -- helpers --------------------------------------------------------------------------------

    def open(self, hooks=""):
        self.collect_requests()
        self.driver.get("about:blank")  # a new fragment alone would not load the page again
        self.driver.get(pathlib.Path(PAGE).resolve().as_uri() + (f"#{hooks}" if hooks else ""))
        WebDriverWait(self.driver, 30).until(
            lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
        self.assertEqual(self.status(), "Last action: Kryvane 2.0 started")

    def collect_requests(self):
        for entry in self.driver.get_log("performance"):
            if '"Network.requestWillBeSent"' in entry["message"]:
                self.requests.append(json.loads(entry["message"])["message"]["params"]["request"]["url"])

    def el(self, id_):
        return self.driver.find_element(By.ID, id_)

    def status(self):
        return self.el("StatusText").text

    def cause(self):
        return self.el("StatusCause").get_attribute("title")

    def choose(self, *paths):
        self.driver.execute_script("document.getElementById('FileInput').value = ''")
        self.el("FileInput").send_keys("\n".join(str(p) for p in paths))

    def fill(self, source, phrase, cipher=None, hash_=None, target=None, retype=None):
        self.choose(source)
        for id_, text in (("PhraseEdt", phrase), ("RPhraseEdt", phrase if retype is None else retype)):
            self.el(id_).clear()
            self.el(id_).send_keys(text)
        if cipher is not None:
            Select(self.el("ComboBox1")).select_by_value(str(CIPHERS[cipher]))
        if hash_ is not None:
            Select(self.el("ComboBox2")).select_by_value(str(HASHES[hash_]))
        if target is not None:
            self.el("TargetEdt").clear()
            self.el("TargetEdt").send_keys(target)

    def wait_status(self, text, timeout=60):
        WebDriverWait(self.driver, timeout).until(lambda d: self.status() == text,
                                                  f"status {text!r}; it is {self.status()!r}")

    def downloaded(self, name, timeout=60):
        path = self.downloads / name
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if path.exists() and not (self.downloads / (name + ".crdownload")).exists():
                return path.read_bytes()
            time.sleep(0.1)
        self.fail(f"{name} was not downloaded: {os.listdir(self.downloads)}")

    # -- tests ----------------------------------------------------------------------------------

    def test_menus_texts_and_limits(self):
        self.open()
        ciphers = Select(self.el("ComboBox1")).options
        hashes = Select(self.el("ComboBox2")).options
        self.assertEqual((len(ciphers), len(hashes)), (17, 10))
        self.assertEqual(ciphers[6].get_attribute("data-text"),
                         "Thin Ice -  block: 64 bits, key: 64 bits ")
        self.assertEqual(hashes[9].get_attribute("data-text"), "Tiger  - digest: 192 bits")
        self.assertEqual(Select(self.el("ComboBox1")).first_selected_option.get_attribute("value"), "0")
        self.assertEqual(Select(self.el("ComboBox2")).first_selected_option.get_attribute("value"), "0")
        self.el("PhraseEdt").send_keys("x" * 90)
        self.assertEqual(len(self.el("PhraseEdt").get_attribute("value")), 80)
        self.assertEqual(self.el("PhraseEdt").get_attribute("type"), "password")
        self.el("sCheckBox1").click()
        self.assertEqual(self.el("RPhraseEdt").get_attribute("type"), "text")

    def test_encrypt_and_decrypt_match_the_golden_files(self):
        self.open("download")
        golden = (GOLDEN / "serpent-sha256.bin").read_bytes()
        self.fill(GOLDEN / "plaintext.bin", GOLDEN_PHRASE, "serpent", "sha256", "enc-serpent.bin")
        self.el("EncryptBtn").click()
        self.wait_status("Last action: File encrypted successfully")
        self.assertEqual(self.downloaded("enc-serpent.bin"), golden)
        # A success clears the fields, as the window does.
        self.assertEqual(self.el("PhraseEdt").get_attribute("value"), "")
        self.assertEqual(Select(self.el("ComboBox1")).first_selected_option.get_attribute("value"), "0")

        self.fill(GOLDEN / "rc4-tiger.bin", GOLDEN_PHRASE, None, "tiger", "dec-rc4.bin")
        Select(self.el("ComboBox1")).select_by_value("12")
        self.el("DecryptBtn").click()
        self.wait_status("Last action: File decrypted successfully")
        self.assertEqual(self.downloaded("dec-rc4.bin"), (GOLDEN / "plaintext.bin").read_bytes())

    def test_mismatch_touches_nothing(self):
        self.open("download")
        self.fill(GOLDEN / "plaintext.bin", "one", target="never.bin", retype="One")
        self.el("EncryptBtn").click()
        self.wait_status("Last action: Passphrase mismatch !, retype phrase")
        time.sleep(0.5)
        self.assertFalse((self.downloads / "never.bin").exists())

    def test_wrong_key_notice_and_find(self):
        self.open("download")
        self.fill(DATA / "samples" / "document.pdf", "right one", "twofish", "sha256", "doc.kry")
        self.el("EncryptBtn").click()
        self.wait_status("Last action: File encrypted successfully")
        encrypted = self.tmp / "doc.kry"
        encrypted.write_bytes(self.downloaded("doc.kry"))

        # The right passphrase under the default menus: garbage, the notice, and the search.
        self.fill(encrypted, "right one", target="doc-wrong.pdf")
        self.el("DecryptBtn").click()
        self.wait_status("Last action: File decrypted successfully")
        notice = self.el("WrongKeyNotice")
        WebDriverWait(self.driver, 10).until(lambda d: notice.is_displayed())
        self.assertIn("probably wrong", self.el("NoticeText").text)
        self.assertEqual(self.el("PhraseEdt").get_attribute("value"), "right one")  # kept
        self.el("NoticeFind").click()
        self.wait_status("Last action: Cipher and hash found")
        self.assertFalse(notice.is_displayed())
        self.assertIn("Twofish with SHA256 (PDF signature)", self.cause())
        self.assertEqual(Select(self.el("ComboBox1")).first_selected_option.get_attribute("value"), "16")
        self.assertEqual(Select(self.el("ComboBox2")).first_selected_option.get_attribute("value"), "6")

        # A wrong passphrase: nothing fits.
        for id_ in ("PhraseEdt", "RPhraseEdt"):
            self.el(id_).clear()
            self.el(id_).send_keys("wrong one")
        self.el("FindBtn").click()
        self.wait_status("Last action: No cipher and hash found")

    def test_settings_file_fills_the_fields(self):
        self.open("download")
        source = self.tmp / "report.txt.kry"
        source.write_bytes((GOLDEN / "rijndael-sha1.bin").read_bytes())
        settings = self.tmp / "report.txt-settings.txt"
        # As the Windows program wrote it: Windows-1252, menu texts unquoted.
        settings.write_bytes(("[Settings]\r\nPhrase=" + GOLDEN_PHRASE +
                              "\r\nCipher=Rijndael -block: 128 bits, key: 256 bits\r\n"
                              "Hash=SHA1 - digest: 160 bits\r\n").encode("cp1252"))
        self.choose(source, settings)
        WebDriverWait(self.driver, 10).until(
            lambda d: self.el("PhraseEdt").get_attribute("value") == GOLDEN_PHRASE)
        self.assertEqual(self.el("RPhraseEdt").get_attribute("value"), GOLDEN_PHRASE)
        self.assertEqual(Select(self.el("ComboBox1")).first_selected_option.get_attribute("value"), "13")
        self.assertEqual(Select(self.el("ComboBox2")).first_selected_option.get_attribute("value"), "5")
        self.assertIn("report.txt.kry", self.el("FileEdt").text)
        self.el("DecryptBtn").click()
        self.wait_status("Last action: File decrypted successfully")
        self.assertEqual(self.downloaded("report.txt"), (GOLDEN / "plaintext.bin").read_bytes())

    def test_download_refuses_what_it_cannot_hold(self):
        self.open("download")
        huge = self.tmp / "huge.bin"
        with open(huge, "wb") as f:
            f.truncate((2 << 30) + 1)  # sparse: nothing is read before the refusal
        self.fill(huge, "pw", target="huge.kry")
        self.el("EncryptBtn").click()
        self.wait_status("Last action: File IO error or file does not exists")
        self.assertIn("above 2 GiB", self.cause())
        huge.unlink()

    def test_a_dropped_file_becomes_the_source(self):
        self.open()
        self.driver.execute_script("""
            const files = new DataTransfer();
            files.items.add(new File(['hello'], 'dropped.txt'));
            document.body.dispatchEvent(new DragEvent('drop', { dataTransfer: files, bubbles: true }));""")
        WebDriverWait(self.driver, 10).until(
            lambda d: self.el("FileEdt").text == "dropped.txt (5 bytes)")

    def test_text_tab(self):
        self.open()
        self.el("TextTab").click()
        self.el("TextIn").send_keys("Attack at dawn")
        for id_ in ("PhraseEdt", "RPhraseEdt"):
            self.el(id_).send_keys("correct horse")
        self.el("EncryptBtn").click()
        WebDriverWait(self.driver, 10).until(lambda d: self.el("TextOut").get_attribute("value"))
        # What kryvane-cli text encrypt gives (tests/data/text.vec).
        self.assertEqual(self.el("TextOut").get_attribute("value"), "hxE1P/LSbM4lj5QnsyA=")
        self.el("TextIn").clear()
        self.el("TextIn").send_keys("hxE1P/LSbM4lj5QnsyA=")
        self.el("DecryptBtn").click()
        WebDriverWait(self.driver, 10).until(
            lambda d: self.el("TextOut").get_attribute("value") == "Attack at dawn")

    def test_long_job_shows_progress_answers_and_cancels(self):
        # 24 MiB in 24 slices, each held 60 ms by the page's test hook: a job of a few seconds,
        # as a file of some hundred megabytes takes, without the time to make and read one.
        big = self.tmp / "big.bin"
        big.write_bytes(os.urandom(24 << 20))
        self.open("download&delay=60")
        self.fill(big, "pw", "3des", None, "big.kry")
        self.el("EncryptBtn").click()
        progress = self.el("JobProgress")
        seen = set()
        answered = False
        deadline = time.monotonic() + 120
        while self.status().startswith("Encrypting") and time.monotonic() < deadline:
            value = int(progress.get_attribute("value"))
            seen.add(value)
            if 0 < value < 100 and not answered:
                # The page answers input during the job: switch tabs and type.
                self.el("TextTab").click()
                self.el("TextIn").send_keys("still here")
                self.assertEqual(self.el("TextIn").get_attribute("value"), "still here")
                self.el("FileTab").click()
                answered = self.status().startswith("Encrypting")
            time.sleep(0.05)
        self.assertTrue(answered, "the page did not answer while the job ran")
        self.assertTrue(any(0 < v < 100 for v in seen), f"no progress between 0 and 100: {seen}")
        self.wait_status("Last action: File encrypted successfully")
        self.assertEqual(len(self.downloaded("big.kry")), 24 << 20)

        # Cancel half-way: nothing is saved.
        self.fill(big, "pw", target="big-cancelled.kry")
        self.el("EncryptBtn").click()
        WebDriverWait(self.driver, 60).until(
            lambda d: int(progress.get_attribute("value")) >= 10)
        self.el("CancelBtn").click()
        self.wait_status("Last action: Cancelled, nothing written")
        time.sleep(1)
        self.assertFalse((self.downloads / "big-cancelled.kry").exists())

    def test_streaming_save_writes_slice_by_slice(self):
        self.open()
        # Stands in for the browser's save dialog: a file that records each write.
        self.driver.execute_script("""
            window.saved = { writes: [], closed: false, aborted: false };
            window.showSaveFilePicker = async (opts) => ({
              name: opts.suggestedName,
              createWritable: async () => ({
                write: async (data) => { saved.writes.push(new Uint8Array(data)); },
                close: async () => { saved.closed = true; },
                abort: async () => { saved.aborted = true; },
              }),
            });""")
        source = self.tmp / "stream.bin"
        plain = (GOLDEN / "plaintext.bin").read_bytes()
        source.write_bytes(plain * 280)  # 2,520,280 bytes: three slices
        self.fill(source, GOLDEN_PHRASE, "blowfish", "haval", "stream.kry")
        self.el("EncryptBtn").click()
        self.wait_status("Last action: File encrypted successfully")
        sizes, closed, aborted, head = self.driver.execute_script("""
            const all = saved.writes;
            let s = ''; for (const b of all[0].subarray(0, 9001)) s += String.fromCharCode(b);
            return [all.map((w) => w.length), saved.closed, saved.aborted, btoa(s)];""")
        self.assertEqual(sizes, [1 << 20, 1 << 20, len(plain) * 280 - (2 << 20)])
        self.assertEqual((closed, aborted), (True, False))
        # One chain over the whole file: its first 1125 blocks are the golden file's (whose last
        # byte, a partial block there, is not one here).
        self.assertEqual(base64.b64decode(head)[:9000],
                         (GOLDEN / "blowfish-haval.bin").read_bytes()[:9000])

    def test_zz_no_network_request(self):
        self.open()
        # The page's policy refuses a connection (to a loopback port, so a fault reaches nothing).
        verdict = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            let violated = '';
            document.addEventListener('securitypolicyviolation', (e) => { violated = e.effectiveDirective; });
            fetch('http://127.0.0.1:9/').then(() => done('fetched'),
                () => setTimeout(() => done('refused:' + violated), 100));""")
        self.assertEqual(verdict, "refused:connect-src")
        self.collect_requests()
        self.assertTrue(self.requests)
        outside = [u for u in self.requests if not u.startswith(("file:", "blob:", "data:"))
                   and u != "http://127.0.0.1:9/"]
        self.assertEqual(outside, [])


if __name__ == "__main__":
    PAGE = sys.argv.pop(1)
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
