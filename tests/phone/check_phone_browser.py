#!/usr/bin/env python3
"""The guests' page in a real browser at a phone's size.

check_phone_browser.py VOZARO_PEDIDOS SHOTS_FOLDER

Makes a catalogue, serves it with vozaro-pedidos on 127.0.0.1 and drives
headless Chromium (360 x 740) through Selenium: opens the QR code's address,
searches a title's word without accents, types a name, presses "Pedir" and
reads the position; the request must reach the queue, marked as this phone's
with its wait (after another guest's request for a song that cannot be read:
about 4 minutes), and every text from the catalogue must show as text; then
it is cancelled.  Without the code in the address the page asks
for it.  Screenshots go to SHOTS_FOLDER.  Exits 77 (skipped) without
Chromium, its driver or Selenium.
"""
import http.client
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77


def entry(number, performer, title, file_name):
    def field(text, size):
        data = text.encode("cp1252")[:size]
        return bytes([len(data)]) + data + bytes(size - len(data))
    record = field(performer, 50) + field(title, 50) + field(file_name, 255) + bytes(2) + struct.pack("<i", number)
    assert len(record) == 364
    return record


def phone_browser():
    """Headless Chromium at a phone's size (360 x 740 CSS pixels) through
    Selenium; None, with the reason printed, without Chromium, its driver or
    Selenium."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        print("python3-selenium is not installed: skipped", flush=True)
        return None
    browser = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if not browser or not driver_path:
        print("chromium and chromium-driver are not installed: skipped", flush=True)
        return None
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=360,740",
                     "--disable-dev-shm-usage"):
        options.add_argument(argument)
    options.add_experimental_option("mobileEmulation",
                                    {"deviceMetrics": {"width": 360, "height": 740, "pixelRatio": 1.0}})
    return webdriver.Chrome(service=Service(executable_path=driver_path), options=options)


def main():
    tool, shots = sys.argv[1], sys.argv[2]
    driver = phone_browser()
    if driver is None:
        return SKIP
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait

    os.makedirs(shots, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="vozaro-browser-")
    songs = [(1, "Caetano", "Café com Leão"), (2, "Tom & <b>Jobim</b>", "<script>alert(1)</script>"),
             (3, "Águas", "Rio de Março")]
    with open(os.path.join(folder, "vozaro.alb"), "wb") as album:
        for number, performer, title in songs:
            album.write(entry(number, performer, title, "m%d.kar" % number))
    open(os.path.join(folder, "vozaro.idx"), "wb").close()

    server = subprocess.Popen([tool, folder, "18480"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        url = server.stdout.readline().strip()
        if not url.startswith("http://127.0.0.1:"):
            print("vozaro-pedidos did not start:", url)
            return 1
        wait = WebDriverWait(driver, 15)
        failures = []
        checks = []

        def check(condition, what):
            checks.append(what)
            if not condition:
                failures.append(what)
                print("FAILED:", what)

        # The QR code's address: the code is known, its field hidden.
        driver.get(url)
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#resultados li")) == 3)
        check(not driver.find_element(By.ID, "acesso").is_displayed(), "the code field is hidden")
        width = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
        check(width[1] == 360 and width[0] <= width[1], "fits the phone's width: %r" % width)
        # Catalogue texts show as text, never as markup.
        texts = [li.text for li in driver.find_elements(By.CSS_SELECTOR, "#resultados li .musica")]
        check("Tom & <b>Jobim</b> - <script>alert(1)</script>" in texts, "markup shown as text: %r" % texts)
        check(not driver.find_elements(By.CSS_SELECTOR, "#resultados b, #resultados script"), "no markup made")

        # Another guest, from another address, asks first for a song whose
        # file cannot be read (4 minutes).
        host, port = url.split("/")[2].split(":")
        other = http.client.HTTPConnection(host, int(port), timeout=10, source_address=("127.0.0.2", 0))
        other.request("POST", "/api/pedidos", json.dumps({"numero": 3, "cantor": "Bia", "codigo": url[-6:]}),
                      {"Content-Type": "application/json"})
        check(other.getresponse().status == 201, "another guest's request")
        other.close()
        check(server.stdout.readline().startswith("00003 - Bia"), "the other request queued")

        query = driver.find_element(By.NAME, "q")
        query.send_keys("cafe leao\n")
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#resultados li")) == 1)
        check("00001" in driver.find_element(By.CSS_SELECTOR, "#resultados li").text, "song 1 found without accents")
        driver.find_element(By.NAME, "cantor").send_keys("Ana <i>")
        driver.find_element(By.CSS_SELECTOR, "#resultados li .pedir").click()
        wait.until(lambda d: d.find_element(By.ID, "aviso").text.startswith("Pedido enviado"))
        check(driver.find_element(By.ID, "aviso").text == "Pedido enviado! Você é o 2º da fila.",
              "the position: %r" % driver.find_element(By.ID, "aviso").text)
        wait.until(lambda d: "Ana <i>" in d.find_element(By.ID, "fila").text)
        # This phone's own request is marked, with its wait and a way to
        # take it back; the other guest's is not.
        own = driver.find_elements(By.CSS_SELECTOR, "#fila li.seu")
        check(len(own) == 1 and own[0].text.split("\n")[0] == "2. Ana <i> - Café com Leão",
              "the queue: %r" % driver.find_element(By.ID, "fila").text)
        check(len(own) == 1 and own[0].find_element(By.CSS_SELECTOR, ".espera").text == "Você canta daqui a ~4 min",
              "the wait: %r" % driver.find_element(By.ID, "fila").text)
        driver.save_screenshot(os.path.join(shots, "page-request.png"))
        line = server.stdout.readline().strip()
        check(line == "00001 - Ana <i> - Caetano - Café com Leão", "queued: %r" % line)
        own[0].find_element(By.CSS_SELECTOR, ".cancelar").click()
        wait.until(lambda d: not d.find_elements(By.CSS_SELECTOR, "#fila li.seu"))
        check(driver.find_element(By.ID, "aviso").text == "Pedido cancelado.",
              "cancelled: %r" % driver.find_element(By.ID, "aviso").text)
        check(driver.find_element(By.ID, "fila").text == "1. Bia - Rio de Março",
              "the queue after cancelling: %r" % driver.find_element(By.ID, "fila").text)

        # The name is remembered on the phone.
        driver.get(url)
        wait.until(lambda d: d.find_element(By.NAME, "cantor").get_attribute("value") == "Ana <i>")

        # A typed address asks for the code; a wrong one is refused (after
        # the 10 seconds a phone waits between requests).
        time.sleep(10.5)
        driver.get(url.split("?")[0])
        wait.until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#resultados li")) == 3)
        check(driver.find_element(By.ID, "acesso").is_displayed(), "the code field shows")
        driver.find_element(By.ID, "codigo").send_keys("000000" if not url.endswith("000000") else "111111")
        driver.find_elements(By.CSS_SELECTOR, "#resultados li .pedir")[2].click()
        wait.until(lambda d: d.find_element(By.ID, "aviso").text != "")
        check(driver.find_element(By.ID, "aviso").text == "Código errado.",
              "wrong code: %r" % driver.find_element(By.ID, "aviso").text)
        driver.save_screenshot(os.path.join(shots, "page-code.png"))
        print("%d passed, %d failed" % (len(checks) - len(failures), len(failures)))
        return 1 if failures else 0
    finally:
        driver.quit()
        server.stdin.close()
        server.wait(timeout=10)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
