"""lopper-cluster's --html page in headless Chromium, used as a person uses
it: real mouse and keyboard events through selenium, and what the page
shows or saves compared with what the command writes for the same cut."""
import json
import os
import re
import shutil
import struct
import subprocess
import time
import zlib

import numpy as np
import pytest

from conftest import missing

SEED = 20261210
NROWS, NCOLUMNS = 200, 20


def write_table(path, values, names, columns):
    with open(path, "w", encoding="utf-8") as f:
        f.write("gene\t" + "\t".join(columns) + "\n")
        for name, row in zip(names, values):
            cells = ["" if np.isnan(v) else f"{v:.3f}" for v in row]
            f.write(name + "\t" + "\t".join(cells) + "\n")


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    """A planted 200 x 20 table with gaps, one row all missing, names that
    need escaping; the pages and Newick tree the command writes of it."""
    exe = os.environ.get("LOPPER_CLUSTER", "")
    if not os.access(exe, os.X_OK):
        missing("lopper-cluster is not built here (LOPPER_CLUSTER)")
    print(f"seed {SEED}")
    rng = np.random.default_rng(SEED)
    centres = rng.normal(scale=2.0, size=(5, NCOLUMNS))
    values = centres[rng.integers(0, 5, NROWS)] + rng.normal(size=(NROWS, NCOLUMNS))
    values[rng.random(values.shape) < 0.03] = np.nan
    values[7] = np.nan
    names = [f"g{i}" for i in range(NROWS)]
    names[3], names[11], names[42] = "Heat Shock", "α-crystallin", "</script><b>\"&'"
    columns = [f"s{j}" for j in range(NCOLUMNS)]
    work = tmp_path_factory.mktemp("page")
    table = work / "planted.tsv"
    write_table(table, values, names, columns)
    annotations = work / "groups.tsv"
    annotations.write_text("sample\tgroup\n" + "".join(f"s{j}\t{'AB'[j % 2]}\n" for j in range(NCOLUMNS)))
    base = [exe, str(table), "-m", "average", "-d", "euclidean", "-q", "--drop-empty"]

    def run(*args):
        return subprocess.run(base + list(args), check=True, capture_output=True, text=True).stdout

    run("-k", "4", "--html", str(work / "plain.html"), "--newick", str(work / "plain.nwk"),
        "--column-annotations", str(annotations), "--cluster-columns", "average",
        "--bootstrap", "20", "--seed", "1")
    run("-k", "4", "--min-size", "3", "--html", str(work / "small.html"))
    kmeans = subprocess.run([exe, str(table), "-m", "kmeans", "-k", "4", "-q", "--drop-empty",
                             "--html", str(work / "kmeans.html"), "--clusters", "-"],
                            check=True, capture_output=True, text=True).stdout
    return {"work": work, "names": names, "values": values, "run": run, "kmeans": kmeans,
            "pages": {"plain": [], "small": ["--min-size", "3"]}}


@pytest.fixture(scope="module")
def browser():
    try:
        from selenium import webdriver
    except ImportError:
        missing("python3-selenium is not installed; the page is not opened")
    if not shutil.which("chromedriver") or not shutil.which("chromium"):
        missing("chromium or chromium-driver is not installed; the page is not opened")
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,800"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(options=options)
    yield driver
    driver.quit()


def open_page(driver, path, size=(1200, 800)):
    driver.set_window_size(*size)
    driver.get(path.as_uri())
    deadline = time.time() + 30
    while not driver.execute_script("return !!(window.lopper && window.lopper.ready)"):
        assert time.time() < deadline, "the page did not get ready"
        time.sleep(0.05)


def actions(driver):
    from selenium.webdriver.common.action_chains import ActionChains
    return ActionChains(driver)


def element(driver, id_):
    from selenium.webdriver.common.by import By
    return driver.find_element(By.ID, id_)


def command_cut(data, page, height):
    """The clusters file the command writes for --height, as text."""
    return data["run"]("--height", repr(height), "--clusters", "-", *data["pages"][page])


def test_loads_with_no_console_error_and_no_request(browser, data):
    for page in data["pages"]:
        path = data["work"] / f"{page}.html"
        browser.get_log("performance")  # drop what came before
        open_page(browser, path)
        errors = [e for e in browser.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        assert errors == []
        requested = [json.loads(e["message"])["message"] for e in browser.get_log("performance")]
        urls = {m["params"]["request"]["url"] for m in requested
                if m["method"] == "Network.requestWillBeSent"}
        assert urls <= {path.as_uri()}, urls


def leaf_names(newick):
    """The leaves of a Newick tree, left to right (quoted names unquoted)."""
    tokens = re.findall(r"'((?:[^']|'')*)'|([^(),:;\s]+)|([(),:;])", newick)
    names, after_close, after_colon = [], False, False
    for quoted, bare, punctuation in tokens:
        if punctuation:
            after_close, after_colon = punctuation == ")", punctuation == ":"
            continue
        if not after_close and not after_colon:
            names.append(quoted.replace("''", "'") if quoted else bare)
        after_close = after_colon = False
    return names


def test_rows_are_drawn_in_the_newick_leaf_order_with_its_support(browser, data):
    open_page(browser, data["work"] / "plain.html")
    kept = [n for k, n in enumerate(data["names"]) if k != 7]  # row 7 has no values
    order = browser.execute_script("return lopper.order")
    newick = (data["work"] / "plain.nwk").read_text()
    assert [kept[e] for e in order] == leaf_names(newick)
    labels = browser.execute_script(
        "return JSON.parse(document.getElementById('lopper-data').textContent).treeLabels")
    inner = re.findall(r"\)(\d+)[:;]", newick)
    assert sorted(labels) == sorted(inner) and len(inner) == len(kept) - 1


def drag_cut_line(driver, share):
    """Drags the cut line to `share` of the row tree's width from the
    root's side (the tree is the first 160 pixels after an 8-pixel margin)."""
    line = element(driver, "cut-line")
    target = round(element(driver, "canvas").rect["x"] + 8 + 160 * share)
    centre = line.rect["x"] + line.rect["width"] / 2
    actions(driver).click_and_hold(line).move_by_offset(round(target - centre), 0).release().perform()
    # The line follows the pointer (to the 4 digits the height is rounded to).
    assert abs(line.rect["x"] + line.rect["width"] / 2 - target) <= 1


def test_dragging_the_cut_line_cuts_at_that_height(browser, data):
    for page in data["pages"]:
        open_page(browser, data["work"] / f"{page}.html")
        counts = set()
        for share in (0.3, 0.6, 0.8, 0.9):  # of the tree's width from its root
            drag_cut_line(browser, share)
            height = browser.execute_script("return lopper.height")
            expected = command_cut(data, page, height)
            assert browser.execute_script("return lopper.clustersText()") == expected, (page, height)
            ids = [int(line.split("\t")[1]) for line in expected.splitlines()[1:] if "NA" not in line]
            assert browser.execute_script("return lopper.clusters()") == ids
            count = len(set(ids) - {0})
            assert element(browser, "cluster-count").text.startswith(f"{count} cluster")
            counts.add(count)
        assert len(counts) > 2, counts
        # Exactly at a merge's height, the merge is inside the cut.
        heights = sorted(browser.execute_script(
            "return JSON.parse(document.getElementById('lopper-data').textContent).rowTree.height"))
        for height in heights[-2], heights[-9], heights[len(heights) // 2]:
            browser.execute_script("lopper.cut(arguments[0])", height)
            assert browser.execute_script("return lopper.clustersText()") == command_cut(data, page, height)


def test_download_saves_the_commands_clusters_file(browser, data, tmp_path):
    open_page(browser, data["work"] / "small.html")
    browser.execute_cdp_cmd("Browser.setDownloadBehavior",
                            {"behavior": "allow", "downloadPath": str(tmp_path)})
    drag_cut_line(browser, 0.7)
    element(browser, "download").click()
    saved = tmp_path / "planted-clusters.tsv"
    deadline = time.time() + 20
    while not saved.exists():
        assert time.time() < deadline, f"nothing saved: {list(tmp_path.iterdir())}"
        time.sleep(0.1)
    height = browser.execute_script("return lopper.height")
    assert saved.read_text(encoding="utf-8") == command_cut(data, "small", height)


def test_the_search_box_finds_and_shows_names(browser, data):
    open_page(browser, data["work"] / "plain.html")
    kept = [n for k, n in enumerate(data["names"]) if k != 7]
    box = element(browser, "search")
    box.click()
    box.send_keys("heat")
    assert element(browser, "search-count").text == "1 found"
    first, last = browser.execute_script("return lopper.visible()")
    order = browser.execute_script("return lopper.order")
    assert first <= order.index(kept.index("Heat Shock")) <= last
    assert last - first < len(kept) - 1  # scrolled in, not all shown
    for text in ("g1", "Α-CRY", "<b>", "none of them"):
        found = browser.execute_script("return lopper.search(arguments[0])", text)
        assert [kept[e] for e in found] == [kept[e] for e in order if text.lower() in kept[e].lower()]


def canvas_pixels(driver):
    return element(driver, "canvas").screenshot_as_png


def test_zooming_and_panning_change_what_is_drawn(browser, data):
    from selenium.webdriver.common.actions.wheel_input import ScrollOrigin
    open_page(browser, data["work"] / "plain.html")
    whole = browser.execute_script("return lopper.visible()")
    assert whole == [0, NROWS - 2]
    before = canvas_pixels(browser)
    actions(browser).send_keys("++").perform()
    zoomed = browser.execute_script("return lopper.visible()")
    assert zoomed[1] - zoomed[0] < (whole[1] - whole[0]) / 2
    assert canvas_pixels(browser) != before
    canvas = element(browser, "canvas")
    actions(browser).click_and_hold(canvas).move_by_offset(0, -150).release().perform()
    panned = browser.execute_script("return lopper.visible()")
    assert panned[0] > zoomed[0]
    actions(browser).scroll_from_origin(ScrollOrigin.from_element(canvas), 0, -400).perform()
    wheeled = browser.execute_script("return lopper.visible()")
    assert wheeled[1] - wheeled[0] < panned[1] - panned[0]
    actions(browser).send_keys("-").perform()
    assert browser.execute_script("return lopper.visible()")[1] - wheeled[1] >= 0
    element(browser, "zoom-reset").click()
    assert browser.execute_script("return lopper.visible()") == whole


def shortest(x):
    """x as the command writes it: the shortest decimal, no ".0" on whole numbers."""
    text = repr(x)
    return text[:-2] if text.endswith(".0") else text


def test_hovering_a_cell_shows_its_row_column_and_value(browser, data):
    open_page(browser, data["work"] / "plain.html")
    kept = [k for k in range(NROWS) if k != 7]
    canvas = element(browser, "canvas")
    page_data = "JSON.parse(document.getElementById('lopper-data').textContent)"
    columns = browser.execute_script(f"return {page_data}.columnOrder")[:8]  # in view when zoomed
    values = data["values"][kept][:, columns]
    missing_row = int(np.argwhere(np.isnan(values))[0][0])
    for e, column in (0, columns[0]), (100, columns[5]), (missing_row, columns[int(np.argwhere(np.isnan(values[missing_row]))[0][0])]):
        browser.execute_script("lopper.search(arguments[0])", data["names"][kept[e]])
        x, y = browser.execute_script("return lopper.cellCentre(arguments[0], arguments[1])", e, column)
        box = canvas.rect
        actions(browser).move_to_element_with_offset(
            canvas, x - box["x"] - box["width"] / 2, y - box["y"] - box["height"] / 2).perform()
        value = data["values"][kept[e], column]
        text = element(browser, "tooltip").text.splitlines()
        assert text[:3] == [data["names"][kept[e]], f"s{column}",
                            "value: " + ("missing" if np.isnan(value) else shortest(float(f"{value:.3f}")))]


def png_pixels(png):
    """The RGB(A) rows of an 8-bit, non-interlaced PNG, filters undone."""
    width, height, depth, colour = struct.unpack(">IIBB", png[16:26])
    assert depth == 8 and colour in (2, 6)
    channels = 3 if colour == 2 else 4
    data, at = b"", 8
    while at < len(png):
        size, kind = struct.unpack(">I4s", png[at:at + 8])
        if kind == b"IDAT":
            data += png[at + 8:at + 8 + size]
        at += 12 + size
    raw, stride, rows, previous = zlib.decompress(data), width * channels, [], bytearray(width * channels)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                best = min((abs(p - left), 0, left), (abs(p - up), 1, up), (abs(p - corner), 2, corner))
                line[i] = (line[i] + best[2]) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def test_a_partition_is_drawn_grouped_by_its_clusters(browser, data):
    open_page(browser, data["work"] / "kmeans.html")
    assert browser.get_log("browser") == []
    ids = [int(line.split("\t")[1]) for line in data["kmeans"].splitlines()[1:] if "NA" not in line]
    assert browser.execute_script("return lopper.clusters()") == ids
    drawn = [ids[e] for e in browser.execute_script("return lopper.order")]
    assert drawn == sorted(drawn)
    assert not element(browser, "cut-line").is_displayed()


def test_screenshots_at_two_sizes_are_not_blank(browser, data):
    for size in ((1200, 800), (640, 480)):
        open_page(browser, data["work"] / "plain.html", size)
        width, _, channels, rows = png_pixels(browser.get_screenshot_as_png())
        colours = {row[i:i + 3] for row in rows[::4] for i in range(0, width * channels, channels * 4)}
        # The scale's blues and reds, the band's and annotations' colours.
        assert len(colours) > 50, (size, len(colours))
