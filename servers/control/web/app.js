// The phone page: signs in (code, password or the pairing link), then follows the room's live
// channel and sends the phone's orders. No framework: the service serves these files as they are.
"use strict";

const $ = (id) => document.getElementById(id);
const GUARDADA = "tm.sesion";

let sesion = leerSesion();
let socket = null;
let reintento = null;
let espera = 2000;
let latido = null;
let modo = "codigo";      // sign-in view: "codigo" (mail code) or "clave" (password)
let pideCodigo = false;
let ultimo = {};          // the last "estado" merged with the pulses after it
let macConectada = false;

function leerSesion() {
  try {
    const s = JSON.parse(localStorage.getItem(GUARDADA) || "null");
    return s && s.sala && s.ficha ? s : null;
  } catch (e) {
    return null;
  }
}

function guardarSesion(s) {
  sesion = s;
  if (s) localStorage.setItem(GUARDADA, JSON.stringify(s));
  else localStorage.removeItem(GUARDADA);
}

async function pedir(ruta, cuerpo) {
  let r;
  try {
    r = await fetch(ruta, { method: "POST", headers: { "content-type": "application/json" }, body: JSON.stringify(cuerpo) });
  } catch (e) {
    throw new Error("No hay conexión con el servicio. Revisa el internet.");
  }
  let datos = null;
  try { datos = await r.json(); } catch (e) { datos = null; }
  if (r.ok && datos && typeof datos === "object") return datos;
  throw new Error(datos && typeof datos.error === "string" ? datos.error : "No hay conexión con el servicio. Revisa el internet.");
}

function nota(texto, error) {
  const n = $("notaEntrada");
  n.textContent = texto || "";
  n.classList.toggle("error", !!error);
}

// ---- Sign-in ----

function mostrarEntrada(texto, error) {
  cerrarSocket();
  $("control").hidden = true;
  $("entrada").hidden = false;
  pintarEntrada();
  nota(texto, error);
}

function pintarEntrada() {
  $("bloqueClave").hidden = modo !== "clave";
  $("bloqueCodigo").hidden = !(modo === "codigo" && pideCodigo);
  $("correo").disabled = modo === "codigo" && pideCodigo;
  $("principal").textContent = modo === "clave" ? "Entrar" : pideCodigo ? "Entrar" : "Enviarme un código";
  $("otroModo").textContent = modo === "clave" ? "Prefiero recibir un código" : pideCodigo ? "Usar otro correo" : "Prefiero usar mi contraseña";
}

function correoEscrito() {
  return $("correo").value.replace(/^[ \t]+|[ \t]+$/g, "").toLowerCase();
}

$("formCorreo").addEventListener("submit", async (ev) => {
  ev.preventDefault();
  const correo = correoEscrito();
  if (!correo.includes("@") || !correo.includes(".") || /\s/.test(correo)) return nota("Escribe un correo válido.", true);
  const boton = $("principal");
  boton.disabled = true;
  try {
    if (modo === "clave") {
      const clave = $("clave").value;
      if (!clave) return nota("Escribe tu contraseña.", true);
      nota("Entrando…");
      entrar(await pedir("/clave", { correo, clave, tipo: "celular" }), correo);
    } else if (!pideCodigo) {
      nota("Enviando…");
      await pedir("/codigo", { correo, modo: "entrar" });
      pideCodigo = true;
      pintarEntrada();
      nota("Te enviamos un código a " + correo + ". Revisa también no deseados.");
      $("codigo").focus();
    } else {
      const codigo = $("codigo").value.replace(/\D/g, "");
      if (codigo.length !== 6) return nota("El código tiene 6 dígitos.", true);
      nota("Entrando…");
      entrar(await pedir("/entrar", { correo, codigo, tipo: "celular" }), correo);
    }
  } catch (e) {
    nota(e.message, true);
  } finally {
    boton.disabled = false;
  }
});

$("otroModo").addEventListener("click", () => {
  if (modo === "codigo" && pideCodigo) {
    pideCodigo = false;
    $("codigo").value = "";
  } else {
    modo = modo === "clave" ? "codigo" : "clave";
    pideCodigo = false;
  }
  pintarEntrada();
  nota("");
});

function entrar(r, correo) {
  if (!r || typeof r.sala !== "string" || typeof r.ficha !== "string") throw new Error("No se pudo entrar.");
  guardarSesion({ correo: typeof r.correo === "string" ? r.correo : correo, sala: r.sala, ficha: r.ficha });
  mostrarControl();
}

// ---- The room ----

function mostrarControl() {
  $("entrada").hidden = true;
  $("control").hidden = false;
  $("quien").textContent = sesion.correo || "";
  pintar();
  conectar();
}

function conectar() {
  cerrarSocket();
  const url = (location.protocol === "https:" ? "wss://" : "ws://") + location.host + "/ws?sala=" + encodeURIComponent(sesion.sala);
  const ws = new WebSocket(url);
  socket = ws;
  conexion(espera > 2000 ? "Se cortó la conexión. Reconectando…" : "Conectando…", espera > 2000);
  ws.onopen = () => {
    if (ws !== socket) return;
    ws.send(JSON.stringify({ t: "entrar", ficha: sesion.ficha }));
  };
  ws.onmessage = (ev) => {
    if (ws !== socket || typeof ev.data !== "string") return;
    let m;
    try { m = JSON.parse(ev.data); } catch (e) { return; }
    if (!m || typeof m.t !== "string") return;
    recibir(m);
  };
  ws.onclose = () => {
    if (ws !== socket) return;
    socket = null;
    clearInterval(latido);
    if (!sesion) return;
    macConectada = false;
    conexion("Se cortó la conexión. Reconectando…", true);
    pintar();
    reintento = setTimeout(conectar, espera);
    espera = Math.min(espera * 2, 10000);
  };
}

function cerrarSocket() {
  clearTimeout(reintento);
  clearInterval(latido);
  if (socket) {
    const s = socket;
    socket = null;
    s.close();
  }
}

function conexion(texto, error) {
  const c = $("conexion");
  c.textContent = texto;
  c.classList.toggle("error", !!error);
}

function mandar(m) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(m));
}

function recibir(m) {
  switch (m.t) {
    case "mac":
      // The first word of the room: from here on this phone is in.
      espera = 2000;
      clearInterval(latido);
      latido = setInterval(() => mandar({ t: "ping" }), 25000);
      macConectada = !!m.conectada;
      conexion(macConectada ? "Conectado a tu computadora." : "La app de la computadora no está conectada.", !macConectada);
      pintar();
      break;
    case "estado":
      ultimo = m;
      pintar();
      break;
    case "pulso":
      for (const k of ["calidad", "tiempo", "cifras", "saldo"]) delete ultimo[k];
      Object.assign(ultimo, m);
      pintar();
      break;
    case "saldo":
      if (Number.isInteger(m.segundos)) {
        ultimo.saldo = m.segundos;
        pintar();
      }
      break;
    case "vista":
      if (typeof m.jpg === "string" && m.jpg) {
        $("vista").src = "data:image/jpeg;base64," + m.jpg;
        $("vista").hidden = false;
        $("sinVista").hidden = true;
      }
      break;
    case "fuera":
      guardarSesion(null);
      mostrarEntrada("Se cerró la sesión en este celular. Vuelve a entrar.", true);
      break;
  }
}

function enHoras(s) {
  if (s < 0) s = 0;
  const min = Math.floor(s / 60) % 60;
  return s >= 3600 ? Math.floor(s / 3600) + " h " + min + " min" : Math.floor(s / 60) + " min";
}

function pintar() {
  const e = ultimo;
  const vivo = !!e.vivo;
  $("enVivo").hidden = !vivo;
  const estado = $("estado");
  let linea;
  if (!macConectada) linea = "Abre Tremolante en tu computadora para controlarla desde aquí.";
  else if (vivo && e.sinDestino) linea = "Kick no está recibiendo la transmisión. Reintentando…";
  else if (vivo && e.sinRed) linea = "Sin internet en la computadora: se muestra la pantalla de respaldo.";
  else if (vivo) linea = "En vivo" + (e.tiempo ? " · " + e.tiempo : "") + (e.calidad ? " · " + e.calidad : "");
  else if (e.aviso) linea = e.aviso;
  else linea = "Listo para transmitir.";
  estado.textContent = linea;
  estado.classList.toggle("error", macConectada && (vivo ? !!e.sinDestino : !!e.error));
  const saldo = $("saldo");
  saldo.className = "saldo";
  if (Number.isInteger(e.saldo)) {
    saldo.textContent = e.saldo < 1 ? "Sin horas de transmisión" : "Te quedan " + enHoras(e.saldo) + " de transmisión";
    saldo.classList.add(e.saldo < 1 ? "nada" : e.saldo < 600 ? "poco" : "bien");
  } else {
    saldo.textContent = "";
  }
  $("cifras").textContent = vivo ? [e.cifras, e.redes].filter(Boolean).join(" · ") : "";
  pintarPantallas(e);
  pintarCamaras(e);
  const boton = $("boton");
  boton.textContent = vivo ? "Detener" : "Transmitir";
  boton.classList.toggle("detener", vivo);
  boton.disabled = !macConectada || (!vivo && e.listo === false);
}

function pintarPantallas(e) {
  const grilla = $("pantallas");
  const lista = Array.isArray(e.pantallas) ? e.pantallas : [];
  grilla.replaceChildren();
  for (const p of lista) {
    if (!p || typeof p.id !== "string") continue;
    const b = document.createElement("button");
    b.type = "button";
    b.className = "tarjeta" + (p.id === e.programa ? " alAire" : "");
    b.dataset.id = p.id;
    const img = document.createElement("img");
    img.className = "foto";
    img.alt = "";
    if (typeof p.foto === "string" && p.foto) img.src = "data:image/jpeg;base64," + p.foto;
    b.append(img);
    const nombre = document.createElement("span");
    nombre.className = "nombre";
    nombre.textContent = typeof p.nombre === "string" && p.nombre ? p.nombre : "Pantalla";
    b.append(nombre);
    if (p.id === e.programa) {
      const m = document.createElement("span");
      m.className = "marcaAire";
      m.textContent = "AL AIRE";
      b.append(m);
    }
    if (p.respaldo) {
      const m = document.createElement("span");
      m.className = "marcaRespaldo";
      m.textContent = "Sin internet";
      b.append(m);
    }
    b.addEventListener("click", () => {
      mandar({ t: "elegir", id: p.id });
      ultimo.programa = p.id;  // shown at once; the next pulse confirms it
      pintar();
    });
    grilla.append(b);
  }
  if (!lista.length) {
    const vacio = document.createElement("p");
    vacio.className = "saldo";
    vacio.textContent = macConectada ? "Esperando las pantallas de la computadora…" : "";
    grilla.append(vacio);
  }
}

function pintarCamaras(e) {
  const lista = Array.isArray(e.camaras) ? e.camaras : [];
  $("tituloCamaras").hidden = lista.length < 2;
  const cont = $("camaras");
  cont.replaceChildren();
  if (lista.length < 2) return;
  for (const c of lista) {
    if (!c || typeof c.id !== "string") continue;
    const b = document.createElement("button");
    b.type = "button";
    b.className = "camara" + (c.id === e.camara ? " elegida" : "");
    b.textContent = typeof c.nombre === "string" ? c.nombre : c.id;
    b.addEventListener("click", () => mandar({ t: "camara", id: c.id }));
    cont.append(b);
  }
}

$("boton").addEventListener("click", () => {
  mandar({ t: ultimo.vivo ? "detener" : "transmitir" });
});

$("salir").addEventListener("click", async () => {
  const s = sesion;
  guardarSesion(null);
  mostrarEntrada("Cerraste la sesión en este celular.");
  if (s) pedir("/salir", { sala: s.sala, ficha: s.ficha }).catch(() => {});
});

// ---- Start: the links of the QR code ("#c=" + e-mail) and of pairing ("#v=" + room + "." + token) ----

async function empezar() {
  const h = location.hash.slice(1);
  // The pairing token is for one use: it does not stay in the address bar or the history.
  history.replaceState(null, "", location.pathname);
  if (h.startsWith("v=")) {
    const resto = h.slice(2);
    const punto = resto.indexOf(".");
    if (punto > 0) {
      mostrarEntrada("Entrando con el enlace de tu computadora…");
      try {
        const r = await pedir("/vinculo", { sala: decodeURIComponent(resto.slice(0, punto)), ficha: resto.slice(punto + 1) });
        entrar(r, r.correo || "");
        return;
      } catch (e) {
        if (!sesion) return mostrarEntrada(e.message, true);
      }
    }
  }
  if (h.startsWith("c=")) {
    try { $("correo").value = decodeURIComponent(h.slice(2)); } catch (e) { $("correo").value = h.slice(2); }
  }
  if (sesion) mostrarControl();
  else mostrarEntrada("");
}

// A link opened while the page is already open only changes the fragment.
window.addEventListener("hashchange", () => {
  if (location.hash.length > 1) empezar();
});
empezar();
