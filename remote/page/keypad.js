// The keypad page: hold a key to move, let go to stop. A hold lives on the service's side
// only while its lease is renewed; this page renews it only while it knows the connection
// is alive, so whatever goes wrong here, the lease stops the camera.
"use strict";

const LEASE_MS = 1000;
const RENEW_MS = 250;
// A request unanswered this long means the connection is gone, whatever the socket says.
const OVERDUE_MS = 900;
const STATE_EVERY_MS = 1000;
const TOKEN_KEY = "velmor.token";
const CAPTIONS = {ZI: "Z/I", ZO: "Z/O", FF: "F/F", FN: "F/N", MU: "M/U", SET: "SET", UP: "Up",
  DOWN: "Down", LEFT: "Left", RIGHT: "Right", INIT: "INIT", POWER: "POWER", RESET: "RESET",
  CAM: "CAM"};

// SHA-256 and HMAC-SHA256 in plain JavaScript: crypto.subtle exists only in a secure
// context, and a page opened over http from a LAN address is not one.
const Sha = (() => {
  const K = new Uint32Array([
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2]);
  const rotr = (x, n) => (x >>> n) | (x << (32 - n));

  function sha256(bytes) {
    const bits = bytes.length * 8;
    const padded = new Uint8Array(((bytes.length + 9 + 63) >> 6) << 6);
    padded.set(bytes);
    padded[bytes.length] = 0x80;
    const view = new DataView(padded.buffer);
    view.setUint32(padded.length - 8, Math.floor(bits / 0x100000000));
    view.setUint32(padded.length - 4, bits >>> 0);
    const h = new Uint32Array([0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19]);
    const w = new Uint32Array(64);
    for (let block = 0; block < padded.length; block += 64) {
      for (let i = 0; i < 16; i++) w[i] = view.getUint32(block + i * 4);
      for (let i = 16; i < 64; i++) {
        const s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >>> 3);
        const s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >>> 10);
        w[i] = (w[i - 16] + s0 + w[i - 7] + s1) | 0;
      }
      let [a, b, c, d, e, f, g, hh] = h;
      for (let i = 0; i < 64; i++) {
        const t1 = (hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                    K[i] + w[i]) | 0;
        const t2 = ((rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c))) | 0;
        hh = g; g = f; f = e; e = (d + t1) | 0; d = c; c = b; b = a; a = (t1 + t2) | 0;
      }
      h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
    }
    const out = new Uint8Array(32);
    const outView = new DataView(out.buffer);
    for (let i = 0; i < 8; i++) outView.setUint32(i * 4, h[i]);
    return out;
  }

  function hmac(key, message) {
    if (key.length > 64) key = sha256(key);
    const inner = new Uint8Array(64 + message.length);
    const outer = new Uint8Array(64 + 32);
    for (let i = 0; i < 64; i++) {
      inner[i] = (key[i] || 0) ^ 0x36;
      outer[i] = (key[i] || 0) ^ 0x5c;
    }
    inner.set(message, 64);
    outer.set(sha256(inner), 64);
    return sha256(outer);
  }
  return {sha256, hmac};
})();

const subtle = window.isSecureContext && window.crypto && window.crypto.subtle;

async function hmacSha256(key, message) {
  if (!subtle) return Sha.hmac(key, message);
  const k = await subtle.importKey("raw", key, {name: "HMAC", hash: "SHA-256"}, false, ["sign"]);
  return new Uint8Array(await subtle.sign("HMAC", k, message));
}

async function sha256(bytes) {
  if (!subtle) return Sha.sha256(bytes);
  return new Uint8Array(await subtle.digest("SHA-256", bytes));
}

function fromBase64Url(text) {
  const plain = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
  return Uint8Array.from(plain, (c) => c.charCodeAt(0));
}

function toBase64Url(bytes) {
  return btoa(String.fromCharCode(...bytes)).replace(/\+/g, "-").replace(/\//g, "_")
    .replace(/=+$/, "");
}

// The sign-in's proof: the token itself never crosses the wire.
async function proofOf(token, salt, challenge) {
  const clientKey = await hmacSha256(new TextEncoder().encode(token), salt);
  const signature = await hmacSha256(await sha256(clientKey), challenge);
  return clientKey.map((byte, i) => byte ^ signature[i]);
}

const $ = (id) => document.getElementById(id);
const page = {
  ws: null, alive: false, nextId: 1, pending: new Map(), hold: null, entry: "", camera: null,
  enabled: null, stateTimer: 0, renewTimer: 0, reconnectTimer: 0,
};

function say(text) { $("news").textContent = text; }

function showLine(text, up) {
  $("line").textContent = text;
  $("line").className = up ? "up" : "down";
}

function showCamera() {
  $("camera").textContent = page.entry !== "" ? page.entry
    : page.camera === null ? "---" : String(page.camera);
}

function askToken(why) {
  $("signin").hidden = false;
  say(why);
  $("token").focus();
}

function connectionLost(why) {
  if (!page.alive && !page.ws) return;
  page.alive = false;
  // No renewal goes out for this hold: the service's lease ends it if the up is lost too.
  if (page.hold) release("lost");
  const ws = page.ws;
  page.ws = null;
  page.pending.clear();
  if (ws) ws.close();
  showLine("Connection lost: " + why + ". The camera stops at the end of its lease.", false);
  clearTimeout(page.reconnectTimer);
  page.reconnectTimer = setTimeout(connect, 2000);
}

function request(type, data) {
  if (!page.ws || !page.alive) return false;
  const id = String(page.nextId++);
  page.pending.set(id, {type, data, at: performance.now()});
  page.ws.send(JSON.stringify({op: 6, d: {requestType: type, requestId: id, requestData: data}}));
  return true;
}

function connect() {
  clearTimeout(page.reconnectTimer);
  const token = localStorage.getItem(TOKEN_KEY) || "";
  const name = token.split(".")[0];
  if (!token || !name) {
    askToken("Type this client's token to sign in.");
    return;
  }
  if (!navigator.onLine) {
    showLine("Offline: no connection to the keypad.", false);
    return;
  }
  const ws = new WebSocket(
    (location.protocol === "https:" ? "wss://" : "ws://") + location.host +
    "/api/v1/ws?client=" + encodeURIComponent(name));
  page.ws = ws;
  showLine("Connecting\u2026", false);
  ws.onmessage = (event) => {
    if (ws !== page.ws) return;
    onMessage(ws, token, JSON.parse(event.data));
  };
  ws.onclose = (event) => {
    if (ws !== page.ws) return;
    if (event.code === 4004) {
      page.ws = null;
      page.alive = false;
      localStorage.removeItem(TOKEN_KEY);
      showLine("Not signed in.", false);
      askToken("The token was refused: type this client's token again.");
      return;
    }
    connectionLost(event.reason || "the connection closed");
  };
}

async function onMessage(ws, token, message) {
  if (message.op === 0) {
    const auth = message.d.authentication;
    const proof = await proofOf(token, fromBase64Url(auth.salt), fromBase64Url(auth.challenge));
    ws.send(JSON.stringify({op: 1, d: {rpcVersion: 1, authentication: toBase64Url(proof)}}));
  } else if (message.op === 2) {
    page.alive = true;
    $("signin").hidden = true;
    say("");
    $("who").textContent = "Signed in as " + token.split(".")[0] + ".";
    showLine("Connected.", true);
    request("GetState", {});
  } else if (message.op === 7) {
    onResponse(message.d);
  } else if (message.op === 5) {
    onEvent(message.d.eventType, message.d.eventData || {});
  }
}

function words(status, fallback) {
  if (status.code === 503 && /Transfer Error/.test(status.comment || ""))
    return "Transfer Error!";
  return status.comment || fallback;
}

function onResponse(d) {
  const sent = page.pending.get(d.requestId);
  page.pending.delete(d.requestId);
  const status = d.requestStatus || {};
  if (d.requestType === "GetState" && status.result) {
    showState(d.responseData || {});
    return;
  }
  if (status.result) {
    if (d.requestType === "KeyDown" && page.hold && sent && page.hold.key === sent.data.key)
      page.hold.alive = true;
    return;
  }
  if (d.requestType === "KeyDown" || d.requestType === "Renew") {
    if (page.hold && sent && (d.requestType === "Renew" || page.hold.key === sent.data.key))
      endHold();
  }
  if (status.code === 409 && d.responseData && d.responseData.holder)
    say("Refused: " + (d.responseData.error || d.responseData.holder + " holds a movement"));
  else
    say(words(status, "Refused."));
}

function onEvent(type, data) {
  if (type === "TakenOver") {
    endHold();
    say("Taken over by the local operator: your movement was stopped.");
  } else if (type === "LeaseEnded") {
    endHold();
    say("Lease ended: the camera was stopped.");
  } else if (type === "Stopped") {
    endHold();
    say("Stopped: " + (data.why || "the movement ended."));
  } else if (type === "Refused") {
    say("Refused: " + (data.why || (data.holder + " holds the movement")));
  } else if (type === "LineState") {
    request("GetState", {});
  }
}

function showState(state) {
  if (state.line_open)
    showLine("Line: " + (state.line || "open") + " \u00b7 " + state.protocol, true);
  else
    showLine(state.line_healing ? "Line down, healing: " + (state.line || "")
      : "Line down: " + (state.line || ""), false);
  page.enabled = new Set(state.enabled_keys || []);
  for (const button of document.querySelectorAll("[data-key]"))
    button.disabled = !page.enabled.has(button.dataset.key);
  const holds = (state.holds || []).map((hold) =>
    (hold.local ? "The local operator" : hold.holder) + " holds " +
    (CAPTIONS[hold.key] || hold.key) + " on camera " + hold.camera);
  $("holds").textContent = holds.length ? holds.join("; ") + "." : "Nothing is held.";
}

// The camera address: digits, ENT to take them, CLR to start again.
function onEntry(what) {
  if (what === "CLR") {
    page.entry = "";
  } else if (what === "ENT") {
    if (page.entry === "") return;
    const camera = Number(page.entry);
    page.entry = "";
    if (camera > 255) {
      say("Camera ID Range (0 ~ 255) Error!");
    } else {
      page.camera = camera;
      say("");
      request("SelectCamera", {camera});
    }
  } else if (page.entry.length < 3) {
    page.entry += what;
  } else {
    say("Camera ID Range (0 ~ 255) Error!");
    page.entry = "";
  }
  showCamera();
}

function hold(button, pointerId) {
  if (page.hold) return;
  if (page.camera === null) {
    say("Type the camera's number, then ENT.");
    return;
  }
  if (!page.alive) {
    say("Not connected: nothing was sent.");
    return;
  }
  const key = button.dataset.key;
  page.hold = {key, button, pointerId, alive: false};
  button.classList.add("held");
  say("");
  request("KeyDown", {key, camera: page.camera, lease_ms: LEASE_MS});
  page.renewTimer = setInterval(renew, RENEW_MS);
}

function renew() {
  const now = performance.now();
  for (const sent of page.pending.values())
    if (now - sent.at > OVERDUE_MS) {
      connectionLost("no answer for " + OVERDUE_MS + " ms");
      return;
    }
  // Only a hold the service said it started is renewed, and one renewal at a time.
  const waiting = [...page.pending.values()].some((s) => s.type === "Renew" || s.type === "KeyDown");
  if (page.hold && page.hold.alive && !waiting) request("Renew", {lease_ms: LEASE_MS});
}

function endHold() {
  if (!page.hold) return;
  clearInterval(page.renewTimer);
  page.hold.button.classList.remove("held");
  page.hold = null;
}

function release() {
  if (!page.hold) return;
  const key = page.hold.key;
  endHold();
  if (page.ws && page.ws.readyState === WebSocket.OPEN)
    page.ws.send(JSON.stringify({op: 6, d: {requestType: "KeyUp", requestId: "up" + page.nextId++,
      requestData: {key}}}));
}

function press(button) {
  if (page.camera === null) {
    say("Type the camera's number, then ENT.");
    return;
  }
  const data = {key: button.dataset.key, camera: page.camera};
  if (data.key === "CAM") data.select = page.camera;
  if (!request("Press", data)) say("Not connected: nothing was sent.");
}

function wire() {
  for (const button of document.querySelectorAll(".key")) {
    button.addEventListener("contextmenu", (e) => e.preventDefault());
    if (button.dataset.digit) button.addEventListener("click", () => onEntry(button.dataset.digit));
    if (button.dataset.entry) button.addEventListener("click", () => onEntry(button.dataset.entry));
    if (button.classList.contains("press")) button.addEventListener("click", () => press(button));
    if (!button.classList.contains("move")) continue;
    button.addEventListener("pointerdown", (e) => {
      if (e.button !== 0 || button.disabled) return;
      e.preventDefault();
      button.setPointerCapture(e.pointerId);
      hold(button, e.pointerId);
    });
    // Sliding off the key keeps the hold (the pointer is captured); only these end it.
    const end = (e) => {
      if (page.hold && page.hold.button === button && page.hold.pointerId === e.pointerId)
        release();
    };
    button.addEventListener("pointerup", end);
    button.addEventListener("pointercancel", end);
    button.addEventListener("lostpointercapture", end);
    button.addEventListener("keydown", (e) => {
      if ((e.key === " " || e.key === "Enter") && !e.repeat) {
        e.preventDefault();
        hold(button, "keyboard");
      } else if (e.key === " " || e.key === "Enter") {
        e.preventDefault();
      }
    });
    button.addEventListener("keyup", (e) => {
      if (e.key === " " || e.key === "Enter") {
        e.preventDefault();
        if (page.hold && page.hold.pointerId === "keyboard") release();
      }
    });
    button.addEventListener("blur", () => {
      if (page.hold && page.hold.pointerId === "keyboard") release();
    });
  }
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") release();
  });
  window.addEventListener("pagehide", () => release());
  window.addEventListener("offline", () => connectionLost("the device went offline"));
  window.addEventListener("online", () => connect());
  $("signin").addEventListener("submit", (e) => {
    e.preventDefault();
    const token = $("token").value.trim();
    $("token").value = "";
    if (!/^[A-Za-z0-9_-]{1,32}\.[A-Za-z0-9_-]+$/.test(token)) {
      askToken("That is no token: it reads NAME.SECRET.");
      return;
    }
    localStorage.setItem(TOKEN_KEY, token);
    connect();
  });
  page.stateTimer = setInterval(() => {
    if (page.alive && page.pending.size === 0) request("GetState", {});
    else if (page.alive) renew();
  }, STATE_EVERY_MS);
}

wire();
showCamera();
connect();
