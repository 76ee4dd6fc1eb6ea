// lopper's page: one clustering's heatmap, trees and cut, drawn on a canvas
// from the data blocks lopper-cluster writes into the file (see
// heatmap_html.h). No library: the browser's canvas, DecompressionStream
// and Blob are all it uses.
//
// For scripts and tests, window.lopper holds:
//   ready         true once the page is drawn
//   order         the rows from top to bottom, as element numbers from 0 in
//                 table order
//   height        the cut's height; null without a row tree
//   cut(h)        moves the cut line to height h, as a drag does; returns
//                 the number of clusters
//   clusters()    each element's cluster, in table order, numbered as
//                 lopper-cluster --clusters numbers a --height cut (1, 2, ...
//                 in order of first element; 0 for elements of clusters
//                 smaller than --min-size); without a tree, the band's
//   clustersText() what the download button saves
//   search(text)  the rows whose name holds text, ignoring case, as element
//                 numbers top to bottom; as typing it in the search box
//                 does, they are highlighted and the first is scrolled to
//   zoom(f)       zooms by factor f about the heatmap's centre
//   visible()     [first, last]: the positions in order of the top and
//                 bottom rows in view
//   cellCentre(e, c) where element e's value of column c is drawn: [x, y]
//                 in the page's CSS pixels, null when out of view
// Stable element ids: canvas, cut-line, search, search-count, download,
// cut-height, cluster-count, zoom-in, zoom-out, zoom-reset, tooltip, legend,
// cluster-legend.
"use strict";
(function () {
  const data = JSON.parse(document.getElementById("lopper-data").textContent);
  const api = { ready: false, order: data.rowOrder.slice(), height: null };
  window.lopper = api;

  const $ = (id) => document.getElementById(id);
  const canvas = $("canvas");
  const context = canvas.getContext("2d");
  const view = $("view");
  const cutLine = $("cut-line");
  const tooltip = $("tooltip");
  const nrows = data.nrows;
  const ncolumns = data.ncolumns;

  // Sizes in CSS pixels.
  const MARGIN = 8;
  const GAP = 4;
  const ROW_TREE = 160;
  const BAND = 12;
  const COLUMN_TREE = 80;
  const ANNOTATION = 14;
  const NAMES = 180;
  const COLUMN_NAMES = 80;
  const LARGEST_FIT_CELL = 24;
  const LARGEST_COLUMN = 40;
  const SMALLEST_NAMED_CELL = 9;
  const SMALLEST_LABELLED_ROW = 6;
  const TILE = 2048;
  const GREY = "#555555";
  const MOST_LEGEND_CLUSTERS = 24;

  // ---- Trees ----------------------------------------------------------

  // A tree of treecluster's records (children before parents, reference r
  // >= 0 element r, r < 0 record -r-1) with each record's place across the
  // axis (midway between its children, rows counted from 0 at the top
  // edge), the highest height below it, its leftmost element, and the
  // heights' range.
  function layOut(tree, order) {
    const n = tree.left.length;
    const leafPlace = new Float64Array(n + 1);
    order.forEach((element, k) => { leafPlace[element] = k + 0.5; });
    const place = new Float64Array(n);
    const highest = new Float64Array(n);
    const firstLeaf = new Int32Array(n);
    const placeOf = (ref) => (ref >= 0 ? leafPlace[ref] : place[-ref - 1]);
    const highestOf = (ref) => (ref >= 0 ? -Infinity : highest[-ref - 1]);
    let low = 0;
    let high = 0;
    for (let i = 0; i < n; i++) {
      const left = tree.left[i];
      firstLeaf[i] = left >= 0 ? left : firstLeaf[-left - 1];
      place[i] = (placeOf(tree.left[i]) + placeOf(tree.right[i])) / 2;
      highest[i] = Math.max(tree.height[i], highestOf(tree.left[i]), highestOf(tree.right[i]));
      low = Math.min(low, tree.height[i]);
      high = Math.max(high, tree.height[i]);
    }
    if (high === low) high = low + 1;
    return { left: tree.left, right: tree.right, height: tree.height, n, place, placeOf,
             highest, firstLeaf, low, high };
  }

  const rowTree = data.rowTree ? layOut(data.rowTree, data.rowOrder) : null;
  const columnTree = data.columnTree ? layOut(data.columnTree, data.columnOrder) : null;

  // Each element's cluster when rowTree is cut at height h: a cluster is a
  // largest subtree with no height above h, numbered from 0 in the order of
  // first elements; then clusters smaller than minSize are left out (-1).
  function cutAt(h) {
    const owner = new Int32Array(rowTree.n).fill(-1);
    const cluster = new Int32Array(nrows).fill(-1);
    let next = 0;
    // Parents come after their children: from the root down.
    for (let i = rowTree.n - 1; i >= 0; i--) {
      if (owner[i] < 0 && rowTree.highest[i] <= h) owner[i] = next++;
      for (const child of [rowTree.left[i], rowTree.right[i]]) {
        if (child >= 0) cluster[child] = owner[i];
        else owner[-child - 1] = owner[i];
      }
    }
    for (let e = 0; e < nrows; e++) if (cluster[e] < 0) cluster[e] = next++;
    return numberByFirstElement(cluster, next, data.minSize);
  }

  // ids: clusters numbered 0 ... count-1 in any order. The same partition
  // numbered 1, 2, ... by first element, clusters under minSize as 0.
  function numberByFirstElement(ids, count, minSize) {
    const size = new Int32Array(count);
    for (const id of ids) size[id]++;
    const number = new Int32Array(count);
    let next = 0;
    return Array.from(ids, (id) => {
      if (size[id] < minSize) return 0;
      if (!number[id]) number[id] = ++next;
      return number[id];
    });
  }

  // ---- Numbers as lopper-cluster writes them --------------------------

  // x as the shortest decimal that reads back as x, in fixed or scientific
  // notation, whichever is shorter (fixed on a tie), as C++'s to_chars.
  function shortest(x) {
    if (x === 0) return Object.is(x, -0) ? "-0" : "0";
    const [, sign, lead, rest, exponentText] =
      /^(-?)(\d)(?:\.(\d+))?e([+-]\d+)$/.exec(x.toExponential());
    const digits = lead + (rest || "");
    const exponent = parseInt(exponentText, 10);
    const size = Math.abs(exponent);
    const scientific = sign + lead + (rest ? "." + rest : "") + "e" +
      (exponent < 0 ? "-" : "+") + (size < 10 ? "0" : "") + size;
    let fixed;
    if (exponent >= digits.length - 1) fixed = digits + "0".repeat(exponent - digits.length + 1);
    else if (exponent >= 0) fixed = digits.slice(0, exponent + 1) + "." + digits.slice(exponent + 1);
    else fixed = "0." + "0".repeat(-exponent - 1) + digits;
    fixed = sign + fixed;
    return fixed.length <= scientific.length ? fixed : scientific;
  }

  // ---- State ----------------------------------------------------------

  const state = {
    zoom: 1,
    rowOffset: 0,      // rows above the view's top edge
    columnOffset: 0,   // columns left of its left edge
    cut: null,         // height of the cut line
    clusters: null,    // the cut's clusters, or the band's (as clusters())
    colourOf: null,    // each element's band colour index, -1 grey
    recordColour: null, // each record's colour index at the cut, -1 grey
    matches: [],       // positions in order of the search's rows
    match: -1,         // the match last scrolled to
  };
  let layout = null;
  let tiles = [];
  let valueText = null;
  let lineStarts = null;

  const positionOf = new Int32Array(nrows);
  data.rowOrder.forEach((element, k) => { positionOf[element] = k; });

  // The band's colour of each element: its cluster's rank among the
  // clusters in drawing order, -1 for elements in no cluster.
  function bandColours(clusters) {
    const rank = new Map();
    const colour = new Int32Array(nrows);
    for (const element of data.rowOrder) {
      const id = clusters[element];
      if (id === 0) { colour[element] = -1; continue; }
      if (!rank.has(id)) rank.set(id, rank.size);
      colour[element] = rank.get(id) % data.clusterColours.length;
    }
    return colour;
  }

  // The clusters drawn: the band's and the tree's colours and the legend
  // follow them.
  function setClusters(clusters) {
    state.clusters = clusters;
    state.colourOf = bandColours(clusters);
    if (rowTree) state.recordColour = recordColours();
    fillClusterLegend(clusters, state.colourOf);
  }

  function setCut(h) {
    state.cut = h;
    api.height = h;
    setClusters(cutAt(h));
    const count = new Set(state.clusters.filter((id) => id > 0)).size;
    $("cut-height").textContent = shortest(h);
    $("cluster-count").textContent = count + (count === 1 ? " cluster" : " clusters");
    scheduleDraw();
    return count;
  }

  // The band's colours, top to bottom, each with its cluster's number.
  function fillClusterLegend(clusters, colourOf) {
    const legend = $("cluster-legend");
    legend.replaceChildren();
    if (!clusters.length) return;
    legend.append("clusters: ");
    const seen = new Set();
    for (const element of data.rowOrder) {
      const id = clusters[element];
      if (id === 0 || seen.has(id)) continue;
      if (seen.size === MOST_LEGEND_CLUSTERS) {
        legend.append("\u2026");
        break;
      }
      seen.add(id);
      legend.append(entry(data.clusterColours[colourOf[element]], String(id)));
    }
  }

  // ---- Geometry -------------------------------------------------------

  function computeLayout(width, height) {
    const l = { width, height };
    l.treeLeft = MARGIN;
    l.treeRight = rowTree ? l.treeLeft + ROW_TREE : l.treeLeft;
    l.bandLeft = rowTree ? l.treeRight + GAP : l.treeLeft;
    const band = rowTree || data.band.length > 0;
    l.heatLeft = l.bandLeft + (band ? BAND + GAP : 0);
    l.columnTreeTop = MARGIN;
    l.annotationsTop = l.columnTreeTop + (columnTree ? COLUMN_TREE + GAP : 0);
    l.heatTop = l.annotationsTop + data.annotations.length * ANNOTATION + (data.annotations.length ? GAP : 0);
    const names = data.rowNames.length ? NAMES : 0;
    const columnNames = data.columnNames.length ? COLUMN_NAMES : 0;
    l.viewWidth = Math.max(20, width - l.heatLeft - GAP - names - MARGIN);
    l.viewHeight = Math.max(20, height - l.heatTop - GAP - columnNames - MARGIN);
    l.fitRow = Math.min(LARGEST_FIT_CELL, l.viewHeight / nrows);
    l.fitColumn = Math.min(LARGEST_FIT_CELL, l.viewWidth / ncolumns);
    return l;
  }

  const rowSize = () => layout.fitRow * state.zoom;
  const columnSize = () =>
    Math.min(layout.fitColumn * state.zoom, Math.max(layout.fitColumn, LARGEST_COLUMN));
  // The part of the heatmap drawn: at most the view.
  const drawnHeight = () => Math.min(layout.viewHeight, nrows * rowSize());
  const drawnWidth = () => Math.min(layout.viewWidth, ncolumns * columnSize());

  function clampOffsets() {
    state.rowOffset = Math.max(0, Math.min(state.rowOffset, nrows - layout.viewHeight / rowSize()));
    state.columnOffset = Math.max(0,
      Math.min(state.columnOffset, ncolumns - layout.viewWidth / columnSize()));
  }

  const rowY = (place) => layout.heatTop + (place - state.rowOffset) * rowSize();
  const columnX = (place) => layout.heatLeft + (place - state.columnOffset) * columnSize();
  const treeX = (h) => layout.treeLeft +
    ROW_TREE * (1 - (h - rowTree.low) / (rowTree.high - rowTree.low));
  const heightAtX = (x) => rowTree.low +
    (1 - (x - layout.treeLeft) / ROW_TREE) * (rowTree.high - rowTree.low);
  const columnTreeY = (h) => layout.columnTreeTop +
    COLUMN_TREE * (1 - (h - columnTree.low) / (columnTree.high - columnTree.low));

  // ---- The heatmap image ----------------------------------------------

  // The cells in drawing order as canvases of at most TILE x TILE cells, a
  // pixel per cell, scaled when drawn.
  function buildTiles(levels) {
    const palette = new Uint32Array(256);
    const little = new Uint8Array(new Uint32Array([1]).buffer)[0] === 1;
    data.scale.forEach((hex, k) => {
      const level = k === data.scale.length - 1 ? 255 : k;
      const [r, g, b] = [1, 3, 5].map((at) => parseInt(hex.slice(at, at + 2), 16));
      palette[level] = little ? (255 << 24 | b << 16 | g << 8 | r) >>> 0 : (r << 24 | g << 16 | b << 8 | 255) >>> 0;
    });
    const built = [];
    for (let top = 0; top < nrows; top += TILE) {
      for (let left = 0; left < ncolumns; left += TILE) {
        const h = Math.min(TILE, nrows - top);
        const w = Math.min(TILE, ncolumns - left);
        const image = new ImageData(w, h);
        const pixels = new Uint32Array(image.data.buffer);
        for (let r = 0; r < h; r++) {
          const base = data.rowOrder[top + r] * ncolumns;
          for (let c = 0; c < w; c++) pixels[r * w + c] = palette[levels[base + data.columnOrder[left + c]]];
        }
        const tile = document.createElement("canvas");
        tile.width = w;
        tile.height = h;
        tile.getContext("2d").putImageData(image, 0, 0);
        built.push({ top, left, h, w, canvas: tile });
      }
    }
    return built;
  }

  function drawHeatmap(c) {
    const rs = rowSize();
    const cs = columnSize();
    const rowEnd = state.rowOffset + drawnHeight() / rs;
    const columnEnd = state.columnOffset + drawnWidth() / cs;
    // Whole cells when enlarged; averaged when many cells share a pixel.
    c.imageSmoothingEnabled = rs < 1 || cs < 1;
    c.imageSmoothingQuality = "high";
    for (const t of tiles) {
      const r0 = Math.max(state.rowOffset, t.top);
      const r1 = Math.min(rowEnd, t.top + t.h);
      const c0 = Math.max(state.columnOffset, t.left);
      const c1 = Math.min(columnEnd, t.left + t.w);
      if (r0 >= r1 || c0 >= c1) continue;
      c.drawImage(t.canvas, c0 - t.left, r0 - t.top, c1 - c0, r1 - r0,
                  columnX(c0), rowY(r0), (c1 - c0) * cs, (r1 - r0) * rs);
    }
  }

  // ---- Drawing --------------------------------------------------------

  // The visible rows' positions: [first, end).
  function visibleRows() {
    const first = Math.max(0, Math.floor(state.rowOffset));
    const end = Math.min(nrows, Math.ceil(state.rowOffset + drawnHeight() / rowSize()));
    return [first, end];
  }

  function visibleColumns() {
    const first = Math.max(0, Math.floor(state.columnOffset));
    const end = Math.min(ncolumns, Math.ceil(state.columnOffset + drawnWidth() / columnSize()));
    return [first, end];
  }

  function clip(c, x, y, w, h) {
    c.save();
    c.beginPath();
    c.rect(x, y, w, h);
    c.clip();
  }

  // The row tree, each record coloured as its cluster at the cut.
  function drawRowTree(c) {
    clip(c, layout.treeLeft - 1, layout.heatTop, ROW_TREE + GAP, drawnHeight());
    const top = layout.heatTop;
    const bottom = top + drawnHeight();
    const paths = new Map();
    const pathOf = (colour) => {
      if (!paths.has(colour)) paths.set(colour, new Path2D());
      return paths.get(colour);
    };
    const owner = state.recordColour;
    const xOf = (ref) => (ref >= 0 ? treeX(rowTree.low) : treeX(rowTree.height[-ref - 1]));
    for (let i = 0; i < rowTree.n; i++) {
      const y1 = rowY(rowTree.placeOf(rowTree.left[i]));
      const y2 = rowY(rowTree.placeOf(rowTree.right[i]));
      if (Math.max(y1, y2) < top || Math.min(y1, y2) > bottom) continue;
      const x = treeX(rowTree.height[i]);
      const p = pathOf(owner[i]);
      p.moveTo(xOf(rowTree.left[i]), y1);
      p.lineTo(x, y1);
      p.lineTo(x, y2);
      p.lineTo(xOf(rowTree.right[i]), y2);
    }
    c.lineWidth = 1;
    for (const [colour, path] of paths) {
      c.strokeStyle = colour < 0 ? GREY : data.clusterColours[colour];
      c.stroke(path);
    }
    if (data.treeLabels.length && rowSize() >= SMALLEST_LABELLED_ROW) drawTreeLabels(c, top, bottom);
    c.restore();
  }

  // Each record's colour index: its cluster's when below the cut, else -1.
  function recordColours() {
    const colour = new Int32Array(rowTree.n).fill(-1);
    for (let i = 0; i < rowTree.n; i++)
      if (rowTree.highest[i] <= state.cut) colour[i] = state.colourOf[rowTree.firstLeaf[i]];
    return colour;
  }

  function drawTreeLabels(c, top, bottom) {
    c.font = "9px system-ui, sans-serif";
    c.fillStyle = "#333";
    c.textBaseline = "bottom";
    for (let i = 0; i < rowTree.n; i++) {
      const label = data.treeLabels[i];
      const y = rowY(rowTree.place[i]);
      if (!label || y < top || y > bottom) continue;
      c.fillText(label, treeX(rowTree.height[i]) + 2, y - 1);
    }
  }

  function drawColumnTree(c) {
    clip(c, layout.heatLeft, layout.columnTreeTop - 1, drawnWidth(), COLUMN_TREE + 2);
    const path = new Path2D();
    const yOf = (ref) => (ref >= 0 ? columnTreeY(columnTree.low) : columnTreeY(columnTree.height[-ref - 1]));
    for (let i = 0; i < columnTree.n; i++) {
      const x1 = columnX(columnTree.placeOf(columnTree.left[i]));
      const x2 = columnX(columnTree.placeOf(columnTree.right[i]));
      const y = columnTreeY(columnTree.height[i]);
      path.moveTo(x1, yOf(columnTree.left[i]));
      path.lineTo(x1, y);
      path.lineTo(x2, y);
      path.lineTo(x2, yOf(columnTree.right[i]));
    }
    c.strokeStyle = GREY;
    c.lineWidth = 1;
    c.stroke(path);
    c.restore();
  }

  function drawAnnotations(c) {
    const [first, end] = visibleColumns();
    const cs = columnSize();
    c.font = "11px system-ui, sans-serif";
    c.textBaseline = "middle";
    c.textAlign = "right";
    data.annotations.forEach((a, k) => {
      const y = layout.annotationsTop + k * ANNOTATION;
      c.fillStyle = "#222";
      c.fillText(a.name, layout.heatLeft - GAP, y + ANNOTATION / 2 - 1, layout.heatLeft - 2 * GAP);
      clip(c, layout.heatLeft, y, drawnWidth(), ANNOTATION);
      for (let p = first; p < end; p++) {
        const category = a.columns[data.columnOrder[p]];
        c.fillStyle = category < 0 ? data.scale[data.scale.length - 1] : a.colours[category];
        c.fillRect(columnX(p), y, Math.max(cs, 1), ANNOTATION - 2);
      }
      c.restore();
    });
    c.textAlign = "left";
  }

  // The band: runs of rows of one colour.
  function drawBand(c) {
    const [first, end] = visibleRows();
    const colour = (p) => state.colourOf[data.rowOrder[p]];
    clip(c, layout.bandLeft, layout.heatTop, BAND, drawnHeight());
    for (let p = first, q; p < end; p = q) {
      for (q = p + 1; q < end && colour(q) === colour(p); q++);
      c.fillStyle = colour(p) < 0 ? data.scale[data.scale.length - 1] : data.clusterColours[colour(p)];
      c.fillRect(layout.bandLeft, rowY(p), BAND, (q - p) * rowSize());
    }
    c.restore();
  }

  function drawRowNames(c) {
    const [first, end] = visibleRows();
    const rs = rowSize();
    const left = layout.heatLeft + drawnWidth() + GAP;
    clip(c, left - GAP, layout.heatTop, NAMES + GAP, drawnHeight());
    for (const p of state.matches) {
      if (p < first || p >= end) continue;
      c.fillStyle = "rgba(255, 190, 0, 0.9)";
      c.fillRect(left - GAP, rowY(p), NAMES + GAP, Math.max(rs, 2));
    }
    if (rs >= SMALLEST_NAMED_CELL) {
      c.font = Math.min(12, rs - 1) + "px system-ui, sans-serif";
      c.textBaseline = "middle";
      c.fillStyle = "#222";
      for (let p = first; p < end; p++) c.fillText(data.rowNames[data.rowOrder[p]], left, rowY(p + 0.5));
    }
    c.restore();
  }

  function drawColumnNames(c) {
    const cs = columnSize();
    if (!data.columnNames.length || cs < SMALLEST_NAMED_CELL) return;
    const [first, end] = visibleColumns();
    const top = layout.heatTop + drawnHeight() + GAP;
    clip(c, layout.heatLeft, top, drawnWidth(), COLUMN_NAMES);
    c.font = Math.min(12, cs - 1) + "px system-ui, sans-serif";
    c.textBaseline = "middle";
    c.fillStyle = "#222";
    for (let p = first; p < end; p++) {
      c.save();
      c.translate(columnX(p + 0.5), top);
      c.rotate(Math.PI / 2);
      c.fillText(data.columnNames[data.columnOrder[p]], 0, 0);
      c.restore();
    }
    c.restore();
  }

  // The search's rows across the heatmap, at least 2 pixels high.
  function drawMatches(c) {
    const [first, end] = visibleRows();
    c.strokeStyle = "rgba(255, 170, 0, 1)";
    c.lineWidth = 2;
    for (const p of state.matches) {
      if (p < first || p >= end) continue;
      c.strokeRect(layout.heatLeft, rowY(p), drawnWidth(), Math.max(rowSize(), 2));
    }
  }

  function placeCutLine() {
    if (!rowTree) return;
    cutLine.style.left = treeX(Math.min(state.cut, rowTree.high)) + "px";
    cutLine.style.top = layout.heatTop + "px";
    cutLine.style.height = drawnHeight() + "px";
  }

  let drawPending = false;
  // State changes settle here at once, so that the API reads them before
  // the frame is drawn.
  function scheduleDraw() {
    if (!layout) return;
    clampOffsets();
    if (drawPending) return;
    drawPending = true;
    requestAnimationFrame(() => { drawPending = false; draw(); });
  }

  function draw() {
    const c = context;
    const ratio = window.devicePixelRatio || 1;
    c.setTransform(ratio, 0, 0, ratio, 0, 0);
    c.clearRect(0, 0, layout.width, layout.height);
    clampOffsets();
    drawHeatmap(c);
    if (rowTree) drawRowTree(c);
    if (columnTree) drawColumnTree(c);
    if (data.annotations.length) drawAnnotations(c);
    if (rowTree || data.band.length) drawBand(c);
    drawMatches(c);
    if (data.rowNames.length) drawRowNames(c);
    drawColumnNames(c);
    placeCutLine();
  }

  function resize() {
    const ratio = window.devicePixelRatio || 1;
    const width = view.clientWidth;
    const height = view.clientHeight;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    canvas.style.width = width + "px";
    canvas.style.height = height + "px";
    layout = computeLayout(width, height);
    draw();
  }

  // ---- Zoom, pan, search ----------------------------------------------

  // Zooms by factor, keeping the cell under (x, y) (canvas pixels) in place.
  function zoomAt(factor, x, y) {
    const row = state.rowOffset + (y - layout.heatTop) / rowSize();
    const column = state.columnOffset + (x - layout.heatLeft) / columnSize();
    const most = Math.max(1, nrows / 2, ncolumns / 2);
    state.zoom = Math.max(1, Math.min(most, state.zoom * factor));
    state.rowOffset = row - (y - layout.heatTop) / rowSize();
    state.columnOffset = column - (x - layout.heatLeft) / columnSize();
    scheduleDraw();
  }

  function zoomAboutCentre(factor) {
    zoomAt(factor, layout.heatLeft + drawnWidth() / 2, layout.heatTop + drawnHeight() / 2);
  }

  function reset() {
    state.zoom = 1;
    state.rowOffset = 0;
    state.columnOffset = 0;
    scheduleDraw();
  }

  // Brings position p into the middle of the view, zoomed in far enough for
  // names.
  function scrollTo(p) {
    if (rowSize() < SMALLEST_NAMED_CELL + 3) state.zoom = Math.min((SMALLEST_NAMED_CELL + 3) / layout.fitRow, Math.max(1, nrows));
    state.rowOffset = p + 0.5 - layout.viewHeight / rowSize() / 2;
    scheduleDraw();
  }

  function search(text) {
    const wanted = String(text).trim().toLowerCase();
    state.matches = [];
    if (wanted) {
      data.rowOrder.forEach((element, p) => {
        if ((data.rowNames[element] || "").toLowerCase().includes(wanted)) state.matches.push(p);
      });
    }
    state.match = state.matches.length ? 0 : -1;
    $("search-count").textContent = wanted ? state.matches.length + " found" : "";
    if (state.match >= 0) scrollTo(state.matches[0]);
    else scheduleDraw();
    return state.matches.map((p) => data.rowOrder[p]);
  }

  function nextMatch() {
    if (!state.matches.length) return;
    state.match = (state.match + 1) % state.matches.length;
    scrollTo(state.matches[state.match]);
  }

  // ---- Hover ----------------------------------------------------------

  // Element e's values as text: its line of the values block.
  function valuesOf(e) {
    if (!valueText) return null;
    const end = e + 1 < lineStarts.length ? lineStarts[e + 1] - 1 : valueText.length;
    return new TextDecoder().decode(valueText.subarray(lineStarts[e], end)).split("\t");
  }

  function showTooltip(x, y) {
    const rs = rowSize();
    const cs = columnSize();
    const p = Math.floor(state.rowOffset + (y - layout.heatTop) / rs);
    const q = Math.floor(state.columnOffset + (x - layout.heatLeft) / cs);
    const inside = x >= layout.heatLeft && x < layout.heatLeft + drawnWidth() &&
      y >= layout.heatTop && y < layout.heatTop + drawnHeight();
    if (!inside || p < 0 || p >= nrows || q < 0 || q >= ncolumns) {
      tooltip.hidden = true;
      return;
    }
    const e = data.rowOrder[p];
    const column = data.columnOrder[q];
    const values = valuesOf(e);
    const value = values === null ? "…" : values[column] === "" ? "missing" : values[column];
    const lines = [data.rowNames[e] || "row " + (e + 1), data.columnNames[column] || "column " + (column + 1),
                   "value: " + value];
    if (state.clusters.length) lines.push("cluster: " + state.clusters[e]);
    data.annotations.forEach((a) => {
      const k = a.columns[column];
      lines.push(a.name + ": " + (k < 0 ? "missing" : a.categories[k]));
    });
    tooltip.textContent = lines.join("\n");
    tooltip.hidden = false;
    const left = x + 14 + tooltip.offsetWidth > layout.width ? x - 14 - tooltip.offsetWidth : x + 14;
    tooltip.style.left = Math.max(0, left) + "px";
    tooltip.style.top = Math.min(y + 14, layout.height - tooltip.offsetHeight) + "px";
  }

  // ---- Mouse and keyboard ---------------------------------------------

  const pointer = { mode: null, x: 0, y: 0 };
  const canvasPoint = (event) => {
    const box = canvas.getBoundingClientRect();
    return [event.clientX - box.left, event.clientY - box.top];
  };

  function cutFromX(x) {
    const h = Math.max(rowTree.low, Math.min(rowTree.high, heightAtX(x)));
    setCut(Number(h.toPrecision(4)));
  }

  cutLine.addEventListener("mousedown", (event) => {
    event.preventDefault();
    pointer.mode = "cut";
  });
  canvas.addEventListener("mousedown", (event) => {
    event.preventDefault();
    const [x, y] = canvasPoint(event);
    if (rowTree && x >= layout.treeLeft && x <= layout.treeRight && y >= layout.heatTop) {
      pointer.mode = "cut";
      cutFromX(x);
      return;
    }
    pointer.mode = "pan";
    pointer.x = x;
    pointer.y = y;
    canvas.classList.add("panning");
  });
  window.addEventListener("mousemove", (event) => {
    if (!layout) return;
    const [x, y] = canvasPoint(event);
    if (pointer.mode === "cut") {
      cutFromX(x);
    } else if (pointer.mode === "pan") {
      state.rowOffset -= (y - pointer.y) / rowSize();
      state.columnOffset -= (x - pointer.x) / columnSize();
      pointer.x = x;
      pointer.y = y;
      scheduleDraw();
    } else if (event.target === canvas) {
      showTooltip(x, y);
    } else {
      tooltip.hidden = true;
    }
  });
  window.addEventListener("mouseup", () => {
    pointer.mode = null;
    canvas.classList.remove("panning");
  });
  canvas.addEventListener("mouseleave", () => { tooltip.hidden = true; });
  canvas.addEventListener("wheel", (event) => {
    event.preventDefault();
    const [x, y] = canvasPoint(event);
    zoomAt(Math.exp(-event.deltaY * 0.002), x, y);
  }, { passive: false });

  document.addEventListener("keydown", (event) => {
    if (!layout || event.target === $("search") || event.ctrlKey || event.metaKey || event.altKey) return;
    const step = { ArrowUp: [0, -0.2], ArrowDown: [0, 0.2], ArrowLeft: [-0.2, 0], ArrowRight: [0.2, 0] };
    if (event.key === "+" || event.key === "=") zoomAboutCentre(1.5);
    else if (event.key === "-" || event.key === "_") zoomAboutCentre(1 / 1.5);
    else if (event.key === "0") reset();
    else if (step[event.key]) {
      state.rowOffset += step[event.key][1] * layout.viewHeight / rowSize();
      state.columnOffset += step[event.key][0] * layout.viewWidth / columnSize();
      scheduleDraw();
    } else return;
    event.preventDefault();
  });

  $("zoom-in").addEventListener("click", () => zoomAboutCentre(1.5));
  $("zoom-out").addEventListener("click", () => zoomAboutCentre(1 / 1.5));
  $("zoom-reset").addEventListener("click", reset);
  $("search").addEventListener("input", (event) => search(event.target.value));
  $("search").addEventListener("keydown", (event) => {
    if (event.key === "Enter") nextMatch();
    if (event.key === "Escape") { event.target.value = ""; search(""); }
  });

  // ---- The clusters file ----------------------------------------------

  // The band's partition of a clustering without a tree.
  function bandClusters() {
    const count = data.band.reduce((m, id) => Math.max(m, id + 1), 0);
    return numberByFirstElement(data.band, count, 0);
  }

  function clustersText() {
    if (!rowTree) return null;
    const lines = [data.elementsLabel + "\th=" + shortest(state.cut)];
    const ids = state.clusters;
    if (data.fileNames.length) {
      data.fileNames.forEach((name, k) => {
        const row = data.fileRows[k];
        lines.push(name + "\t" + (row < 0 ? "NA" : ids[row]));
      });
    } else {
      data.rowNames.forEach((name, e) => lines.push(name + "\t" + ids[e]));
    }
    return lines.join("\n") + "\n";
  }

  $("download").addEventListener("click", () => {
    const blob = new Blob([clustersText()], { type: "text/tab-separated-values" });
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = data.title.replace(/\.[^.]*$/, "").replace(/\.[^.]*$/, "") + "-clusters.tsv";
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 1000);
  });

  // ---- Legend ---------------------------------------------------------

  function entry(colour, text) {
    const span = document.createElement("span");
    span.className = "entry";
    const swatch = document.createElement("span");
    swatch.className = "swatch";
    swatch.style.background = colour;
    span.append(swatch, text);
    return span;
  }

  function fillLegend() {
    const legend = $("legend");
    const scale = document.createElement("span");
    scale.className = "entry";
    const gradient = document.createElement("span");
    gradient.className = "gradient";
    const middle = (data.scale.length - 2) / 2;
    gradient.style.background = "linear-gradient(to right, " + data.scale[0] + ", " +
      data.scale[middle] + ", " + data.scale[data.scale.length - 2] + ")";
    const limit = shortest(Number(data.limit.toPrecision(3)));
    scale.append("-" + limit + " ", gradient, " " + limit);
    const group = document.createElement("span");
    group.append(scale, entry(data.scale[data.scale.length - 1], "missing"));
    legend.append(group);
    const clusters = document.createElement("span");
    clusters.id = "cluster-legend";
    legend.append(clusters);
    for (const a of data.annotations) {
      const block = document.createElement("span");
      block.append(a.name + ": ");
      a.categories.forEach((category, k) => block.append(entry(a.colours[k], category)));
      legend.append(block);
    }
  }

  // ---- Start ----------------------------------------------------------

  // A block of the file: base64 of gzip, inflated by the browser.
  async function inflate(id) {
    const text = document.getElementById(id).textContent;
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("gzip"));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }

  api.cut = (h) => (rowTree ? setCut(Number(h)) : null);
  api.clusters = () => (state.clusters ? state.clusters.slice() : null);
  api.clustersText = clustersText;
  api.search = (text) => {
    $("search").value = text;
    return search(text);
  };
  api.zoom = (factor) => zoomAboutCentre(Number(factor));
  api.cellCentre = (element, column) => {
    const x = columnX(data.columnOrder.indexOf(column) + 0.5);
    const y = rowY(positionOf[element] + 0.5);
    if (x < layout.heatLeft || x > layout.heatLeft + drawnWidth() ||
        y < layout.heatTop || y > layout.heatTop + drawnHeight()) return null;
    const box = canvas.getBoundingClientRect();
    return [box.left + x, box.top + y];
  };
  api.visible = () => {
    const [first, end] = visibleRows();
    return [first, end - 1];
  };

  async function start() {
    $("title").textContent = data.title;
    fillLegend();
    if (!rowTree) {
      $("cut-controls").hidden = true;
      cutLine.hidden = true;
      setClusters(bandClusters());
    }
    const values = inflate("lopper-values").then((bytes) => {
      valueText = bytes;
      const starts = [0];
      for (let i = bytes.indexOf(10); i >= 0 && i + 1 < bytes.length; i = bytes.indexOf(10, i + 1)) starts.push(i + 1);
      lineStarts = starts;
    });
    tiles = buildTiles(await inflate("lopper-levels"));
    if (rowTree) setCut(data.cut === null ? rowTree.high : data.cut);
    resize();
    new ResizeObserver(() => resize()).observe(view);
    $("loading").hidden = true;
    api.ready = true;
    await values;
  }

  start().catch((error) => {
    $("loading").textContent = "The page could not be drawn: " + error.message;
    throw error;
  });
})();
