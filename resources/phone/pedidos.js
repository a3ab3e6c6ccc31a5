// The guests' page: search, request, queue.  Every text from the program is
// put in with textContent, never as markup.  This phone's own requests are
// marked in the queue with their wait, and can be taken back while they wait.
"use strict";
(function () {
  const $ = (id) => document.getElementById(id);
  const params = new URLSearchParams(location.search);
  let codigo = params.get("c") || "";
  let pagina = 1;
  let total = 0;

  if (!/^\d{6}$/.test(codigo)) {
    codigo = "";
    $("acesso").hidden = false;
  }
  const cantor = $("cantor");
  try { cantor.value = localStorage.getItem("vozaro.cantor") || ""; } catch (e) { /* private mode */ }
  cantor.addEventListener("change", () => {
    try { localStorage.setItem("vozaro.cantor", cantor.value.trim()); } catch (e) { /* private mode */ }
  });

  function aviso(texto) { $("aviso").textContent = texto; }

  function item(tag, classe, texto) {
    const e = document.createElement(tag);
    if (classe) e.className = classe;
    e.textContent = texto;
    return e;
  }

  async function buscar() {
    const q = $("q").value;
    try {
      const r = await fetch("/api/musicas?q=" + encodeURIComponent(q) + "&pagina=" + pagina);
      const dados = await r.json();
      if (!r.ok) { aviso(dados.erro || "Erro na busca."); return; }
      total = dados.total;
      const lista = $("resultados");
      lista.replaceChildren();
      for (const m of dados.musicas) {
        const li = document.createElement("li");
        li.appendChild(item("span", "numero", String(m.numero).padStart(5, "0")));
        li.appendChild(item("span", "musica", m.interprete + " - " + m.musica));
        const b = item("button", "pedir", "Pedir");
        b.type = "button";
        b.addEventListener("click", () => pedir(m.numero));
        li.appendChild(b);
        lista.appendChild(li);
      }
      aviso(total === 0 ? "Nenhuma música encontrada." : "");
      $("anterior").hidden = pagina <= 1;
      $("seguinte").hidden = pagina * 50 >= total;
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    }
  }

  async function pedir(numero) {
    if (!codigo) {
      const digitado = $("codigo").value.trim();
      if (!/^\d{6}$/.test(digitado)) { aviso("Digite o código de 6 números mostrado na tela."); return; }
      codigo = digitado;
    }
    try {
      const r = await fetch("/api/pedidos", {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ numero: numero, cantor: cantor.value.trim(), codigo: codigo }),
      });
      const dados = await r.json();
      if (r.status === 201) {
        aviso("Pedido enviado! Você é o " + dados.posicao + "º da fila.");
        atualizarFila();
      } else {
        if (r.status === 403 && $("acesso").hidden === false) codigo = "";
        aviso(dados.erro || "O pedido não foi aceito.");
      }
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    }
  }

  async function atualizarFila() {
    try {
      const r = await fetch("/api/fila");
      if (!r.ok) return;
      const fila = await r.json();
      const lista = $("fila");
      lista.replaceChildren();
      for (const p of fila) {
        const quem = p.cantor ? p.cantor + " - " : "";
        const li = item("li", p.seu ? "seu" : "", p.posicao + ". " + quem + p.musica);
        if (p.seu) {
          li.appendChild(item("span", "espera", p.espera > 0
            ? "Você canta daqui a ~" + p.espera + " min" : "Você canta a seguir"));
          const b = item("button", "cancelar", "Cancelar");
          b.type = "button";
          b.addEventListener("click", () => cancelar(p.id));
          li.appendChild(b);
        }
        lista.appendChild(li);
      }
      if (fila.length === 0) lista.appendChild(item("li", "", "A fila está vazia."));
    } catch (e) { /* tried again shortly */ }
  }

  async function cancelar(id) {
    try {
      const r = await fetch("/api/cancelar", {
        method: "POST",
        headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ id: id }),
      });
      const dados = await r.json();
      aviso(r.ok ? "Pedido cancelado." : (dados.erro || "O pedido não foi cancelado."));
      atualizarFila();
    } catch (e) {
      aviso("Sem conexão com o Vozaro.");
    }
  }

  $("busca").addEventListener("submit", (ev) => { ev.preventDefault(); pagina = 1; buscar(); });
  $("anterior").addEventListener("click", () => { pagina--; buscar(); });
  $("seguinte").addEventListener("click", () => { pagina++; buscar(); });
  buscar();
  atualizarFila();
  setInterval(atualizarFila, 5000);
})();
