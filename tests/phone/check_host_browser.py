#!/usr/bin/env python3
"""The host's page in a real browser at a phone's size, driven step by step.

check_host_browser.py URL PASSWORD SHOTS_FOLDER

Run by the stage test HostInBrowser.TheStageFollowsEachStep, which serves the page from a live
stage.  Drives headless Chromium (360 x 740) through Selenium: the password,
Next, the key up twice, a queue entry moved up, another removed.  After each
step it prints "passo NAME" and waits for the test to answer "ok" on its
standard input once the stage has been checked.  Prints "FALHOU: ..." for
each failed check.  Exits 77 (skipped) without Chromium, its driver or
Selenium.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_phone_browser import phone_browser  # noqa: E402

SKIP = 77


def main():
    url, password, shots = sys.argv[1], sys.argv[2], sys.argv[3]
    sys.stdin.reconfigure(encoding="utf-8")
    sys.stdout.reconfigure(encoding="utf-8")
    driver = phone_browser()
    if driver is None:
        return SKIP
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import WebDriverWait
    os.makedirs(shots, exist_ok=True)
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)
            print("FALHOU:", what, flush=True)

    def step(name, shows):
        print("passo", name, flush=True)
        stage = sys.stdin.readline().rstrip("\n")
        check(stage == shows, "the stage after %s: %r" % (name, stage))

    # The page draws its queue anew at every refresh: read and click in one go.
    def queue_texts(d):
        return d.execute_script("return Array.from(document.querySelectorAll('#fila li .texto'), e => e.textContent)")

    def click_in_queue(row, button):
        driver.execute_script("document.querySelectorAll('#fila li')[arguments[0]].querySelector(arguments[1]).click()",
                              row, "." + button)

    try:
        wait = WebDriverWait(driver, 15)
        driver.get(url)
        # A wrong password is refused; the right one opens the panel.
        driver.find_element(By.ID, "senha").send_keys("000000" if password != "000000" else "111111")
        driver.find_element(By.ID, "entrar").click()
        wait.until(lambda d: d.find_element(By.ID, "aviso").text != "")
        check(driver.find_element(By.ID, "aviso").text == "Senha errada.",
              "wrong password: %r" % driver.find_element(By.ID, "aviso").text)
        check(not driver.find_element(By.ID, "painel").is_displayed(), "the panel stays hidden")
        driver.find_element(By.ID, "senha").send_keys(password)
        driver.find_element(By.ID, "entrar").click()
        wait.until(lambda d: len(queue_texts(d)) == 3)
        texts = queue_texts(driver)
        check(texts[1] == "00002 Bia - Grupo - <i>Dois</i>", "the stage's queue, markup as text: %r" % texts)
        check(not driver.find_elements(By.CSS_SELECTOR, "#fila i"), "no markup made")
        width = driver.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
        check(width[1] == 360 and width[0] <= width[1], "fits the phone's width: %r" % width)
        driver.save_screenshot(os.path.join(shots, "host-queue.png"))
        step("senha", "0||0|00001 - Ana - Grupo - Um;00002 - Bia - Grupo - <i>Dois</i>;00003 - Caio - Grupo - Três")

        driver.find_element(By.ID, "proxima").click()
        wait.until(lambda d: "Ana" in d.find_element(By.ID, "tocando").text)
        check(driver.find_element(By.ID, "tocando").text == "00001 Ana - Um",
              "what plays: %r" % driver.find_element(By.ID, "tocando").text)
        wait.until(lambda d: len(queue_texts(d)) == 2)
        step("proxima", "1|Ana - Um|0|00002 - Bia - Grupo - <i>Dois</i>;00003 - Caio - Grupo - Três")

        driver.find_element(By.ID, "tom-mais").click()
        wait.until(lambda d: d.find_element(By.ID, "tom").text == "+1")
        driver.find_element(By.ID, "tom-mais").click()
        wait.until(lambda d: d.find_element(By.ID, "tom").text == "+2")
        step("tom", "1|Ana - Um|2|00002 - Bia - Grupo - <i>Dois</i>;00003 - Caio - Grupo - Três")

        click_in_queue(1, "subir")
        wait.until(lambda d: queue_texts(d)[0].startswith("00003 Caio"))
        step("subir", "1|Ana - Um|2|00003 - Caio - Grupo - Três;00002 - Bia - Grupo - <i>Dois</i>")

        click_in_queue(1, "remover")
        wait.until(lambda d: len(queue_texts(d)) == 1)
        check(queue_texts(driver) == ["00003 Caio - Grupo - Três"], "the queue left: %r" % queue_texts(driver))
        driver.save_screenshot(os.path.join(shots, "host-playing.png"))
        step("remover", "1|Ana - Um|2|00003 - Caio - Grupo - Três")

        # The stage's own changes reach the page by themselves.
        step("apagar", "1|Ana - Um|2|")
        wait.until(lambda d: len(queue_texts(d)) == 0)
    except Exception as error:  # a wait that timed out, an element missing
        driver.save_screenshot(os.path.join(shots, "host-failure.png"))
        check(False, "%s: %s (the page says %r)" % (type(error).__name__, error,
                                                   driver.find_element(By.TAG_NAME, "body").text))
    finally:
        driver.quit()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
