/*
 * Dravik's map pages: one script behind the four provider pages.
 *
 * The player drives the page through seven global functions (DrawTrackLine,
 * MoveCar, flyto, CreateGpsBackLine, SetPlayBackIndex, clearAllTrackLine,
 * OnlyClearLine) and the page asks the player through window.cefQuery, whose
 * requests are texts with "|" between their parts. The player's query
 * function may appear after this script has run: requests wait in order until
 * it exists (looked for every 50 ms, and at once on a "cefQueryReady" event).
 *
 * Texts from a recording (the vehicle's plate) are only ever put into the
 * page as text nodes, never as markup.
 *
 * A page loads Leaflet and this script, then calls
 *   DravikMap.start('map', {provider: 'osm' | 'google' | 'bing' | 'baidu'});
 */
(function () {
  'use strict';

  if (typeof L === 'undefined') {
    // Without Leaflet there is no map: say so instead of failing silently.
    window.DravikMap = {
      start: function (elementId) {
        var element = document.getElementById(elementId);
        if (element) element.textContent = 'The map library (leaflet/leaflet.js) could not be loaded.';
      }
    };
    return;
  }

  // ---------------------------------------------------------------------
  // Tile sources

  // Bing numbers its tiles by quadkey: one base-4 digit per zoom level,
  // the x bit plus twice the y bit, most significant level first.
  function quadKey(x, y, z) {
    var key = '';
    for (var i = z; i > 0; i--) {
      var mask = 1 << (i - 1);
      var digit = 0;
      if (x & mask) digit += 1;
      if (y & mask) digit += 2;
      key += digit;
    }
    return key;
  }

  // Baidu's plane: a Mercator projection on the Clarke 1866 ellipsoid, in
  // metres from the equator and the prime meridian, y to the north. At zoom
  // 18 a pixel is a metre and each zoom level halves that; tiles are 256
  // pixels from the origin, so the tile in the north-east of the origin is
  // (0, 0) and tile rows count northwards. Leaflet counts its rows
  // southwards, so Baidu's row is -row - 1. Baidu's own projection stops at
  // 74 degrees north and south; so does this one.
  var BAIDU_LIMIT = 74;
  function baiduCrs() {
    var projection = L.extend({}, L.Projection.Mercator, {
      R: 6378206.4,
      R_MINOR: 6356583.8
    });
    var edge = projection.project(L.latLng(BAIDU_LIMIT, 180));
    projection.bounds = L.bounds([-edge.x, -edge.y], [edge.x, edge.y]);
    return L.extend({}, L.CRS.Earth, {
      code: 'BD09MC',
      projection: projection,
      transformation: new L.Transformation(1, 0, -1, 0),
      scale: function (zoom) { return Math.pow(2, zoom - 18); },
      zoom: function (scale) { return Math.log(scale) / Math.LN2 + 18; },
      infinite: false
    });
  }

  function signedTileNumber(n) {
    // Negative tile numbers (west of Greenwich, south of the equator) are
    // written with an M in place of the minus sign.
    return n < 0 ? 'M' + (-n) : String(n);
  }

  var QuadKeyLayer = L.TileLayer.extend({
    getTileUrl: function (coords) {
      var z = this._getZoomForUrl();
      return L.Util.template(this._url, L.extend({
        s: this._getSubdomain(coords), x: coords.x, y: coords.y, z: z,
        quadkey: quadKey(coords.x, coords.y, z)
      }, this.options));
    }
  });

  var BaiduLayer = L.TileLayer.extend({
    getTileUrl: function (coords) {
      return L.Util.template(this._url, L.extend({
        s: this._getSubdomain(coords),
        x: signedTileNumber(coords.x),
        y: signedTileNumber(-coords.y - 1),
        z: this._getZoomForUrl()
      }, this.options));
    }
  });

  var PROVIDERS = {
    osm: {
      url: 'https://tile.openstreetmap.org/{z}/{x}/{y}.png',
      layer: L.TileLayer, minZoom: 1, maxZoom: 19,
      attribution: '\u00a9 OpenStreetMap contributors',
      center: [30, 110], zoom: 4
    },
    google: {
      url: 'https://mt{s}.google.com/vt/lyrs=m&x={x}&y={y}&z={z}', subdomains: '0123',
      layer: L.TileLayer, minZoom: 1, maxZoom: 20,
      attribution: 'Map data \u00a9 Google',
      center: [30, 110], zoom: 4, asksKey: true
    },
    bing: {
      url: 'https://ecn.t{s}.tiles.virtualearth.net/tiles/r{quadkey}.png?g=1', subdomains: '0123',
      layer: QuadKeyLayer, minZoom: 1, maxZoom: 19,
      attribution: '\u00a9 Microsoft',
      center: [30, 110], zoom: 4
    },
    baidu: {
      url: 'https://maponline{s}.bdimg.com/tile/?qt=vtile&x={x}&y={y}&z={z}&styles=pl&scaler=1&udt=20200101',
      subdomains: '0123',
      layer: BaiduLayer, crs: baiduCrs, minZoom: 3, maxZoom: 19,
      attribution: '\u00a9 Baidu',
      center: [35, 110], zoom: 5
    }
  };

  // ---------------------------------------------------------------------
  // Talking to the player

  var queries = [];        // every request handed to the player, in order
  var pending = [];        // requests waiting for the player's query function
  var ready = false;       // "GoogleMapOK" handed over
  var waiting = false;

  function queryFunction() {
    return typeof window.cefQuery === 'function' ? window.cefQuery : null;
  }

  // Sends `request`; `done(ok, answer)` is called once with the answer
  // (ok false on failure), `sent()` when it has been handed over.
  function send(request, done, sent) {
    pending.push({request: request, done: done, sent: sent});
    flush();
  }

  function flush() {
    var query = queryFunction();
    if (!query) {
      waitForQueryFunction();
      return;
    }
    while (pending.length) {
      handOver(query, pending.shift());
    }
  }

  function handOver(query, item) {
    var answered = false;
    function answer(ok, text) {
      if (answered) return;
      answered = true;
      if (item.done) item.done(ok, text === undefined || text === null ? '' : String(text));
    }
    queries.push(item.request);
    if (item.request === 'GoogleMapOK') ready = true;
    if (item.sent) item.sent();
    try {
      query.call(window, {
        request: item.request,
        persistent: false,
        onSuccess: function (text) { answer(true, text); },
        onFailure: function () { answer(false, ''); }
      });
    } catch (e) {
      answer(false, '');
    }
  }

  function waitForQueryFunction() {
    if (waiting) return;
    waiting = true;
    var timer = null;
    function check() {
      if (!queryFunction()) return;
      waiting = false;
      window.clearInterval(timer);
      window.removeEventListener('cefQueryReady', check);
      flush();
    }
    window.addEventListener('cefQueryReady', check);
    timer = window.setInterval(check, 50);
  }

  // ---------------------------------------------------------------------
  // Numbers and texts from the player

  function number(v) {
    if (typeof v === 'number') return v;
    if (typeof v === 'string' && v.trim() !== '') return Number(v);
    return NaN;
  }

  function text(v) {
    return v === undefined || v === null ? '' : String(v);
  }

  // A usable position; 0,0 is what a recorder writes without a fix.
  function position(lat, lon) {
    lat = number(lat);
    lon = number(lon);
    if (!isFinite(lat) || !isFinite(lon)) return null;
    if (Math.abs(lat) > 90 || Math.abs(lon) > 180) return null;
    if (lat === 0 && lon === 0) return null;
    return [lat, lon];
  }

  function fixed6(v) {
    return (Math.round(v * 1e6) / 1e6).toFixed(6);
  }

  // ---------------------------------------------------------------------
  // The map

  var map = null;
  var provider = null;
  var renderer = null;

  var STYLE_LIVE = {color: '#2e7d32', weight: 4, opacity: 0.9};
  var STYLE_BACK = {color: '#1e63d6', weight: 5, opacity: 0.75};
  var STYLE_DRIVEN = {color: '#e53935', weight: 5, opacity: 0.95};

  var CSS =
    '.dravik-car { background: none; border: none; }' +
    '.dravik-car svg { display: block; transform-origin: 50% 50%; }' +
    '.dravik-plate { display: inline-block; font: bold 12px sans-serif; white-space: pre;' +
    ' max-width: 24em; overflow: hidden; text-overflow: ellipsis; vertical-align: top; }';

  var CAR_SVG =
    '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">' +
    '<path d="M16 2 L27 29 L16 23 L5 29 Z" fill="#e53935" stroke="#ffffff"' +
    ' stroke-width="2" stroke-linejoin="round"/></svg>';

  function addStyle() {
    var style = document.createElement('style');
    style.textContent = CSS;
    document.head.appendChild(style);
  }

  // --- the vehicle

  var car = null;  // {marker, plate, lat, lon, course, text}

  function setCarText(value) {
    car.text = value;
    car.plate.textContent = value;
    if (value === '') {
      if (car.marker.getTooltip()) car.marker.unbindTooltip();
      return;
    }
    if (!car.marker.getTooltip()) {
      // A node, not a string: Leaflet would take a string as markup.
      car.marker.bindTooltip(car.plate, {
        permanent: true, direction: 'top', offset: [0, -16], className: 'dravik-plate-tip'
      });
    } else {
      car.marker.getTooltip().update();
    }
  }

  function moveCar(value, lat, lon, course) {
    if (!map) return;
    var at = position(lat, lon);
    if (!at) return;
    var heading = number(course);
    if (!car) {
      var icon = L.divIcon({className: 'dravik-car', html: CAR_SVG, iconSize: [32, 32], iconAnchor: [16, 16]});
      var marker = L.marker(at, {icon: icon, keyboard: false, interactive: false}).addTo(map);
      var plate = document.createElement('span');
      plate.className = 'dravik-plate';
      car = {marker: marker, plate: plate, lat: at[0], lon: at[1], course: 0, text: null};
    }
    car.lat = at[0];
    car.lon = at[1];
    car.marker.setLatLng(at);
    if (isFinite(heading)) car.course = ((heading % 360) + 360) % 360;
    var arrow = car.marker.getElement() && car.marker.getElement().querySelector('svg');
    if (arrow) arrow.style.transform = 'rotate(' + car.course + 'deg)';
    var label = text(value);
    if (label !== car.text) setCarText(label);
  }

  // --- the live line

  var live = {points: [], layer: null};

  function drawTrackLine(value, lat, lon) {
    if (!map) return;
    var at = position(lat, lon);
    if (!at) return;
    var last = live.points[live.points.length - 1];
    if (last && last[0] === at[0] && last[1] === at[1]) return;
    live.points.push(at);
    if (!live.layer) {
      live.layer = L.polyline([], L.extend({renderer: renderer}, STYLE_LIVE)).addTo(map);
    }
    live.layer.addLatLng(at);
  }

  function clearLive() {
    if (live.layer) live.layer.remove();
    live.layer = null;
    live.points = [];
  }

  // --- the play-back line and its driven part
  //
  // Every entry the player sends counts for SetPlayBackIndex, separators
  // and unreadable entries included; `entries` maps each to its place in a
  // segment (or null where nothing was drawn).

  var back = {segments: [], layers: [], entries: [], open: false};
  var driven = {index: -1, layers: [], counts: []};

  function onLineClick(e) {
    if (!map || !e || !e.latlng) return;
    var at = map.wrapLatLng(e.latlng);
    send('ClickLineCallBack|' + fixed6(at.lat) + '|' + fixed6(at.lng));
  }

  function lineLayer(style) {
    var layer = L.polyline([], L.extend({renderer: renderer}, style)).addTo(map);
    layer.on('click', onLineClick);
    return layer;
  }

  function createGpsBackLine(value, points) {
    if (!map) return;
    var entries = text(points).split(';');
    var touched = {};
    for (var i = 0; i < entries.length; i++) {
      var entry = entries[i].trim();
      if (entry === '') continue;
      var parts = entry.split(',');
      if (number(parts[0]) === 0 && number(parts[1]) === 0) {
        // A new file begins: its points start a segment of their own.
        back.entries.push(null);
        back.open = false;
        continue;
      }
      var at = position(parts[0], parts[1]);
      if (!at) {
        back.entries.push(null);
        continue;
      }
      if (!back.open) {
        back.segments.push([]);
        back.layers.push(lineLayer(STYLE_BACK));
        back.open = true;
      }
      var s = back.segments.length - 1;
      back.segments[s].push(L.latLng(at[0], at[1]));
      back.entries.push({segment: s, point: back.segments[s].length - 1});
      touched[s] = true;
    }
    for (var t in touched) {
      back.layers[t].setLatLngs(back.segments[t]);
    }
    // The driven part stays drawn over the rest of the line.
    for (var d = 0; d < driven.layers.length; d++) {
      if (driven.layers[d]) driven.layers[d].bringToFront();
    }
    drawDriven();
  }

  // The last drawn point at or before entry `index`.
  function drivenEnd(index) {
    for (var i = Math.min(index, back.entries.length - 1); i >= 0; i--) {
      if (back.entries[i]) return back.entries[i];
    }
    return null;
  }

  function drawDriven() {
    var end = drivenEnd(driven.index);
    for (var s = 0; s < back.segments.length; s++) {
      var count = 0;
      if (end && s < end.segment) count = back.segments[s].length;
      else if (end && s === end.segment) count = end.point + 1;
      if ((driven.counts[s] || 0) === count) continue;
      driven.counts[s] = count;
      if (!driven.layers[s]) driven.layers[s] = lineLayer(STYLE_DRIVEN);
      driven.layers[s].setLatLngs(back.segments[s].slice(0, count));
    }
  }

  function setPlayBackIndex(index) {
    if (!map) return;
    var i = Math.floor(number(index));
    if (!isFinite(i)) return;
    driven.index = i;
    drawDriven();
  }

  function clearBack() {
    for (var i = 0; i < back.layers.length; i++) back.layers[i].remove();
    for (var d = 0; d < driven.layers.length; d++) {
      if (driven.layers[d]) driven.layers[d].remove();
    }
    back = {segments: [], layers: [], entries: [], open: false};
    driven.layers = [];
    driven.counts = [];
  }

  // The back line goes; where the vehicle is stays known, so the driven
  // part comes back with the line when it is sent again.
  function onlyClearLine() {
    clearBack();
  }

  function clearAllTrackLine() {
    clearBack();
    clearLive();
    driven.index = -1;
  }

  // The first fix of a page that starts at a country's scale (no saved
  // view) goes to street level, where a drive can be seen; after that the
  // zoom stays the user's.
  var FIRST_FIX_ZOOM = 15;
  var firstFixShown = false;

  function flyto(lat, lon) {
    if (!map) return;
    var at = position(lat, lon);
    if (!at) return;
    var zoom = map.getZoom();
    if (!firstFixShown && zoom < 12) zoom = Math.min(FIRST_FIX_ZOOM, map.getMaxZoom());
    firstFixShown = true;
    map.setView(at, zoom, {animate: false});
  }

  // ---------------------------------------------------------------------
  // The view, saved with the player between runs as "lat,lon,zoom"

  var viewRestored = false;
  var lastSavedView = '';
  var saveTimer = null;

  function viewText() {
    var c = map.wrapLatLng(map.getCenter());
    return fixed6(c.lat) + ',' + fixed6(c.lng) + ',' + map.getZoom();
  }

  function restoreView(ok, saved) {
    if (viewRestored) return;
    viewRestored = true;
    var parts = ok ? saved.split(',') : [];
    var at = parts.length === 3 ? position(parts[0], parts[1]) : null;
    var zoom = parts.length === 3 ? Math.round(number(parts[2])) : NaN;
    if (at && isFinite(zoom)) {
      zoom = Math.max(map.getMinZoom(), Math.min(map.getMaxZoom(), zoom));
      map.setView(at, zoom, {animate: false});
    }
    lastSavedView = viewText();
  }

  function saveView() {
    saveTimer = null;
    if (!map || !viewRestored) return;
    var view = viewText();
    if (view === lastSavedView) return;
    lastSavedView = view;
    send('mapstatesave|' + view);
  }

  function viewChanged() {
    if (saveTimer !== null) window.clearTimeout(saveTimer);
    saveTimer = window.setTimeout(saveView, 300);
  }

  // ---------------------------------------------------------------------
  // Start

  var key = '';
  var offset = false;

  function start(elementId, config) {
    if (map) return;
    provider = PROVIDERS[config && config.provider] || PROVIDERS.osm;
    addStyle();
    renderer = L.canvas({tolerance: 6});
    var options = {
      center: provider.center, zoom: provider.zoom,
      minZoom: provider.minZoom, maxZoom: provider.maxZoom,
      renderer: renderer, attributionControl: false
    };
    if (provider.crs) options.crs = provider.crs();
    map = L.map(elementId, options);
    // Plain text, no links: a link would take the player's map pane away.
    L.control.attribution({prefix: false}).addAttribution(provider.attribution + ' | Leaflet').addTo(map);
    L.control.scale({imperial: false}).addTo(map);
    // Tiles that fail (no network) leave the grey background: nothing else
    // waits for them.
    new provider.layer(provider.url, {
      subdomains: provider.subdomains || 'abc',
      minZoom: provider.minZoom, maxZoom: provider.maxZoom
    }).addTo(map);
    map.on('moveend', viewChanged);

    // The saved view comes first; the player hears the map is ready once it
    // is shown (or once it is clear no answer is coming).
    var announced = false;
    function announce() {
      if (announced) return;
      announced = true;
      send('GoogleMapOK');
    }
    send('mapstateinit', function (ok, saved) {
      restoreView(ok, saved);
      announce();
    }, function () {
      window.setTimeout(function () {
        restoreView(false, '');
        announce();
      }, 2000);
    });
    if (provider.asksKey) send('getGoogleMapKey', function (ok, answer) { if (ok) key = answer; });
    send('isOffset', function (ok, answer) { offset = ok && (answer === '1' || answer === 'true'); });
  }

  // ---------------------------------------------------------------------
  // What the page shows, as plain data (for tests and diagnostics)

  function latLngs(list) {
    var out = [];
    for (var i = 0; i < list.length; i++) {
      var p = list[i];
      out.push(p.lat !== undefined ? [p.lat, p.lng] : [p[0], p[1]]);
    }
    return out;
  }

  function state() {
    var center = map ? map.wrapLatLng(map.getCenter()) : null;
    var backLine = [];
    for (var s = 0; s < back.segments.length; s++) {
      if (back.segments[s].length) backLine.push(latLngs(back.segments[s]));
    }
    var drivenLine = [];
    for (var d = 0; d < back.segments.length; d++) {
      if (driven.counts[d]) drivenLine.push(latLngs(back.segments[d].slice(0, driven.counts[d])));
    }
    return {
      ready: ready,
      car: car ? {lat: car.lat, lon: car.lon, course: car.course, text: car.text} : null,
      liveLine: latLngs(live.points),
      backLine: backLine,
      driven: driven.index,
      drivenLine: drivenLine,
      center: center ? [center.lat, center.lng] : null,
      zoom: map ? map.getZoom() : null,
      offset: offset,
      queries: queries.slice()
    };
  }

  // ---------------------------------------------------------------------
  // What the player calls

  window.DrawTrackLine = drawTrackLine;
  window.MoveCar = moveCar;
  window.flyto = flyto;
  window.CreateGpsBackLine = createGpsBackLine;
  window.SetPlayBackIndex = setPlayBackIndex;
  window.clearAllTrackLine = clearAllTrackLine;
  window.OnlyClearLine = onlyClearLine;
  window.dravikMapState = state;

  window.DravikMap = {
    start: start,
    quadKey: quadKey,
    map: function () { return map; },
    tileLayer: function () {
      var found = null;
      if (map) map.eachLayer(function (layer) { if (layer instanceof L.TileLayer) found = layer; });
      return found;
    },
    lines: function () {
      return {live: live.layer, back: back.layers.slice(), driven: driven.layers.filter(Boolean)};
    }
  };
})();
