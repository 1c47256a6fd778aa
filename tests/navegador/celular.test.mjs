// The phone page in a real browser: headless Chromium from Debian driven by playwright-core, the
// real control service, and a WebSocket client playing the desktop app in the room.
import { chromium } from "playwright-core";
import WebSocket from "ws";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdtempSync, writeFileSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { randomBytes } from "node:crypto";

const bin = process.env.TM_BIN;
const capturas = process.env.TM_CAPTURAS || tmpdir();
assert.ok(bin, "TM_BIN apunta a la carpeta de los ejecutables");
const carpeta = mkdtempSync(join(tmpdir(), "tm-navegador-"));
writeFileSync(join(carpeta, "secreto"), "secreto=" + randomBytes(16).toString("hex") + "\n", { mode: 0o600 });

function arrancar(puerto = 0) {
  const hijo = spawn(join(bin, "tremolante-control"), ["--prueba", "--saldo-inicial", "5400", "--datos", join(carpeta, "datos"),
    "--secreto-archivo", join(carpeta, "secreto"), "--escuchar", "127.0.0.1:" + puerto], { stdio: ["ignore", "pipe", "pipe"] });
  let registro = "";
  hijo.stderr.on("data", (d) => (registro += d));
  const listo = new Promise((bien, mal) => {
    let salida = "";
    hijo.stdout.on("data", (d) => {
      salida += d;
      const m = salida.match(/escuchando en 127\.0\.0\.1:(\d+)/);
      if (m) bien(Number(m[1]));
    });
    hijo.on("exit", (c) => mal(new Error("el servicio terminó al arrancar (" + c + "): " + registro)));
  });
  return { hijo, listo, registro: () => registro };
}

async function detener(s) {
  const fin = new Promise((bien) => s.hijo.on("exit", (c, senal) => bien(senal ? senal : c)));
  s.hijo.kill("SIGTERM");
  const estado = await fin;
  assert.equal(estado, 0, "el servicio termina limpio con SIGTERM: " + s.registro());
}

async function post(puerto, ruta, cuerpo) {
  const r = await fetch("http://127.0.0.1:" + puerto + ruta, { method: "POST", body: JSON.stringify(cuerpo) });
  return { estado: r.status, cuerpo: await r.json() };
}

// The desktop app of the room: keeps every message and waits for one of a kind.
function mac(puerto, sala, ficha) {
  const ws = new WebSocket("ws://127.0.0.1:" + puerto + "/ws?sala=" + sala, { headers: { authorization: "Bearer " + ficha } });
  const recibidos = [];
  const esperan = [];
  ws.on("message", (d) => {
    const m = JSON.parse(String(d));
    recibidos.push(m);
    for (const e of esperan.splice(0)) (e.cond(m) ? e.bien(m) : esperan.push(e));
  });
  const abierto = new Promise((bien, mal) => { ws.on("open", bien); ws.on("error", mal); });
  return {
    abierto,
    mandar: (m) => ws.send(JSON.stringify(m)),
    esperar: (t, segundos = 5) => new Promise((bien, mal) => {
      const hecho = recibidos.find((m) => m.t === t && !m.visto);
      if (hecho) { hecho.visto = true; return bien(hecho); }
      const reloj = setTimeout(() => mal(new Error("la computadora no recibió \"" + t + "\"")), segundos * 1000);
      esperan.push({ cond: (m) => m.t === t, bien: (m) => { m.visto = true; clearTimeout(reloj); bien(m); } });
    }),
    cerrar: () => ws.close(),
  };
}

let navegador;
let servicio = arrancar();
try {
  const puerto = await servicio.listo;
  const base = "http://127.0.0.1:" + puerto;
  navegador = await chromium.launch({ executablePath: process.env.TM_CHROMIUM, headless: true, args: ["--no-sandbox"] });
  const contexto = await navegador.newContext({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
  const pagina = await contexto.newPage();
  const errores = [];
  pagina.on("pageerror", (e) => errores.push(String(e)));

  // Signed out, from the QR link: the e-mail is already there.
  await pagina.goto(base + "/#c=" + encodeURIComponent("ana@ejemplo.com"));
  await pagina.waitForSelector("#entrada:not([hidden])");
  assert.equal(await pagina.inputValue("#correo"), "ana@ejemplo.com");
  await pagina.screenshot({ path: join(capturas, "tm-celular-fuera.png") });

  // The desktop app's account and socket.
  const reg = await post(puerto, "/registro", { correo: "ana@ejemplo.com", clave: "Prueba#123" });
  const cuenta = (await post(puerto, "/verificar", { correo: "ana@ejemplo.com", codigo: reg.cuerpo.codigo, tipo: "mac" })).cuerpo;
  const escritorio = mac(puerto, cuenta.sala, cuenta.ficha);
  await escritorio.abierto;
  await escritorio.esperar("celulares");

  // Pictures as the app makes them: JPEG thumbnails and a live view, drawn by the browser itself.
  const fotos = await pagina.evaluate(() => {
    const hacer = (ancho, alto, colores, texto) => {
      const c = document.createElement("canvas");
      c.width = ancho; c.height = alto;
      const g = c.getContext("2d");
      const d = g.createLinearGradient(0, 0, ancho, alto);
      d.addColorStop(0, colores[0]); d.addColorStop(1, colores[1]);
      g.fillStyle = d; g.fillRect(0, 0, ancho, alto);
      g.fillStyle = "#fff"; g.font = "bold " + Math.round(alto / 6) + "px sans-serif";
      g.textAlign = "center"; g.fillText(texto, ancho / 2, alto / 2 + alto / 16);
      return c.toDataURL("image/jpeg", 0.6).split(",")[1];
    };
    return {
      inicio: hacer(360, 203, ["#6a3df0", "#e0407a"], "Ya empezamos"),
      pausa: hacer(360, 203, ["#0f7a6b", "#33c4a6"], "Volvemos enseguida"),
      adios: hacer(360, 203, ["#b5541c", "#f2b134"], "¡Gracias por ver!"),
      vista: hacer(560, 315, ["#1d2b64", "#f8cdda"], "Cámara en vivo"),
    };
  });
  const pantallas = [
    { id: "inicio", nombre: "Inicio", respaldo: false, foto: fotos.inicio },
    { id: "pausa", nombre: "Pausa", respaldo: true, foto: fotos.pausa },
    { id: "adios", nombre: "Despedida", respaldo: false, foto: fotos.adios },
  ];
  const estado = {
    t: "estado", programa: "inicio", vivo: false, seco: false, aviso: "Todo listo en la computadora.", sinRed: false, listo: true,
    redes: "Wi-Fi · Ethernet", error: false, saldo: 5400, canal: "Canal de Ana",
    camaras: [{ id: "cam1", nombre: "FaceTime HD" }, { id: "cam2", nombre: "Cámara USB" }], camara: "cam1", pantallas,
  };

  // The pairing link signs the phone in at once.
  const vinculo = randomBytes(24).toString("hex");
  escritorio.mandar({ t: "vincular", ficha: vinculo });
  escritorio.mandar(estado);
  await new Promise((r) => setTimeout(r, 200));
  await pagina.goto(base + "/#v=" + cuenta.sala + "." + vinculo);
  await pagina.waitForSelector("#control:not([hidden])", { timeout: 5000 }).catch(async (e) => {
    throw new Error("la página no entró con el enlace: " + (await pagina.textContent("#notaEntrada")) + "\n" + servicio.registro());
  });
  await escritorio.esperar("hola");
  escritorio.mandar(estado);
  escritorio.mandar({ t: "vista", jpg: fotos.vista });
  await pagina.waitForFunction(() => document.querySelectorAll("#pantallas .tarjeta").length === 3);
  assert.equal(await pagina.textContent("#estado"), "Todo listo en la computadora.");
  assert.equal(await pagina.textContent("#saldo"), "Te quedan 1 h 30 min de transmisión");
  assert.equal(await pagina.textContent("#conexion"), "Conectado a tu computadora.");
  await pagina.waitForSelector("#vista:not([hidden])");
  assert.equal(new URL(pagina.url()).hash, "", "el enlace de un solo uso no queda en la barra");

  // Tapping a screen puts it on air; the big button starts.
  await pagina.tap('#pantallas .tarjeta[data-id="pausa"]');
  assert.deepEqual((({ t, id }) => ({ t, id }))(await escritorio.esperar("elegir")), { t: "elegir", id: "pausa" });
  assert.equal(await pagina.textContent("#boton"), "Transmitir");
  await pagina.tap("#boton");
  await escritorio.esperar("transmitir");
  await pagina.tap(".camara >> nth=1");
  assert.equal((await escritorio.esperar("camara")).id, "cam2");

  // On air: the pulse turns the button into Detener.
  escritorio.mandar({ t: "pulso", programa: "pausa", vivo: true, seco: false, aviso: "", sinRed: false, listo: true,
    redes: "Wi-Fi · Ethernet", error: false, saldo: 5340, calidad: "Alta · 6 Mbps", tiempo: "00:01:00",
    cifras: "5.8 Mbps  ·  30 cuadros/s  ·  0 saltados" });
  await pagina.waitForFunction(() => document.querySelector("#boton").textContent === "Detener");
  assert.equal(await pagina.textContent("#estado"), "En vivo · 00:01:00 · Alta · 6 Mbps");
  await pagina.waitForTimeout(300);
  await pagina.screenshot({ path: join(capturas, "tm-celular-vivo.png"), fullPage: true });
  // The relay says Kick is not getting the stream: the line says so, in red, while live.
  escritorio.mandar({ t: "pulso", programa: "pausa", vivo: true, seco: false, aviso: "", sinRed: false,
    sinDestino: true, listo: true, redes: "Wi-Fi · Ethernet", error: false, tiempo: "00:01:05" });
  await pagina.waitForFunction(() => document.querySelector("#estado").classList.contains("error"));
  assert.equal(await pagina.textContent("#estado"), "Kick no está recibiendo la transmisión. Reintentando…");
  await pagina.tap("#boton");
  await escritorio.esperar("detener");

  // A drop: the page says so, and comes back by itself when the service does.
  escritorio.cerrar();
  await detener(servicio);
  await pagina.waitForFunction(() => document.querySelector("#conexion").textContent.includes("Reconectando"));
  servicio = arrancar(puerto);
  await servicio.listo;
  await pagina.waitForFunction(() => document.querySelector("#conexion").textContent === "La app de la computadora no está conectada.", null, { timeout: 20000 });
  assert.deepEqual(errores, []);
  console.log("bien: la página del celular entra por enlace, muestra el estado, elige, transmite y se reconecta");
} finally {
  if (navegador) await navegador.close();
  if (servicio.hijo.exitCode === null && servicio.hijo.signalCode === null) await detener(servicio);
  rmSync(carpeta, { recursive: true, force: true });
}
