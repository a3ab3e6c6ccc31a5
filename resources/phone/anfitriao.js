// The host's page: the password, what plays, the buttons and adjustments,
// and the queue.  Every text from the program is put in with textContent,
// never as markup.
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  let token = "";
  try { token = sessionStorage.getItem("vozaro.anfitriao") || ""; } catch (e) { /* private mode */ }
  let estado = null;
  let ocupado = false;  // a command is under way: the refresh waits

  function aviso(texto) { $("aviso").textContent = texto; }

  function item(tag, classe, texto) {
    const e = document.createElement(tag);
    if (classe) e.className = classe;
    e.textContent = texto;
    return e;
  }

  function minutos(s) {
    s = Math.max(0, Math.floor(s));
    return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0");
  }

  function sair(texto) {
    token = "";
    try { sessionStorage.removeItem("vozaro.anfitriao"); } catch (e) { /* private mode */ }
    $("painel").hidden = true;
    $("entrada").hidden = false;
    aviso(texto);
  }

  async function pedir(metodo, caminho, corpo) {
    const opcoes = { method: metodo, headers: { "Authorization": "Bearer " + token } };
    if (corpo !== undefined) {
      opcoes.headers["Content-Type"] = "application/json";
      opcoes.body = JSON.stringify(corpo);
    }
    const r = await fetch("/api/anfitriao/" + caminho, opcoes);
    let dados = null;
    try { dados = await r.json(); } catch (e) { /* no body */ }
    if (r.status === 401) { sair((dados && dados.erro) || "Entre com a senha do anfitrião."); return null; }
    if (!r.ok) { aviso((dados && dados.erro) || "O Vozaro não aceitou o pedido."); return null; }
    aviso("");
    return dados;
  }

  function mostrarFila(fila) {
    const lista = $("fila");
    lista.replaceChildren();
    fila.forEach((p, i) => {
      const li = document.createElement("li");
      li.dataset.id = String(p.id);
      const texto = item("div", "texto", "");
      texto.appendChild(item("span", "numero", String(p.numero).padStart(5, "0")));
      texto.appendChild(document.createTextNode(" " + (p.cantor ? p.cantor + " - " : "") + p.interprete + " - " + p.musica));
      li.appendChild(texto);
      li.appendChild(item("div", "espera", "Canta daqui a ~" + p.espera + " min"));
      const acoes = item("div", "acoes", "");
      const botao = (classe, rotulo, titulo, acao, desligado) => {
        const b = item("button", classe, rotulo);
        b.type = "button";
        b.title = titulo;
        b.setAttribute("aria-label", titulo);
        b.disabled = desligado;
        b.addEventListener("click", () => mudarFila(acao, p.id));
        acoes.appendChild(b);
      };
      botao("subir", "▲", "Subir", "subir", i === 0);
      botao("descer", "▼", "Descer", "descer", i === fila.length - 1);
      botao("agora", "Tocar agora", "Tocar agora", "tocar_agora", false);
      botao("remover", "✕", "Remover", "remover", false);
      li.appendChild(acoes);
      lista.appendChild(li);
    });
    if (fila.length === 0) lista.appendChild(item("li", "", "A fila está vazia."));
  }

  function mostrar(dados) {
    estado = dados;
    const t = dados.tocando;
    $("tocando").textContent = t ? String(t.numero).padStart(5, "0") + " " + (t.cantor ? t.cantor + " - " : "") + t.titulo
                                 : "Nada tocando.";
    $("tempo").textContent = t ? minutos(t.decorrido) + " de " + minutos(t.duracao) + " (faltam " +
                                 minutos(t.duracao - t.decorrido) + ")" : "";
    $("tom").textContent = (dados.tom > 0 ? "+" : "") + dados.tom;
    $("velocidade").textContent = dados.velocidade + "%";
    for (const nome of ["volume", "retorno", "eco", "melodia"]) {
      if (document.activeElement !== $(nome)) $(nome).value = dados[nome];
    }
    mostrarFila(dados.fila);
  }

  async function atualizar() {
    if (!token || ocupado) return;
    try {
      const dados = await pedir("GET", "estado");
      if (dados) mostrar(dados);
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    }
  }

  async function comando(acao, valor) {
    ocupado = true;
    try {
      const dados = await pedir("POST", "comando", valor === undefined ? { acao: acao } : { acao: acao, valor: valor });
      if (dados) mostrar(dados);
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    } finally {
      ocupado = false;
    }
  }

  async function mudarFila(acao, id) {
    ocupado = true;
    try {
      const fila = await pedir("POST", "fila", { acao: acao, id: id });
      if (fila) { mostrarFila(fila); }
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    } finally {
      ocupado = false;
    }
    atualizar();
  }

  function entrou() {
    $("entrada").hidden = true;
    $("painel").hidden = false;
    atualizar();
  }

  $("entrada").addEventListener("submit", async (ev) => {
    ev.preventDefault();
    const senha = $("senha").value.trim();
    if (!/^\d{6}$/.test(senha)) { aviso("Digite a senha de 6 números."); return; }
    try {
      const r = await fetch("/api/anfitriao/entrar", {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ senha: senha }),
      });
      const dados = await r.json();
      if (r.status !== 200) {
        $("senha").value = "";
        aviso(dados.erro || "Senha não aceita.");
        return;
      }
      token = dados.token;
      try { sessionStorage.setItem("vozaro.anfitriao", token); } catch (e) { /* private mode */ }
      $("senha").value = "";
      aviso("");
      entrou();
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    }
  });

  $("tocar").addEventListener("click", () => comando("tocar"));
  $("parar").addEventListener("click", () => comando("parar"));
  $("proxima").addEventListener("click", () => comando("proxima"));
  $("tom-menos").addEventListener("click", () => { if (estado) comando("tom", Math.max(-24, estado.tom - 1)); });
  $("tom-mais").addEventListener("click", () => { if (estado) comando("tom", Math.min(24, estado.tom + 1)); });
  // The speed slider's steps: 1 % up to 100 %, 2 % above.
  $("velocidade-menos").addEventListener("click", () => {
    if (estado) comando("velocidade", Math.max(50, estado.velocidade - (estado.velocidade > 100 ? 2 : 1)));
  });
  $("velocidade-mais").addEventListener("click", () => {
    if (estado) comando("velocidade", Math.min(200, estado.velocidade + (estado.velocidade >= 100 ? 2 : 1)));
  });
  for (const nome of ["volume", "retorno", "eco", "melodia"]) {
    $(nome).addEventListener("change", () => comando(nome, Number($(nome).value)));
  }
  $("pedido").addEventListener("submit", async (ev) => {
    ev.preventDefault();
    const numero = Number($("numero").value.trim());
    if (!Number.isInteger(numero) || numero < 1 || numero > 99999) { aviso("Digite o número da música."); return; }
    ocupado = true;
    try {
      const fila = await pedir("POST", "fila", { acao: "pedir", numero: numero, cantor: $("cantor").value.trim() });
      if (fila) {
        mostrarFila(fila);
        $("numero").value = "";
        $("cantor").value = "";
      }
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    } finally {
      ocupado = false;
    }
  });

  if (token) entrou();
  setInterval(atualizar, 2000);
})();
