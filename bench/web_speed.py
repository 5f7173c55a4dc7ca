"""Speed of the page in headless Chromium (bench/web.sh runs it): raw CBC MB/s of the WebAssembly
module in the page's worker, as kryvane_speed measures the native code (in-place calls of 8192
bytes on one chain, best of three windows), and a whole job through the page's slice loop with a
save target that discards what it is given, with the browser's peak memory.
    /usr/bin/python3 bench/web_speed.py PAGE SECONDS JOB_FILE CIPHER...
Prints "NAME ENCRYPT DECRYPT" lines, then "job NAME MB/S TAB_PEAK TAB_IDLE ALL_PEAK ALL_IDLE"
(PSS in MiB of the renderers, and of every browser process).
"""
import os
import pathlib
import sys
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# Runs in a worker made of the page's own worker source, so it times the module the page uses.
RAW = """
const done = arguments[arguments.length - 1];
const [seconds, names] = [arguments[0], arguments[1]];
const code = document.getElementById('worker-source').textContent + `
self.onmessage = async (e) => {
  const M = await KryvaneModule();
  const core = kryvaneCore(M);
  const list = core.catalogue().ciphers;
  const out = [];
  for (const name of e.data.names) {
    const at = list.findIndex((c) => c.name === name);
    const row = [name];
    for (const encrypt of [true, false]) {
      // Haval's 256-bit digest: the key size kryvane_speed uses for these ciphers.
      const job = core.openJob(encrypt, at, 0, 'bench');
      const size = 8192;
      const buf = core.alloc(size);
      for (let i = 0; i < 64; i++) M._kv_job_update(job, buf, size, 0);
      let best = 0;
      for (let w = 0; w < 3; w++) {
        let calls = 0;
        const start = performance.now();
        let elapsed = 0;
        do {
          for (let i = 0; i < 32; i++) M._kv_job_update(job, buf, size, 0);
          calls += 32;
          elapsed = (performance.now() - start) / 1000;
        } while (elapsed < e.data.seconds);
        best = Math.max(best, calls * size / elapsed / 1e6);
      }
      core.free(buf, size);
      core.closeJob(job);
      row.push(best);
    }
    out.push(row);
  }
  self.postMessage(out);
};`;
const w = new Worker(URL.createObjectURL(new Blob([code], { type: 'text/javascript' })));
w.onmessage = (e) => { if (Array.isArray(e.data)) done(e.data); };
w.postMessage({ seconds, names });
"""

# A save target that takes each slice and forgets it: the streaming path without a disk.
DISCARD = """
window.showSaveFilePicker = async (opts) => ({
  name: opts.suggestedName,
  createWritable: async () => ({ write: async () => {}, close: async () => {}, abort: async () => {} }),
});
"""


def browser_rss_mib(service_pid, renderers_only=False):
    """Memory (PSS, MiB) of the processes below the driver: the browser and all its helpers, or
    only the renderers (the tab, with its worker)."""
    children = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            children.setdefault(ppid, []).append(int(pid))
        except OSError:
            pass
    total, todo = 0, list(children.get(service_pid, []))
    while todo:
        pid = todo.pop()
        todo += children.get(pid, [])
        try:
            if renderers_only:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if b"--type=renderer" not in f.read():
                        continue
            # Proportional set size: memory shared between the browser's processes counts once.
            with open(f"/proc/{pid}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total / 1024


def main():
    page, seconds, job_file, names = sys.argv[1], float(sys.argv[2]), sys.argv[3], sys.argv[4:]
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--no-first-run", "--disable-background-networking", "--disable-component-update",
                "--proxy-server=http://127.0.0.1:9", "--proxy-bypass-list=<-loopback>"):
        options.add_argument(arg)
    service = Service("/usr/bin/chromedriver")
    driver = webdriver.Chrome(service=service, options=options)
    try:
        driver.set_script_timeout(600)
        driver.get(pathlib.Path(page).resolve().as_uri())
        WebDriverWait(driver, 30).until(
            lambda d: d.execute_script("return document.body.dataset.ready === 'true'"))
        for name, enc, dec in driver.execute_async_script(RAW, seconds, names):
            print(f"{name} {enc:.1f} {dec:.1f}", flush=True)

        size = os.path.getsize(job_file)
        pid = service.process.pid
        idle = (browser_rss_mib(pid), browser_rss_mib(pid, True))
        for name in names:
            driver.execute_script(DISCARD)
            driver.find_element(By.ID, "FileInput").send_keys(job_file)
            for id_ in ("PhraseEdt", "RPhraseEdt"):
                driver.find_element(By.ID, id_).send_keys("bench")
            catalogue = driver.execute_script(
                "return Array.from(document.getElementById('ComboBox1').options)"
                ".map((o) => o.dataset.text)")
            index = [i for i, t in enumerate(catalogue) if t.lower().startswith(name[:4])][0]
            Select(driver.find_element(By.ID, "ComboBox1")).select_by_value(str(index))
            peak = list(idle)
            running = [True]

            def sample():
                while running[0]:
                    peak[0] = max(peak[0], browser_rss_mib(pid))
                    peak[1] = max(peak[1], browser_rss_mib(pid, True))
                    time.sleep(0.1)

            sampler = threading.Thread(target=sample)
            sampler.start()
            start = time.monotonic()
            driver.find_element(By.ID, "DecryptBtn").click()
            WebDriverWait(driver, 600, poll_frequency=0.05).until(
                lambda d: "decrypted" in d.find_element(By.ID, "StatusText").text)
            elapsed = time.monotonic() - start
            running[0] = False
            sampler.join()
            driver.execute_script("document.getElementById('WrongKeyNotice').close();"
                                  "document.getElementById('ClearBtn').click()")
            print(f"job {name} {size / elapsed / 1e6:.1f} {peak[1]:.0f} {idle[1]:.0f} {peak[0]:.0f} "
                  f"{idle[0]:.0f}", flush=True)
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
